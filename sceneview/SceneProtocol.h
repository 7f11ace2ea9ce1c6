#pragma once
// What sceneview understands of the plot feed's stream, kept apart from the sockets so that it
// can be tested and fuzzed: frames, their payloads, the scene state they change, and the object
// names of a VRML-style scene file.
//
// A frame: 2 bytes L (little-endian, the bytes after this field), 1 byte sequence (1..128), a 0,
// then L - 2 bytes of payload whose first 32-bit little-endian integer says what it is.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace sceneview {

constexpr size_t kMaxPayload = 65533;      // what a 16-bit length can frame
constexpr size_t kMinPayload = 4;          // the payload's kind
constexpr size_t kMaxSceneFile = 4 << 20;  // bytes of a scene file read for its names
constexpr size_t kMaxNames = 1000;
constexpr size_t kMaxNameLength = 103;
constexpr size_t kMaxTrail = 256;  // past locations kept per object for the top view

struct Frame {
  int sequence = 0;
  std::vector<uint8_t> payload;
};

// Cuts a byte stream into frames. A frame that cannot be one (a length below the smallest
// payload, a nonzero fourth byte) makes the stream unusable: there is no way to find the next
// frame, so the reader reports it and takes nothing more.
class FrameReader {
public:
  // Appends bytes; complete frames go to out. False (with the reason in error) when the stream
  // is broken; the frames before the break are still in out.
  bool feed(const uint8_t* data, size_t size, std::vector<Frame>& out, std::string& error);
  size_t buffered() const { return buf_.size() - pos_; }  // bytes of an incomplete frame
  bool broken() const { return broken_; }

private:
  std::vector<uint8_t> buf_;
  size_t pos_ = 0;
  bool broken_ = false;
};

// One object of the scene and what the messages set on it.
struct SceneObject {
  std::string name;
  int location[3] = {0, 0, 0};
  int orientation[3] = {0, 0, 0};
  int emissive[3] = {0, 0, 0};
  int diffuse[3] = {80, 80, 80};
  int scale[3] = {100, 100, 100};
  int transparency = 0;
  int signal[3] = {0, 0, 0};
  int markers = 0;
  bool shown = false;  // named by the scene file, or changed by a message
  // Where location messages put it, oldest first, the last being where it is: x and z (the top
  // view's plane).
  std::vector<std::pair<int, int>> trail;
};

// The scene: its objects (named by the loaded file), the calibration of the samples, and the
// last sample. apply() turns one payload into change lines "OBJECT PROPERTY VALUES...".
class Scene {
public:
  Scene();
  void setNames(const std::vector<std::string>& names);
  const std::vector<SceneObject>& objects() const { return objects_; }
  // False (with the reason in error) for a payload that is not one of the known kinds or has the
  // wrong length; `sceneFile` gets the file named by a scene-file payload.
  bool apply(const std::vector<uint8_t>& payload, std::vector<std::string>& changes, std::string& sceneFile,
             std::string& error);
  // The last sample of x, y and z, each scaled from its calibrated range to 0..1000 (0 without a
  // range).
  const int* samplePosition() const { return sample_; }
  bool hasSample() const { return hasSample_; }

private:
  std::vector<SceneObject> objects_;
  int ranges_[8][2] = {};
  bool calibrated_ = false;
  int sample_[3] = {0, 0, 0};
  bool hasSample_ = false;
};

// The text with every control byte (below 0x20, and 0x7f) written as \xNN, for lines that quote
// what a client sent.
std::string printable(const std::string& text);

// The names after each "DEF" of a VRML-style text, in order, without repeats; names are cut to
// kMaxNameLength and at most kMaxNames are taken.
std::vector<std::string> defNames(const std::string& text);
// "a,b,c".
std::string joinNames(const std::vector<std::string>& names);

}  // namespace sceneview
