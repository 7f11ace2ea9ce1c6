#pragma once
// Recorded values for the Player: one CSV line per value, TIME_MS,OUTPUT,VALUE, where VALUE is a
// decimal integer, a JSON string literal (texts) or 0x with hex pairs (bytes), as the output's
// type asks. Blank lines and lines starting with '#' are skipped.
#include <string>
#include <vector>

#include "loom/JWire.h"

struct PlayerEvent {
  long long timeMs;
  int output;
  JWireValue value;
};

// Output types, one letter each: i integer, s text, b bytes. False for any other letter.
bool parseOutputTypes(const std::string& letters, std::vector<int>& types, std::string& error);

// Parses a whole file's text. On failure, error reads "line N: what".
bool parsePlayerText(const std::string& text, const std::vector<int>& types, std::vector<PlayerEvent>& events,
                     std::string& error);

constexpr size_t kMaxPlayerLine = 1 << 20;
constexpr size_t kMaxPlayerFile = size_t{256} << 20;
constexpr int kMaxPlayerOutputs = 16;
