#include "loom/JProperty.h"

#include <cstdlib>

const std::vector<JString> JIntegerListProperty::booleanTag = {JString("false"), JString("true")};

bool JIntegerProperty::parseValue(const JString& text, JString& error) {
  int v = 0;
  if (!JInteger::parse(text.trim(), v)) {
    error = JString("\"") + text + "\" is not an integer";
    return false;
  }
  if (v < minimum || v > maximum) {
    error = JInteger::toJString(v) + " is outside " + rangeText();
    return false;
  }
  value = v;
  return true;
}

JString JIntegerProperty::rangeText() const {
  return JInteger::toJString(minimum) + ".." + JInteger::toJString(maximum);
}

JString JIntegerListProperty::valueText() const {
  if (value >= 0 && value < static_cast<int>(tags.size())) return tags[static_cast<size_t>(value)];
  return JInteger::toJString(value);
}

bool JIntegerListProperty::parseValue(const JString& text, JString& error) {
  JString t = text.trim();
  for (size_t i = 0; i < tags.size(); ++i) {
    if (tags[i] == t) {
      value = static_cast<int>(i);
      return true;
    }
  }
  int v = 0;
  if (JInteger::parse(t, v) && v >= 0 && v < static_cast<int>(tags.size())) {
    value = v;
    return true;
  }
  error = JString("\"") + text + "\" is not one of " + rangeText();
  return false;
}

JString JIntegerListProperty::rangeText() const {
  JString out;
  for (size_t i = 0; i < tags.size(); ++i) {
    if (i) out += "|";
    out += tags[i];
  }
  return out;
}

JString JColorProperty::valueText() const {
  return JInteger::toJString(color.getRed()) + "," + JInteger::toJString(color.getGreen()) + "," +
         JInteger::toJString(color.getBlue());
}

bool JColorProperty::parseValue(const JString& text, JString& error) {
  int c[3];
  JString rest = text.trim();
  for (int i = 0; i < 3; ++i) {
    int comma = rest.indexOf(',');
    JString part = (i < 2) ? (comma < 0 ? JString() : rest.substring(0, comma)) : rest;
    if ((i < 2 && comma < 0) || !JInteger::parse(part.trim(), c[i]) || c[i] < 0 || c[i] > 255) {
      error = JString("\"") + text + "\" is not a colour r,g,b with each part 0..255";
      return false;
    }
    if (i < 2) rest = rest.substring(comma + 1);
  }
  color = JColor(c[0], c[1], c[2]);
  return true;
}

bool JProperty::is(const char* name, bool& flag) const {
  int v = 0;
  if (!is(name, v)) return false;
  flag = v != 0;
  return true;
}
