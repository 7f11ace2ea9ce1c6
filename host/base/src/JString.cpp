#include "base/JString.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "base/JBlock.h"

int JString::indexOf(char c, int from) const {
  if (from < 0) from = 0;
  if (from >= length()) return -1;
  auto p = s_.find(c, static_cast<size_t>(from));
  return p == std::string::npos ? -1 : static_cast<int>(p);
}

int JString::indexOf(const JString& t, int from) const {
  if (from < 0) from = 0;
  if (from > length()) return -1;
  auto p = s_.find(t.s_, static_cast<size_t>(from));
  return p == std::string::npos ? -1 : static_cast<int>(p);
}

JString JString::substring(int begin, int end) const {
  if (begin < 0) begin = 0;
  if (end > length()) end = length();
  if (begin >= end) return JString();
  return JString(s_.substr(static_cast<size_t>(begin), static_cast<size_t>(end - begin)));
}

JString JString::toLowerCase() const {
  std::string r = s_;
  for (auto& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return JString(std::move(r));
}

JString JString::toUpperCase() const {
  std::string r = s_;
  for (auto& c : r) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return JString(std::move(r));
}

JString JString::trim() const {
  size_t b = 0, e = s_.size();
  while (b < e && static_cast<unsigned char>(s_[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s_[e - 1]) <= ' ') --e;
  return JString(s_.substr(b, e - b));
}

bool JString::fromNode(const JNode& n) {
  if (!n.isText()) return false;
  s_ = n.asText();
  return true;
}

namespace {
// Length of the well-formed UTF-8 sequence at s[i] (1 to 4), or 0 when it is not one: overlong
// forms, surrogates, values past U+10FFFF and cut sequences all count as invalid.
size_t utf8Length(const std::string& s, size_t i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = byte(i);
  if (c < 0x80) return 1;
  size_t n;
  unsigned char lo = 0x80, hi = 0xBF;  // range of the second byte
  if (c >= 0xC2 && c <= 0xDF) n = 2;
  else if (c == 0xE0) n = 3, lo = 0xA0;
  else if (c >= 0xE1 && c <= 0xEC) n = 3;
  else if (c == 0xED) n = 3, hi = 0x9F;
  else if (c >= 0xEE && c <= 0xEF) n = 3;
  else if (c == 0xF0) n = 4, lo = 0x90;
  else if (c >= 0xF1 && c <= 0xF3) n = 4;
  else if (c == 0xF4) n = 4, hi = 0x8F;
  else return 0;
  if (i + n > s.size()) return 0;
  if (byte(i + 1) < lo || byte(i + 1) > hi) return 0;
  for (size_t k = 2; k < n; ++k)
    if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
  return n;
}

void appendHex(std::string& out, unsigned char c) {
  static const char kHex[] = "0123456789abcdef";
  out += "\\x";
  out += kHex[c >> 4];
  out += kHex[c & 15];
}
}  // namespace

std::string escapeForMessage(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    const size_t n = utf8Length(text, i);
    if (n == 0 || c < 0x20 || c == 0x7F) {
      appendHex(out, c);
      ++i;
    } else if (n == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0) {
      // U+0080..U+009F: C1 controls, which some terminals obey as ESC sequences
      appendHex(out, c);
      appendHex(out, static_cast<unsigned char>(text[i + 1]));
      i += 2;
    } else {
      out.append(text, i, n);
      i += n;
    }
  }
  return out;
}

JString JInteger::toJString(long long v) { return JString(std::to_string(v)); }

bool JInteger::parse(const JString& text, int& v) {
  const char* s = text.c_str();
  if (*s == '\0') return false;
  errno = 0;
  char* end = nullptr;
  long long r = std::strtoll(s, &end, 10);
  if (errno != 0 || *end != '\0' || r < INT_MIN || r > INT_MAX) return false;
  v = static_cast<int>(r);
  return true;
}

JBlock::JBlock(const void* data, int size) { append(data, size); }

void JBlock::append(const void* data, int size) {
  if (!data || size <= 0) return;
  const auto* p = static_cast<const uint8_t*>(data);
  b_.insert(b_.end(), p, p + size);
}

JNode JBlock::toNode() const {
  JNode list = JNode::list();
  for (uint8_t v : b_) list.push(JNode::integer(v));
  return list;
}

bool JBlock::fromNode(const JNode& n) {
  if (!n.isList()) return false;
  std::vector<uint8_t> r;
  r.reserve(n.items().size());
  for (const auto& i : n.items()) {
    if (!i.isInteger() || i.asInteger() < 0 || i.asInteger() > 255) return false;
    r.push_back(static_cast<uint8_t>(i.asInteger()));
  }
  b_ = std::move(r);
  return true;
}
