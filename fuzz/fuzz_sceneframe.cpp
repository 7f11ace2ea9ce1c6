// sceneview's frame reader and scene: the bytes arrive in two pieces cut where the first byte
// says; every whole frame is applied to a scene, as the viewer does; scene-file texts are
// scanned for DEF names.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "SceneProtocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t cut = data[0] % size;
  sceneview::FrameReader reader;
  sceneview::Scene scene;
  std::vector<sceneview::Frame> frames;
  std::string error;
  if (reader.feed(data + 1, cut, frames, error)) reader.feed(data + 1 + cut, size - 1 - cut, frames, error);
  for (const sceneview::Frame& f : frames) {
    if (f.payload.size() < sceneview::kMinPayload) std::abort();
    std::vector<std::string> changes;
    std::string file;
    scene.apply(f.payload, changes, file, error);
  }
  for (const std::string& n : sceneview::defNames(std::string(reinterpret_cast<const char*>(data), size)))
    if (n.empty() || n.size() > sceneview::kMaxNameLength) std::abort();
  return 0;
}
