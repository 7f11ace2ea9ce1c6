#pragma once
// The event lines of a run, made in one place: scripts and tests read them, so their form is
// fixed.
//   T ID.OUTPUT VALUE   a broadcast, with --trace
//   M ID.INPUT VALUE    a value that reached a Monitor input
// VALUE is decimal, a JSON string literal for texts, or 0x and lowercase hex pairs for bytes.
#include <string>

#include "loom/JWireValue.h"

class OutputLines {
public:
  static std::string trace(const std::string& id, int output, const JWireValue& value);
  static std::string monitor(const std::string& id, int input, const JWireValue& value);

private:
  static std::string line(char kind, const std::string& id, int port, const JWireValue& value);
};
