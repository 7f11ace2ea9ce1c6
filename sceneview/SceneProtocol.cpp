#include "SceneProtocol.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <set>

namespace sceneview {

namespace {
int32_t intAt(const std::vector<uint8_t>& b, size_t i) {
  uint32_t u = 0;
  for (size_t k = 0; k < 4; ++k) u |= static_cast<uint32_t>(b[i + k]) << (8 * k);
  return static_cast<int32_t>(u);
}
std::string three(const int* v) {
  return std::to_string(v[0]) + " " + std::to_string(v[1]) + " " + std::to_string(v[2]);
}
const char* const kTypeNames[8] = {"signal",  "location", "orientation",  "emissive",
                                   "diffuse", "scale",    "transparency", "marker"};
int scaled(int v, const int* range) {
  const long long span = static_cast<long long>(range[1]) - range[0];
  if (span <= 0) return 0;
  long long c = std::min<long long>(std::max<long long>(v, range[0]), range[1]);
  return static_cast<int>((c - range[0]) * 1000 / span);
}
}  // namespace

bool FrameReader::feed(const uint8_t* data, size_t size, std::vector<Frame>& out, std::string& error) {
  if (broken_) {
    error = "stream already broken";
    return false;
  }
  buf_.insert(buf_.end(), data, data + size);
  while (buf_.size() - pos_ >= 4) {
    const uint8_t* p = buf_.data() + pos_;
    const size_t length = static_cast<size_t>(p[0]) | static_cast<size_t>(p[1]) << 8;
    if (length < 2 + kMinPayload) {
      broken_ = true;
      error = "frame length " + std::to_string(length) + " too short";
      return false;
    }
    if (p[3] != 0) {
      broken_ = true;
      error = "frame header byte 3 is " + std::to_string(p[3]) + ", not 0";
      return false;
    }
    if (buf_.size() - pos_ < 2 + length) break;
    Frame f;
    f.sequence = p[2];
    f.payload.assign(p + 4, p + 2 + length);
    out.push_back(std::move(f));
    pos_ += 2 + length;
  }
  // Keep the buffer no larger than one frame.
  if (pos_ > 0 && (pos_ >= buf_.size() || pos_ > 65536)) {
    buf_.erase(buf_.begin(), buf_.begin() + static_cast<long>(pos_));
    pos_ = 0;
  }
  return true;
}

Scene::Scene() { setNames({}); }

void Scene::setNames(const std::vector<std::string>& names) {
  objects_.clear();
  for (size_t i = 0; i < 10; ++i) {
    SceneObject o;
    o.name = i < names.size() ? names[i] : "?" + std::to_string(i + 1);
    o.shown = i < names.size();
    objects_.push_back(o);
  }
}

bool Scene::apply(const std::vector<uint8_t>& payload, std::vector<std::string>& changes, std::string& sceneFile,
                  std::string& error) {
  if (payload.size() < 4) {
    error = "payload of " + std::to_string(payload.size()) + " bytes";
    return false;
  }
  const int kind = intAt(payload, 0);
  const auto wrongLength = [&](size_t expected) {
    error = "kind " + std::to_string(kind) + " payload of " + std::to_string(payload.size()) + " bytes, not " +
            std::to_string(expected);
    return false;
  };
  switch (kind) {
    case 1: {  // calibration: 1, x y z ranges, 5, then flag, min, max per signal
      if (payload.size() != 92) return wrongLength(92);
      int before[8][2];
      std::memcpy(before, ranges_, sizeof ranges_);
      for (int a = 0; a < 3; ++a) {
        ranges_[a][0] = intAt(payload, 4 + 8 * static_cast<size_t>(a));
        ranges_[a][1] = intAt(payload, 8 + 8 * static_cast<size_t>(a));
      }
      for (int k = 0; k < 5; ++k) {
        ranges_[3 + k][0] = intAt(payload, 36 + 12 * static_cast<size_t>(k));
        ranges_[3 + k][1] = intAt(payload, 40 + 12 * static_cast<size_t>(k));
      }
      std::string line = "calibration x " + std::to_string(ranges_[0][0]) + " " + std::to_string(ranges_[0][1]) +
                         " y " + std::to_string(ranges_[1][0]) + " " + std::to_string(ranges_[1][1]) + " z " +
                         std::to_string(ranges_[2][0]) + " " + std::to_string(ranges_[2][1]);
      // The feed sends it again whenever it is asked; the same ranges again are no change.
      if (std::memcmp(before, ranges_, sizeof ranges_) != 0 || !calibrated_) changes.push_back(line);
      calibrated_ = true;
      return true;
    }
    case 2: {  // sample: 2, x y z, 5, five signals
      if (payload.size() != 40) return wrongLength(40);
      int raw[8];
      for (int i = 0; i < 3; ++i) raw[i] = intAt(payload, 4 + 4 * static_cast<size_t>(i));
      for (int i = 0; i < 5; ++i) raw[3 + i] = intAt(payload, 20 + 4 * static_cast<size_t>(i));
      for (int i = 0; i < 3; ++i) sample_[i] = scaled(raw[i], ranges_[i]);
      hasSample_ = true;
      std::string line = "sample position " + three(sample_) + " signals";
      for (int i = 3; i < 8; ++i) line += " " + std::to_string(scaled(raw[i], ranges_[i]));
      changes.push_back(line);
      return true;
    }
    case 4: {  // transform: 4, object, type, three values
      if (payload.size() != 24) return wrongLength(24);
      const int object = intAt(payload, 4), type = intAt(payload, 8);
      if (object < 0 || object >= static_cast<int>(objects_.size()) || type < 0 || type > 7) {
        error = "transform of object " + std::to_string(object) + " type " + std::to_string(type);
        return false;
      }
      const int v[3] = {intAt(payload, 12), intAt(payload, 16), intAt(payload, 20)};
      SceneObject& o = objects_[static_cast<size_t>(object)];
      int* target = type == 0   ? o.signal
                    : type == 1 ? o.location
                    : type == 2 ? o.orientation
                    : type == 3 ? o.emissive
                    : type == 4 ? o.diffuse
                    : type == 5 ? o.scale
                                : nullptr;
      o.shown = true;
      if (type == 1) {
        if (o.trail.size() >= kMaxTrail) o.trail.erase(o.trail.begin());
        o.trail.emplace_back(v[0], v[2]);
      }
      if (target) {
        std::copy(v, v + 3, target);
        changes.push_back(o.name + " " + kTypeNames[type] + " " + three(v));
      } else if (type == 6) {
        o.transparency = v[0];
        changes.push_back(o.name + " transparency " + std::to_string(v[0]));
      } else {
        ++o.markers;
        changes.push_back(o.name + " marker " + std::to_string(o.markers));
      }
      return true;
    }
    case 5: {  // scene file: 5, the file's name (a trailing NUL is allowed)
      size_t end = payload.size();
      while (end > 4 && payload[end - 1] == 0) --end;
      if (end == 4 || end - 4 > 4096) {
        error = "scene file name of " + std::to_string(end - 4) + " bytes";
        return false;
      }
      std::string name(payload.begin() + 4, payload.begin() + static_cast<long>(end));
      if (name.find('\0') != std::string::npos || name.find('\n') != std::string::npos) {
        error = "scene file name with a control character";
        return false;
      }
      sceneFile = name;
      changes.push_back("scene file " + printable(name));
      return true;
    }
    default: error = "unknown payload kind " + std::to_string(kind); return false;
  }
}

std::vector<std::string> defNames(const std::string& text) {
  std::vector<std::string> names;
  std::set<std::string> seen;
  const auto isNameChar = [](unsigned char c) {
    return c > 0x20 && c != 0x7f && c != ',' && c != '{' && c != '}' && c != '[' && c != ']' && c != '"' && c != '#' &&
           c != '\'' && c != '\\';
  };
  const size_t n = std::min(text.size(), kMaxSceneFile);
  size_t i = 0;
  while (i + 3 <= n && names.size() < kMaxNames) {
    if (text[i] == '#') {  // a comment runs to the end of the line
      while (i < n && text[i] != '\n') ++i;
      continue;
    }
    const bool startsWord = i == 0 || !isNameChar(static_cast<unsigned char>(text[i - 1]));
    if (startsWord && text.compare(i, 3, "DEF") == 0 && i + 3 < n &&
        std::isspace(static_cast<unsigned char>(text[i + 3]))) {
      size_t j = i + 3;
      while (j < n && std::isspace(static_cast<unsigned char>(text[j]))) ++j;
      size_t k = j;
      while (k < n && isNameChar(static_cast<unsigned char>(text[k]))) ++k;
      if (k > j) {
        std::string name = text.substr(j, std::min(k - j, kMaxNameLength));
        if (seen.insert(name).second) names.push_back(name);
      }
      i = k;
      continue;
    }
    ++i;
  }
  return names;
}

std::string printable(const std::string& text) {
  std::string s;
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7f) {
      static const char kHex[] = "0123456789abcdef";
      s += "\\x";
      s += kHex[c >> 4];
      s += kHex[c & 15];
    } else {
      s += static_cast<char>(c);
    }
  }
  return s;
}

std::string joinNames(const std::vector<std::string>& names) {
  std::string s;
  for (size_t i = 0; i < names.size(); ++i) s += (i ? "," : "") + names[i];
  return s;
}

}  // namespace sceneview
