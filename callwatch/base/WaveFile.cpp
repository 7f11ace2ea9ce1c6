#include "base/WaveFile.h"

#include <cstdio>
#include <cstring>

namespace {

uint32_t Le32(const unsigned char* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t Le16(const unsigned char* p) { return uint16_t(p[0] | p[1] << 8); }

}  // namespace

bool ParseWave(const std::vector<unsigned char>& bytes, std::vector<int16_t>* samples,
               std::string* error) {
  samples->clear();
  if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
      std::memcmp(bytes.data() + 8, "WAVE", 4) != 0) {
    *error = "not a RIFF WAVE file";
    return false;
  }
  bool haveFormat = false;
  size_t at = 12;
  while (bytes.size() - at >= 8) {
    const unsigned char* chunk = bytes.data() + at;
    const uint32_t size = Le32(chunk + 4);
    const size_t body = at + 8;
    const size_t available = bytes.size() - body;
    if (std::memcmp(chunk, "fmt ", 4) == 0) {
      if (size < 16 || size > available) {
        *error = "the format chunk is cut short";
        return false;
      }
      const unsigned char* f = bytes.data() + body;
      if (Le16(f) != 1) {
        *error = "not PCM sound";
        return false;
      }
      if (Le16(f + 2) != 1 || Le32(f + 4) != kWaveRate || Le16(f + 14) != 16) {
        *error = "sound must be 8000 Hz, 16-bit, mono (this is " + std::to_string(Le32(f + 4)) +
                 " Hz, " + std::to_string(Le16(f + 14)) + "-bit, " +
                 std::to_string(Le16(f + 2)) + " channel(s))";
        return false;
      }
      haveFormat = true;
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      if (!haveFormat) {
        *error = "sound data before its format";
        return false;
      }
      // A writer that did not know the length leaves it too large: take what is there.
      const size_t length = size < available ? size : available;
      samples->resize(length / 2);
      for (size_t i = 0; i < samples->size(); ++i)
        (*samples)[i] = static_cast<int16_t>(Le16(bytes.data() + body + 2 * i));
      return true;
    }
    if (size > available) break;
    at = body + size + (size & 1);  // chunks are padded to even lengths
  }
  *error = haveFormat ? "no sound data" : "no format chunk";
  return false;
}

bool ReadWaveFile(const std::string& path, std::vector<int16_t>* samples, std::string* error) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    *error = "cannot open " + path;
    return false;
  }
  std::vector<unsigned char> bytes;
  unsigned char block[65536];
  size_t n;
  while ((n = std::fread(block, 1, sizeof block, f)) > 0) {
    if (bytes.size() + n > kMostWaveBytes) {
      std::fclose(f);
      *error = path + " is too large";
      return false;
    }
    bytes.insert(bytes.end(), block, block + n);
  }
  std::fclose(f);
  if (!ParseWave(bytes, samples, error)) {
    *error = path + ": " + *error;
    return false;
  }
  return true;
}
