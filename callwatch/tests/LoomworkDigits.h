#pragma once
// What loomwork heard of the digits forwarded to it, for the tests that run the real programs.
#include <cstdlib>
#include <string>

// The digits of loomwork's "M digit.0 CODE" lines, in order of arrival.
inline std::string DigitsHeard(const std::string& out) {
  std::string digits;
  const std::string tag = "M digit.0 ";
  for (size_t at = out.find(tag); at != std::string::npos; at = out.find(tag, at + 1))
    digits += static_cast<char>(std::atoi(out.c_str() + at + tag.size()));
  return digits;
}
