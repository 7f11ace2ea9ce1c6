#pragma once
#include <string>
#include "base/JObject.h"

// Host text value: a byte string (UTF-8 where it matters), copied by value.
class JString : public JObject {
public:
  JString() = default;
  JString(const char* s) : s_(s ? s : "") {}
  JString(const char* s, int len) : s_(s ? std::string(s, len > 0 ? len : 0) : std::string()) {}
  JString(const std::string& s) : s_(s) {}
  JString(std::string&& s) : s_(std::move(s)) {}

  int length() const { return static_cast<int>(s_.size()); }
  bool isEmpty() const { return s_.empty(); }
  const char* c_str() const { return s_.c_str(); }
  const std::string& str() const { return s_; }
  char charAt(int i) const { return (i >= 0 && i < length()) ? s_[i] : '\0'; }
  char operator[](int i) const { return charAt(i); }

  int indexOf(char c, int from = 0) const;
  int indexOf(const JString& t, int from = 0) const;
  JString substring(int begin, int end) const;  // clamped to the text
  JString substring(int begin) const { return substring(begin, length()); }
  JString toLowerCase() const;
  JString toUpperCase() const;
  JString trim() const;

  JString& operator+=(const JString& o) {
    s_ += o.s_;
    return *this;
  }
  JString& operator+=(const char* o) {
    s_ += (o ? o : "");
    return *this;
  }
  JString& operator+=(char c) {
    s_ += c;
    return *this;
  }
  friend JString operator+(const JString& a, const JString& b) { return JString(a.s_ + b.s_); }
  friend JString operator+(const JString& a, const char* b) { return JString(a.s_ + (b ? b : "")); }
  friend JString operator+(const char* a, const JString& b) { return JString((a ? a : "") + b.s_); }
  bool operator==(const JString& o) const { return s_ == o.s_; }
  bool operator!=(const JString& o) const { return s_ != o.s_; }
  bool operator<(const JString& o) const { return s_ < o.s_; }

  const char* className() const override { return "JString"; }
  JObject* clone() const override { return new JString(*this); }
  JNode toNode() const override { return JNode::text(s_); }
  bool fromNode(const JNode& n) override;

private:
  std::string s_;
};

// Input quoted in a message, made safe for a terminal: control characters (C0, DEL and the C1
// range), and every byte of an invalid UTF-8 sequence, become \xNN (lowercase hex). Valid UTF-8
// and everything printable stay as they are, so escaping twice changes nothing.
std::string escapeForMessage(const std::string& text);

class JInteger {
public:
  static JString toJString(long long v);
  // Decimal text to integer; false (and v untouched) unless the whole text is a number in range.
  static bool parse(const JString& text, int& v);
};

class JCharacter {
public:
  static bool isAlpha(int c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
  static bool isDigit(int c) { return c >= '0' && c <= '9'; }
};
