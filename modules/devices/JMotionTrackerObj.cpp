#include "JMotionTrackerObj.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

namespace {
const JPortTable kInputs{{kSideLeft, 0.1, 0.8, portsOf(JMotionTrackerObj::kInputTags, 0, 1, {JBytesData::id})},
                         {kSideTop, 0.25, 0.5, portsOf(JMotionTrackerObj::kInputTags, 1, 2)}};
const JPortTable kOutputs{{kSideBottom, 0.25, 0.5, portsOf(JMotionTrackerObj::kOutputTags, 0, 1, {JBytesData::id})},
                          {kSideRight, 0.1, 0.8, portsOf(JMotionTrackerObj::kOutputTags, 1, 6)}};

// The profile's name is stored, but reading it loads nothing: a profile is loaded by startup (a
// fixed file) and when the name is edited. The name is opened as it stands, from the current
// folder, not from the diagram's.
const JSettings kSettings{
    JSetting::text("profileName", &JMotionTrackerObj::profileName)
        .onChange<JMotionTrackerObj>([](JMotionTrackerObj& m, int) {
          if (!m.profileName.isEmpty() && !m.loadProfile(m.profileName.c_str()))
            m.sayUnreadable(m.profileName.c_str(), errno);
        }),
};

// Full scale over 32768, as single-precision constants: 36 inches for x, y, z and 180 degrees
// for the angles (9/8192 and 45/8192, both exact in a float).
constexpr float kPositionScale = 0.0010986328125f;
constexpr float kAngleScale = 0.0054931640625f;
}  // namespace

JMotionTrackerObj::JMotionTrackerObj() {
  setPorts(kInputs, kOutputs);
  setSettings(kSettings);
}

// The fixed profile missing is worth a word only when a wire will ask for commands and none were
// loaded (a diagram that only reads records needs none).
void JMotionTrackerObj::startup() {
  if (loadProfile(kStartupProfile)) return;
  const int error = errno;
  const bool asked = !inputSet(kContinuous).isEmpty() || !inputSet(kTimerSampled).isEmpty();
  if (asked && !continuousOnCommand && !continuousOffCommand && !sampleCommand) sayUnreadable(kStartupProfile, error);
}

void JMotionTrackerObj::sayUnreadable(const char* path, int error) {
  std::error_code ec;
  const std::filesystem::path full = std::filesystem::absolute(path, ec);
  JComponent::debugf("cannot read profile %s: %s", (ec ? std::string(path) : full.string()).c_str(),
                     std::strerror(error));
}

// --- the profile ---

// A profile saved with CR LF ends gives the same commands as one saved with LF ends; a line that
// the reader cut at 99 characters keeps all of them.
std::string JMotionTrackerObj::commandOfLine(const char* line, int length) {
  if (length > 0 && line[length - 1] == '\n') --length;
  if (length > 0 && line[length - 1] == '\r') --length;
  return std::string(line, static_cast<size_t>(length));
}

// A file that opens but cannot be read (a folder, a read error) changes nothing either.
bool JMotionTrackerObj::loadProfile(const char* path) {
  FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  std::optional<std::string> lines[3];
  for (auto& l : lines) {
    char line[kProfileLineSize];
    if (std::fgets(line, sizeof line, f)) l = commandOfLine(line, static_cast<int>(std::strlen(line)));
    // else the profile has fewer lines: nothing is sent for this one
  }
  const bool failed = std::ferror(f) != 0;
  const int error = errno;
  std::fclose(f);
  if (failed) {
    errno = error;
    return false;
  }
  continuousOnCommand = lines[0];
  continuousOffCommand = lines[1];
  sampleCommand = lines[2];
  return true;
}

// --- value flow ---

void JMotionTrackerObj::sendCommand(const std::optional<std::string>& text) {
  if (!text) return;
  command.clear();
  command.append(text->data(), static_cast<int>(text->size()));
  broadcast(kCommand);
}

void JMotionTrackerObj::access(int n, JLinkObj&, const JDataType& data) {
  if (n == kCommand) {
    if (data.type() == JBytesData::id) static_cast<const JBytesData&>(data) = command;
  } else if (n >= kX && n <= kRoll) {
    if (data.type() == JIntegerData::id) static_cast<const JIntegerData&>(data) = values[n - kX];
  }
}

void JMotionTrackerObj::engine(int n, JLinkObj& link) {
  switch (n) {
    case kData: {
      link.access(JBytesData(incoming_));
      {
        JCriticalSection::Lock guard(receiveLock);
        receiveBlock.append(incoming_);
      }
      // Bytes delivered from within this module's own broadcasts (a wire that loops back) wait
      // in receiveBlock for the loop below, after the bytes before them.
      if (parsing_) break;
      parsing_ = true;
      // Every byte is parsed, in windows of at most 199 bytes through `response` (the
      // description's parser took only the first window of a delivery and dropped the rest).
      for (int done = 0; done < receiveBlock.size();) {
        const int window = std::min(receiveBlock.size() - done, kResponseSize - 1);
        std::memcpy(response, receiveBlock.data() + done, static_cast<size_t>(window));
        response[window] = '\0';
        done += window;
        parse(reinterpret_cast<const uint8_t*>(response), window);
      }
      receiveBlock.resize(0);
      parsing_ = false;
      break;
    }
    case kContinuous:
      continuous = readInteger(link);
      sendCommand(continuous != 0 ? continuousOnCommand : continuousOffCommand);
      break;
    case kTimerSampled:
      timerSampled = readInteger(link);
      if (timerSampled != 0 && continuous == 0) sendCommand(sampleCommand);
      break;
    default: break;
  }
}

// --- records ---

void JMotionTrackerObj::parse(const uint8_t* bytes, int size) {
  for (int i = 0; i < size; ++i) {
    const uint8_t b = bytes[i];
    if (b & 0x80) byteIndex = 0;
    if (byteIndex >= kPastRecord) continue;  // outside a record: wait for its first byte
    if ((byteIndex & 1) == 0) {
      lowByte = b;
    } else {
      highByte = b;
      decodeWord((byteIndex - 1) / 2);
    }
    ++byteIndex;
  }
}

// Low byte: 7 data bits under the phasing bit; high byte: 7 more. The 14 bits stand at the top of
// a signed 16-bit word.
int JMotionTrackerObj::rawOf(uint8_t low, uint8_t high) {
  const int shiftedLow = (low << 1) & 0xFF;
  return static_cast<int16_t>(static_cast<uint16_t>(((high * 256 + shiftedLow) << 1) & 0xFFFF));
}

int JMotionTrackerObj::scaled(int raw, int word) {
  const float scale = word < 3 ? kPositionScale : kAngleScale;
  const float v = static_cast<float>(raw) * scale * 100.0f;
  return static_cast<int16_t>(static_cast<uint16_t>(static_cast<int>(v) & 0xFFFF));
}

void JMotionTrackerObj::decodeWord(int k) {
  const int raw = rawOf(lowByte, highByte);
  lowByte = static_cast<uint8_t>((lowByte << 1) & 0xFF);  // the description keeps the shifted byte
  values[k] = scaled(raw, k);
  broadcast(kX + k);
}

// --- face ---

void JMotionTrackerObj::draw(JGraphics& g, int x, int y, int w, int h) {
  drawText(g, JString("FlockOfBirds"), JRect(x, y, w, h));
}

LOOMWORK_REGISTER(JMotionTrackerObj)
