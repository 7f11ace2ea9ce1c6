#pragma once
// The values that travel along wires. A receiver wraps a local of its own in one of these and
// hands it to JLinkObj::access; the sender's access fills it in.
#include "base/JBlock.h"
#include "base/JString.h"
#include "gfxkit/JColor.h"

// The type code is a plain field: every value read on a wire asks for it.
class JDataType {
public:
  int type() const { return type_; }

protected:
  explicit JDataType(int type) : type_(type) {}
  ~JDataType() = default;

private:
  int type_;
};

class JIntegerData : public JDataType {
public:
  static constexpr int id = 1;
  explicit JIntegerData(int& v) : JDataType(id), v_(v) {}
  operator int&() const { return v_; }
  int& value() const { return v_; }
  const JIntegerData& operator=(int v) const {
    v_ = v;
    return *this;
  }

private:
  int& v_;
};

class JStringData : public JDataType {
public:
  static constexpr int id = 2;
  static const JColor color;  // the colour in which the host shows text data
  explicit JStringData(JString& s) : JDataType(id), s_(s) {}
  operator JString&() const { return s_; }
  JString& value() const { return s_; }
  const JStringData& operator=(const JString& s) const {
    s_ = s;
    return *this;
  }

private:
  JString& s_;
};

// Byte blocks. JBlockData is the same wire type as JBytesData: either wraps a JBlock.
class JBytesData : public JDataType {
public:
  static constexpr int id = 3;
  explicit JBytesData(JBlock& b) : JDataType(id), b_(b) {}
  operator JBlock&() const { return b_; }
  JBlock& value() const { return b_; }
  const JBytesData& operator=(const JBlock& b) const {
    b_ = b;
    return *this;
  }

private:
  JBlock& b_;
};

class JBlockData : public JBytesData {
public:
  static constexpr int id = JBytesData::id;
  explicit JBlockData(JBlock& b) : JBytesData(b) {}
};

// An input type that takes a wire of any type (the host's own monitors); the receiver asks the
// link's sender which type it sends.
constexpr int kAnyDataType = 0;

// The name of a wire type, for messages and listings ("integer", "text", "bytes").
const char* dataTypeName(int typeId);
