#include "Value.h"

#include "PlayerFile.h"
#include "loom/JDiagram.h"

Value::Value() {
  inputCount = 0;
  outputCount = 1;
}

void Value::writeContent(JOutputStream& os) {
  JModuleObj::writeContent(os);
  putString(os, "value", value);
  putString(os, "type", type);
}

void Value::readContent(JDictionary& dict) {
  JModuleObj::readContent(dict);
  value = getString(dict, "value", "0");
  type = getString(dict, "type", "i");
}

JArray Value::getProperties() {
  JArray a;
  a.append(new JStringProperty("value", value));
  a.append(new JIntegerListProperty("type", type == "s" ? 1 : (type == "b" ? 2 : 0), {"i", "s", "b"}));
  return a;
}

bool Value::updateProperty(JProperty& p) {
  if (p.getName() == "value") {
    value = static_cast<JStringProperty&>(p).value;
    return true;
  }
  if (p.getName() == "type") {
    static const char* const letters[] = {"i", "s", "b"};
    int v = static_cast<JIntegerListProperty&>(p).value;
    if (v < 0 || v > 2) return false;
    type = letters[v];
    return true;
  }
  return false;
}

int Value::outputType(int) {
  std::vector<int> types;
  std::string error;
  return parseOutputTypes(type.str(), types, error) && types.size() == 1 ? types[0] : JIntegerData::id;
}

bool Value::check(std::string& error) const {
  std::vector<int> types;
  if (!parseOutputTypes(type.str(), types, error) || types.size() != 1) {
    error = id() + ": error: type is one of i, s, b";
    return false;
  }
  JWireValue v;
  if (!parseWireValue(value.str(), types[0], v, error)) {
    error = id() + ": error: value: " + error;
    return false;
  }
  return true;
}

void Value::access(int n, JLinkObj&, const JDataType& data) {
  JWireValue v;
  std::string error;
  if (n == 0 && parseWireValue(value.str(), const_cast<Value*>(this)->outputType(0), v, error)) v.fill(data);
}

void Value::startup() {
  if (diagram()) diagram()->post([this] { broadcast(0); }, this);
}

void Value::draw(JGraphics& g, int x, int y, int w, int h) { drawText(g, value, JRect(x, y, w, h)); }
