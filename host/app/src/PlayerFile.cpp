#include "PlayerFile.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

bool parseOutputTypes(const std::string& letters, std::vector<int>& types, std::string& error) {
  types.clear();
  if (letters.empty()) {
    error = "no outputs: write one letter (i, s or b) per output";
    return false;
  }
  if (letters.size() > static_cast<size_t>(kMaxPlayerOutputs)) {
    error = "at most " + std::to_string(kMaxPlayerOutputs) + " outputs";
    return false;
  }
  for (char c : letters) {
    switch (c) {
      case 'i': types.push_back(JIntegerData::id); break;
      case 's': types.push_back(JStringData::id); break;
      case 'b': types.push_back(JBytesData::id); break;
      default:
        error = std::string("output type '") + c + "' is not one of i, s, b";
        return false;
    }
  }
  return true;
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

bool parseLong(const std::string& s, long long lo, long long hi, long long& v) {
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
}  // namespace

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
      if (!parseLong(text, INT_MIN, INT_MAX, v)) {
        error = "an integer value is written in decimal";
        return false;
      }
      value = JWireValue::ofInteger(static_cast<int>(v));
      return true;
    }
  }
}

bool parsePlayerText(const std::string& text, const std::vector<int>& types, std::vector<PlayerEvent>& events,
                     std::string& error) {
  events.clear();
  size_t pos = 0;
  long long lineNo = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    size_t end = nl == std::string::npos ? text.size() : nl;
    ++lineNo;
    auto fail = [&](const std::string& what) {
      error = "line " + std::to_string(lineNo) + ": " + what;
      events.clear();
      return false;
    };
    if (end - pos > kMaxPlayerLine) return fail("line longer than " + std::to_string(kMaxPlayerLine) + " bytes");
    std::string line = text.substr(pos, end - pos);
    pos = nl == std::string::npos ? text.size() : nl + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;

    size_t c1 = line.find(',');
    size_t c2 = c1 == std::string::npos ? std::string::npos : line.find(',', c1 + 1);
    if (c2 == std::string::npos) return fail("expected TIME_MS,OUTPUT,VALUE");
    long long t, out;
    if (!parseLong(line.substr(0, c1), 0, 1000LL * 3600 * 24 * 365, t)) return fail("bad time \"" + line.substr(0, c1) + "\"");
    if (!parseLong(line.substr(c1 + 1, c2 - c1 - 1), 0, static_cast<long long>(types.size()) - 1, out))
      return fail("bad output \"" + line.substr(c1 + 1, c2 - c1 - 1) + "\" (the player has " +
                  std::to_string(types.size()) + " outputs)");
    JWireValue v;
    std::string why;
    if (!parseWireValue(line.substr(c2 + 1), types[static_cast<size_t>(out)], v, why)) return fail(why);
    events.push_back(PlayerEvent{t, static_cast<int>(out), std::move(v)});
  }
  return true;
}
