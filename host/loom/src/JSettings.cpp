#include "loom/JSettings.h"

#include "base/JArray.h"
#include "base/JObject.h"
#include "loom/JModuleObj.h"
#include "loom/JProperty.h"

namespace {

std::string joined(const std::vector<std::string>& tags) {
  std::string out;
  for (size_t i = 0; i < tags.size(); ++i) out += (i ? "|" : "") + tags[i];
  return out;
}

const std::vector<std::string>& booleanTags() {
  static const std::vector<std::string> tags{"false", "true"};
  return tags;
}

std::string colourText(const JColor& c) {
  return std::to_string(c.getRed()) + "," + std::to_string(c.getGreen()) + "," + std::to_string(c.getBlue());
}

}  // namespace

// --- listings ---

const char* JSetting::kindName() const {
  switch (kind_) {
    case kInteger: return "integer";
    case kFlag: return "flag";
    case kChoice: return "choice";
    case kText: return "text";
    case kColour: return "colour";
  }
  return "";
}

std::string JSetting::rangeText() const {
  if (kind_ == kFlag) return joined(tags_.empty() ? booleanTags() : tags_);
  if (kind_ == kChoice) return joined(tags_);
  if (kind_ == kInteger && ranged_) return std::to_string(min_) + ".." + std::to_string(max_);
  return std::string();
}

std::string JSetting::initText() const {
  if (!hasInit_) return std::string();
  switch (kind_) {
    case kFlag: {
      const auto& t = tags_.empty() ? booleanTags() : tags_;
      return init_.number != 0 ? t.back() : t.front();
    }
    case kChoice:
      return init_.number >= 0 && init_.number < static_cast<int>(tags_.size())
                 ? tags_[static_cast<size_t>(init_.number)]
                 : std::to_string(init_.number);
    case kInteger: return std::to_string(init_.number);
    case kText: return init_.text.str();
    case kColour: return colourText(init_.color);
  }
  return std::string();
}

std::string JSetting::ruleText() const {
  if (!ranged_ || kind_ == kFlag) return std::string();
  switch (rule_) {
    case JOutOfRange::kIgnore: return "ignored";
    case JOutOfRange::kClamp: return "clamped";
    case JOutOfRange::kRefuse: return "refused";
  }
  return std::string();
}

std::string JSetting::missingText() const {
  std::string out;
  if (missing_ == kMissingValue)
    out = numeric() ? "missing or stored: " + std::to_string(missingValue_.number)
                    : "missing: \"" + missingValue_.text.str() + "\"";
  else if (missing_ == kMissingKeeps || (missing_ == kMissingByKind && !numeric())) out = "missing: kept";
  if (zeroKeeps_) out += std::string(out.empty() ? "" : "; ") + "stored 0: kept";
  return out;
}

std::string JSetting::valueText(const JModuleObj& m, int i) const {
  const JSettingValue v = get_(m, i);
  switch (kind_) {
    case kFlag:
    case kChoice: {
      const auto& t = kind_ == kFlag ? (tags_.empty() ? booleanTags() : tags_) : tags_;
      const int k = kind_ == kFlag ? (v.number != 0 ? 1 : 0) : v.number;
      return k >= 0 && k < static_cast<int>(t.size()) ? t[static_cast<size_t>(k)] : std::to_string(v.number);
    }
    case kInteger: return std::to_string(v.number);
    case kText: return v.text.str();
    case kColour: return colourText(v.color);
  }
  return std::string();
}

// --- changes ---

