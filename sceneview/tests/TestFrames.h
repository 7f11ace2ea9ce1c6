#pragma once
// Frames as the plot feed writes them, for tests that play a feed against sceneview.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace sceneview_test {

using Bytes = std::vector<uint8_t>;

// Little-endian 32-bit integers, one after another.
inline Bytes le(std::initializer_list<int> values) {
  Bytes b;
  for (int v : values)
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i)));
  return b;
}

// Length, sequence, 0, payload.
inline Bytes framed(int seq, const Bytes& payload) {
  const size_t l = payload.size() + 2;
  std::string f;
  f += static_cast<char>(l & 0xff);
  f += static_cast<char>(l >> 8);
  f += static_cast<char>(seq);
  f += '\0';
  f.append(payload.begin(), payload.end());
  return Bytes(f.begin(), f.end());
}

inline std::string str(const Bytes& b) { return std::string(b.begin(), b.end()); }

// A scene-file message naming file, framed.
inline std::string sceneFileFrame(int seq, const std::string& file) {
  Bytes payload = le({5});
  payload.insert(payload.end(), file.begin(), file.end());
  return str(framed(seq, payload));
}

}  // namespace sceneview_test
