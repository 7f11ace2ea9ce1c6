#include "Value.h"

#include "Render.h"

#include "PlayerFile.h"
#include "loom/JWire.h"
#include "loom/JDiagram.h"

namespace {
// "value" is stored in its natural form: a number for an integer, else the text itself (bytes as
// 0x and hex pairs).
void writeValue(Value& m, JOutputStream& os) {
  int number = 0;
  if (m.type == 0 && JInteger::parse(m.value, number)) JObject::putInteger(os, "value", number);
  else JObject::putString(os, "value", m.value);
}

const JSettings kSettings{
    JSetting::text("value", &Value::value).init("0").notStored(),
    JSetting::block<Value>("value", writeValue,
                           [](Value& m, JDictionary& d) { m.value = JObject::getString(d, "value", "0"); }),
    JSetting::choice("type", &Value::type, {"i", "s", "b"}).init(0).storedAsTag().onChange(&Value::applyType),
};
}  // namespace

Value::Value() {
  setSettings(kSettings);
  applyType();
}

void Value::applyType() {
  static const JPortTable kNoInputs;
  static const JPortTable kOutputs[] = {{{kSideRight, 0.1, 0.8, {{"value", JIntegerData::id}}}},
                                        {{kSideRight, 0.1, 0.8, {{"value", JStringData::id}}}},
                                        {{kSideRight, 0.1, 0.8, {{"value", JBytesData::id}}}}};
  setPorts(kNoInputs, kOutputs[type >= 0 && type <= 2 ? type : 0]);
}

void Value::readContent(JDictionary& dict) {
  JModuleObj::readContent(dict);
  // A text written as a JSON string literal (the older form) is the text inside it.
  std::string text;
  if (type == 1 && parseJsonString(value.str(), text)) value = JString(text);
  applyType();
}

bool Value::prepareRun(std::string& error) {
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
