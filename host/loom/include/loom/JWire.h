#pragma once
// The receiver's side of a wire, and wire values written as text (a decimal integer, a JSON
// string literal for texts, 0x and hex pairs for bytes: the command line, Player files, traces).
#include <string>

#include "loom/JModuleObj.h"
#include "loom/JWireValue.h"

// The value upstream of link now, read as a receiver reads it in engine.
inline int readInteger(JLinkObj& link) {
  int v = 0;
  link.access(JIntegerData(v));
  return v;
}
JString readText(JLinkObj& link);
JBlock readBytes(JLinkObj& link);

// One value of a wire type as written in text; false with the reason in error.
bool parseWireValue(const std::string& text, int type, JWireValue& value, std::string& error);
// A JSON string literal to its text (escapes and \uXXXX to UTF-8).
bool parseJsonString(const std::string& literal, std::string& out);
// A plain decimal integer (a sign, digits, nothing else) within lo..hi.
bool parseDecimal(const std::string& text, long long lo, long long hi, long long& value);
