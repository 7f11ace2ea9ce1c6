#include "loom/JWire.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

JString readText(JLinkObj& link) {
  JString s;
  link.access(JStringData(s));
  return s;
}

JBlock readBytes(JLinkObj& link) {
  JBlock b;
  link.access(JBytesData(b));
  return b;
}

namespace {
int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void appendUtf8(std::string& out, unsigned cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

bool readHex4(const std::string& s, size_t at, unsigned& v) {
  if (at + 4 > s.size()) return false;
  v = 0;
  for (size_t i = at; i < at + 4; ++i) {
    int d = hexDigit(s[i]);
    if (d < 0) return false;
    v = v * 16 + static_cast<unsigned>(d);
  }
  return true;
}

}  // namespace

bool parseDecimal(const std::string& s, long long lo, long long hi, long long& v) {
  if (s.empty() || s.size() > 20) return false;
  errno = 0;
  char* end = nullptr;
  long long r = std::strtoll(s.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || r < lo || r > hi) return false;
  for (char c : s)
    if (!(c == '-' || (c >= '0' && c <= '9'))) return false;  // no spaces, no '+'
  v = r;
  return true;
}

bool parseJsonString(const std::string& s, std::string& out) {
  out.clear();
  if (s.size() < 2 || s.front() != '"' || s.back() != '"') return false;
  size_t end = s.size() - 1;
  for (size_t i = 1; i < end; ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == '"' || c < 0x20) return false;
    if (c != '\\') {
      out += static_cast<char>(c);
      continue;
    }
    if (++i >= end) return false;
    switch (s[i]) {
      case '"': out += '"'; break;
      case '\\': out += '\\'; break;
      case '/': out += '/'; break;
      case 'b': out += '\b'; break;
      case 'f': out += '\f'; break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      case 'u': {
        unsigned cp;
        if (!readHex4(s, i + 1, cp) || i + 4 >= end + 0) return false;
        i += 4;
        if (cp >= 0xD800 && cp < 0xDC00) {  // a surrogate pair
          unsigned lo;
          if (i + 6 >= end + 0 || s[i + 1] != '\\' || s[i + 2] != 'u' || !readHex4(s, i + 3, lo) || lo < 0xDC00 ||
              lo >= 0xE000)
            return false;
          i += 6;
          cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
        } else if (cp >= 0xDC00 && cp < 0xE000) {
          return false;
        }
        appendUtf8(out, cp);
        break;
      }
      default: return false;
    }
  }
  return true;
}

bool parseWireValue(const std::string& text, int type, JWireValue& value, std::string& error) {
  switch (type) {
    case JStringData::id: {
      std::string s;
      if (!parseJsonString(text, s)) {
        error = "a text value is written as a JSON string literal";
        return false;
      }
      value = JWireValue::ofText(JString(s));
      return true;
    }
    case JBytesData::id: {
      if (text.size() < 2 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X') || text.size() % 2 != 0) {
        error = "a bytes value is written as 0x and hex pairs";
        return false;
      }
      JBlock b;
      for (size_t i = 2; i < text.size(); i += 2) {
        int hi = hexDigit(text[i]), lo = hexDigit(text[i + 1]);
        if (hi < 0 || lo < 0) {
          error = "a bytes value is written as 0x and hex pairs";
          return false;
        }
        b.append(static_cast<uint8_t>(hi * 16 + lo));
      }
      value = JWireValue::ofBytes(b);
      return true;
    }
    default: {
      long long v;
      if (!parseDecimal(text, INT_MIN, INT_MAX, v)) {
        error = "an integer value is written in decimal";
        return false;
      }
      value = JWireValue::ofInteger(static_cast<int>(v));
      return true;
    }
  }
}
