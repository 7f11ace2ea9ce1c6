#include "Value.h"

#include "Render.h"

#include "PlayerFile.h"
#include "loom/JWire.h"
#include "loom/JDiagram.h"

Value::Value() { applyType(); }

void Value::applyType() {
  static const JPortTable kNoInputs;
  static const JPortTable kOutputs[] = {{{kSideRight, 0.1, 0.8, {{"value", JIntegerData::id}}}},
                                        {{kSideRight, 0.1, 0.8, {{"value", JStringData::id}}}},
                                        {{kSideRight, 0.1, 0.8, {{"value", JBytesData::id}}}}};
  std::vector<int> types;
  std::string error;
  const int t = parseOutputTypes(type.str(), types, error) && types.size() == 1 ? types[0] : JIntegerData::id;
  setPorts(kNoInputs, kOutputs[t == JStringData::id ? 1 : (t == JBytesData::id ? 2 : 0)]);
}

void Value::writeContent(JOutputStream& os) {
  JModuleObj::writeContent(os);
  // In its natural form: a number for an integer, the text itself, 0x and hex pairs for bytes.
  int number = 0;
  if (type == "i" && JInteger::parse(value, number))
    putInteger(os, "value", number);
  else
    putString(os, "value", value);
  putString(os, "type", type);
}

void Value::readContent(JDictionary& dict) {
  JModuleObj::readContent(dict);
  value = getString(dict, "value", "0");
  type = getString(dict, "type", "i");
  // A text written as a JSON string literal (the older form) is the text inside it.
  std::string text;
  if (type == "s" && parseJsonString(value.str(), text)) value = JString(text);
  applyType();
}

JArray Value::getProperties() {
  JArray a;
  a.append(new JStringProperty("value", value));
  a.append(new JIntegerListProperty("type", type == "s" ? 1 : (type == "b" ? 2 : 0), {"i", "s", "b"}));
  return a;
}

bool Value::updateProperty(JProperty& p) {
  if (p.is("value", value)) return true;
  int v = 0;
  if (!p.is("type", v) || v < 0 || v > 2) return false;
  static const char* const letters[] = {"i", "s", "b"};
  type = letters[v];
  applyType();
  return true;
}

bool Value::prepareRun(std::string& error) {
  std::vector<int> types;
  if (!parseOutputTypes(type.str(), types, error) || types.size() != 1) {
    error = id() + ": error: type is one of i, s, b";
    return false;
  }
  JWireValue v;
  if (!wireValue(v, error)) {
    error = id() + ": error: value: " + error;
    return false;
  }
  return true;
}

bool Value::wireValue(JWireValue& v, std::string& error) const {
  const int t = outputPorts()->type(0);
  if (t != JStringData::id) return parseWireValue(value.str(), t, v, error);
  v = JWireValue::ofText(value);
  return true;
}

void Value::access(int n, JLinkObj&, const JDataType& data) {
  JWireValue v;
  std::string error;
  if (n == 0 && wireValue(v, error)) v.fill(data);
}

void Value::startup() {
  if (diagram()) diagram()->post([this] { broadcast(0); }, this);
}

void Value::draw(JGraphics& g, int x, int y, int w, int h) { drawHostLabel(*this, g, value, x, y, w, h, 0, 1); }
