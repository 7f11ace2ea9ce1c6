#pragma once
// Reading the sound files Callwatch deals in: RIFF WAVE, PCM, 8000 Hz, 16-bit, mono.
#include <cstdint>
#include <string>
#include <vector>

constexpr uint32_t kWaveRate = 8000;
constexpr size_t kMostWaveBytes = 64u << 20;  // a sound file larger than this is refused

// The samples of the file; false with a reason (one line, no end) when it cannot be read or is
// not in the format above.
bool ReadWaveFile(const std::string& path, std::vector<int16_t>* samples, std::string* error);
// The same for bytes already in memory.
bool ParseWave(const std::vector<unsigned char>& bytes, std::vector<int16_t>* samples,
               std::string* error);
