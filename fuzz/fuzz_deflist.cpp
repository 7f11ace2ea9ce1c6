// The scene mapper's "DEF list" reader: any text gives ten names, none empty, none with a comma,
// none longer than the store holds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "SceneNames.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const SceneNameList names = parseDefList(text);
  for (const std::string& n : names)
    if (n.empty() || n.size() > kSceneNameMax || n.find(',') != std::string::npos) std::abort();
  return 0;
}
