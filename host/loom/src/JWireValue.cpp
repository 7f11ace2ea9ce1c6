#include "loom/JWireValue.h"

#include <cstdio>

#include "loom/JModuleObj.h"

const JColor JStringData::color(0, 160, 80);

const char* dataTypeName(int typeId) {
  switch (typeId) {
    case JIntegerData::id: return "integer";
    case JStringData::id: return "text";
    case JBytesData::id: return "bytes";
    case kAnyDataType: return "any";
    default: return "unknown";
  }
}

JWireValue JWireValue::capture(JModuleObj& m, int n) {
  JLinkObj probe(&m, n, nullptr, 0);
  switch (m.outputType(n)) {
    case JStringData::id: {
      JString s;
      m.access(n, probe, JStringData(s));
      return ofText(s);
    }
    case JBytesData::id: {
      JBlock b;
      m.access(n, probe, JBytesData(b));
      return ofBytes(b);
    }
    default: {
      int v = 0;
      m.access(n, probe, JIntegerData(v));
      return ofInteger(v);
    }
  }
}

void JWireValue::fill(const JDataType& data) const {
  if (data.type() != type_) return;
  switch (type_) {
    case JIntegerData::id: static_cast<const JIntegerData&>(data) = i_; break;
    case JStringData::id: static_cast<const JStringData&>(data) = s_; break;
    case JBytesData::id: static_cast<const JBytesData&>(data) = b_; break;
    default: break;
  }
}

std::string jsonQuote(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
  return out;
}

std::string JWireValue::format() const {
  switch (type_) {
    case JStringData::id: return jsonQuote(s_.str());
    case JBytesData::id: {
      static const char hex[] = "0123456789abcdef";
      std::string out = "0x";
      out.reserve(2 + 2 * static_cast<size_t>(b_.size()));
      for (int i = 0; i < b_.size(); ++i) {
        out += hex[b_[i] >> 4];
        out += hex[b_[i] & 15];
      }
      return out;
    }
    default: return std::to_string(i_);
  }
}

bool JWireValue::operator==(const JWireValue& o) const {
  if (type_ != o.type_) return false;
  switch (type_) {
    case JStringData::id: return s_ == o.s_;
    case JBytesData::id: return b_ == o.b_;
    default: return i_ == o.i_;
  }
}
