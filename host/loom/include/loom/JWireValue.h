#pragma once
// One output's value, taken at a moment: what a cross-thread broadcast carries to the host thread
// and what traces and test harnesses record.
#include <string>
#include "loom/JDataType.h"

class JModuleObj;

class JWireValue {
public:
  JWireValue() = default;
  static JWireValue ofInteger(int v) {
    JWireValue w;
    w.type_ = JIntegerData::id;
    w.i_ = v;
    return w;
  }
  static JWireValue ofText(const JString& s) {
    JWireValue w;
    w.type_ = JStringData::id;
    w.s_ = s;
    return w;
  }
  static JWireValue ofBytes(const JBlock& b) {
    JWireValue w;
    w.type_ = JBytesData::id;
    w.b_ = b;
    return w;
  }
  // Reads output n of m through m's access, as a receiver would.
  static JWireValue capture(JModuleObj& m, int n);

  int type() const { return type_; }
  int integer() const { return i_; }
  const JString& text() const { return s_; }
  const JBlock& bytes() const { return b_; }

  // Writes this value into a receiver's data, when the kinds agree.
  void fill(const JDataType& data) const;
  // Decimal, a JSON string literal for texts, 0x and lowercase hex pairs for bytes.
  std::string format() const;
  bool operator==(const JWireValue& o) const;
  bool operator!=(const JWireValue& o) const { return !(*this == o); }

private:
  int type_ = 0;
  int i_ = 0;
  JString s_;
  JBlock b_;
};

// Quotes a text as a JSON string literal.
std::string jsonQuote(const std::string& s);
