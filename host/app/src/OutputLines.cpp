#include "OutputLines.h"

std::string OutputLines::trace(const std::string& id, int output, const JWireValue& value) {
  return line('T', id, output, value);
}

std::string OutputLines::monitor(const std::string& id, int input, const JWireValue& value) {
  return line('M', id, input, value);
}

std::string OutputLines::line(char kind, const std::string& id, int port, const JWireValue& value) {
  std::string out(1, kind);
  out += ' ';
  out += id;
  out += '.';
  out += std::to_string(port);
  out += ' ';
  out += value.format();
  return out;
}
