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