JSettingResult JSetting::put(JModuleObj& m, int i, JSettingValue v, bool fromFile) const {
  JSettingResult r;
  if (kind_ == kFlag) v.number = v.number != 0 ? 1 : 0;
  if (fromFile && zeroKeeps_ && numeric() && v.number == 0) return r;  // the stored key's own guard
  // What a missing key gives is a value the module holds and saves: stored, it reads back as it is.
  if (fromFile && takesStored(v.number)) {
    set_(m, i, v);
    return r;
  }
  if (numeric() && ranged_ && kind_ != kFlag && (v.number < min_ || v.number > max_)) {
    const std::string why = kind_ == kChoice ? std::to_string(v.number) + " is not one of " + rangeText()
                                             : std::to_string(v.number) + " is outside " + rangeText();
    switch (rule_) {
      case JOutOfRange::kClamp:
        v.number = v.number < min_ ? min_ : max_;
        r.status = JSettingResult::kClamped;
        break;
      case JOutOfRange::kIgnore:
        r.status = JSettingResult::kIgnored;
        r.message = why + ", left out";
        return r;
      case JOutOfRange::kRefuse:
        r.status = JSettingResult::kRefused;
        r.message = why;
        return r;
    }
  }
  set_(m, i, v);
  if (!fromFile && onChange_) onChange_(m, i);
  return r;
}

JSettingResult JSetting::apply(JModuleObj& m, int i, const JSettingValue& v) const { return put(m, i, v, false); }

JSettingResult JSetting::applyText(JModuleObj& m, int i, const std::string& written) const {
  JSettingValue v;
  JSettingResult refused;
  refused.status = JSettingResult::kRefused;
  const JString text(written);
  switch (kind_) {
    case kInteger:
      if (!JInteger::parse(text.trim(), v.number)) {
        refused.message = "\"" + written + "\" is not an integer";
        return refused;
      }
      break;
    case kFlag:
    case kChoice: {
      const auto& t = kind_ == kFlag ? (tags_.empty() ? booleanTags() : tags_) : tags_;
      const std::string trimmed = text.trim().str();
      bool found = false;
      for (size_t k = 0; k < t.size() && !found; ++k)
        if (t[k] == trimmed) {
          v.number = static_cast<int>(k);
          found = true;
        }
      if (!found && !JInteger::parse(JString(trimmed), v.number)) {
        refused.message = "\"" + written + "\" is not one of " + joined(t);
        return refused;
      }
      break;
    }
    case kText: v.text = text; break;
    case kColour: {
      JColorProperty parsed("", JColor::black);
      JString error;
      if (!parsed.parseValue(text, error)) {
        refused.message = error.str();
        return refused;
      }
      v.color = parsed.color;
      break;
    }
  }
  return put(m, i, v, false);
}

bool JSetting::applyProperty(JModuleObj& m, JProperty& p, JSettingResult& result) const {
  JSettingValue v;
  int i = 0;
  if (!array_) {
    if (p.getName().str() != property_) return false;
  } else {
    const std::string name = p.getName().str();
    if (name.compare(0, property_.size(), property_) != 0) return false;
    const std::string rest = name.substr(property_.size());
    if (rest.empty() || rest.size() > 4 || rest.find_first_not_of("0123456789") != std::string::npos ||
        (rest.size() > 1 && rest[0] == '0'))
      return false;
    i = std::stoi(rest) - first_;
    if (i < 0 || i >= count_) return false;
  }
  bool ofKind = false;
  if (numeric()) ofKind = p.integerValue(v.number);
  else if (kind_ == kText) ofKind = p.textValue(v.text);
  else ofKind = p.colorValue(v.color);
  if (!ofKind) return false;
  result = put(m, i, v, false);
  return true;
}

JProperty* JSetting::makeProperty(const JModuleObj& m, int i) const {
  const JSettingValue v = get_(m, i);
  const JString name(propertyName(i));
  switch (kind_) {
    case kInteger: return new JIntegerProperty(name, v.number, min_, max_);
    case kFlag: {
      std::vector<JString> t;
      for (const auto& s : tags_.empty() ? booleanTags() : tags_) t.emplace_back(s);
      return new JIntegerListProperty(name, v.number != 0 ? 1 : 0, t);
    }
    case kChoice: {
      std::vector<JString> t;
      for (const auto& s : tags_) t.emplace_back(s);
      return new JIntegerListProperty(name, v.number, t);
    }
    case kText: return new JStringProperty(name, v.text);
    case kColour: return new JColorProperty(name, v.color);
  }
  return nullptr;
}

// --- persistence ---

void JSetting::write(JModuleObj& m, JOutputStream& os) const {
  if (writeBlock_) {
    writeBlock_(m, os);
    return;
  }
  if (key_.empty()) return;
  for (int i = 0; i < count_; ++i) {
    const JSettingValue v = get_(m, i);
    const std::string k = storedKey(i);
    if (kind_ == kChoice && storedAsTag_ && v.number >= 0 && v.number < static_cast<int>(tags_.size()))
      JObject::putString(os, k.c_str(), JString(tags_[static_cast<size_t>(v.number)]));
    else if (kind_ == kFlag) JObject::putInteger(os, k.c_str(), v.number != 0 ? 1 : 0);
    else if (numeric()) JObject::putInteger(os, k.c_str(), v.number);
    else if (kind_ == kText) JObject::putString(os, k.c_str(), v.text);
    else JObject::putObject(os, k.c_str(), v.color);
  }
}

void JSetting::read(JModuleObj& m, JDictionary& dict) const {
  if (readBlock_) {
    readBlock_(m, dict);
    return;
  }
  if (key_.empty()) return;
  for (int i = 0; i < count_; ++i) {
    const std::string k = storedKey(i);
    JSettingValue v;
    if (!dict.contains(k)) {
      if (missing_ == kMissingValue) set_(m, i, missingValue_);  // the key's own rule, as it stands
      if (missing_ != kMissingByKind || !numeric()) continue;
      // Otherwise a missing number reads as a stored 0.
    } else {
      const size_t problems = dict.problems().size();
      if (kind_ == kChoice && storedAsTag_) {
        const std::string t = JObject::getString(dict, k.c_str()).str();
        v.number = -1;
        for (size_t j = 0; j < tags_.size(); ++j)
          if (tags_[j] == t) v.number = static_cast<int>(j);
        if (v.number < 0 && dict.problems().size() == problems)
          dict.noteProblem(k, "\"" + t + "\" is not one of " + joined(tags_));
      } else if (numeric()) {
        v.number = JObject::getInteger(dict, k.c_str(), 0);
      } else if (kind_ == kText) {
        v.text = JObject::getString(dict, k.c_str());
      } else {
        v.color = get_(m, i).color;
        JObject::getObject(dict, k.c_str(), v.color);
      }
      if (dict.problems().size() != problems) continue;
    }
    const JSettingResult r = put(m, i, v, true);
    if (r.status == JSettingResult::kIgnored) dict.noteWarning(k, r.message);
    if (r.status == JSettingResult::kRefused) dict.noteProblem(k, r.message);
  }
}

void JSetting::setInitial(JModuleObj& m) const {
  if (!hasInit_ || !set_) return;
  for (int i = 0; i < count_; ++i) set_(m, i, init_);
}

// --- the table ---

const JSetting* JSettings::byProperty(const std::string& name, int& index) const {
  for (const auto& s : rows_) {
    if (!s.isProperty()) continue;
    for (int i = 0; i < s.count(); ++i)
      if (s.propertyName(i) == name) {
        index = i;
        return &s;
      }
  }
  return nullptr;
}

void JSettings::appendProperties(const JModuleObj& m, JArray& into) const {
  for (const auto& s : rows_)
    if (s.isProperty())
      for (int i = 0; i < s.count(); ++i) into.append(s.makeProperty(m, i));
}

bool JSettings::applyProperty(JModuleObj& m, JProperty& p, JSettingResult& result) const {
  for (const auto& s : rows_)
    if (s.isProperty() && s.applyProperty(m, p, result)) return true;
  return false;
}

void JSettings::write(JModuleObj& m, JOutputStream& os) const {
  for (const auto& s : rows_) s.write(m, os);
}

void JSettings::read(JModuleObj& m, JDictionary& dict) const {
  for (const auto& s : rows_) s.read(m, dict);
}

void JSettings::setInitial(JModuleObj& m) const {
  for (const auto& s : rows_) s.setInitial(m);
}
