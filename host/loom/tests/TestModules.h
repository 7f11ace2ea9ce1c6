#pragma once
// Small modules written to the module skeleton, for the host's own tests.
#include <string>
#include <vector>

#include "modules/Module.h"

// Two integer inputs, one integer output: value = in0 * gain + in1. Input 2 is "clear" (a
// trigger); inputs past 2 are not listed.
class JTestScaler : public JAddObj {
public:
  JTestScaler() { setPorts(inputs(), outputs()); }
  const char* className() const override { return "JTestScaler"; }
  JObject* clone() const override { return new JTestScaler(*this); }

  void writeContent(JOutputStream& os) override {
    JAddObj::writeContent(os);
    putInteger(os, "gain", gain);
    putInteger(os, "enabled", enabled ? 1 : 0);
    putString(os, "label", label);
    putObject(os, "tint", tint);
    putIntegers(os, "min", mins, 3);
  }
  void readContent(JDictionary& dict) override {
    JAddObj::readContent(dict);
    gain = getInteger(dict, "gain", 0);
    enabled = getInteger(dict, "enabled", 0) != 0;
    label = getString(dict, "label");
    getObject(dict, "tint", tint);
    getIntegers(dict, "min", mins, 3);
  }
  JArray getProperties() override {
    JArray a = JModuleObj::getProperties();
    a.append(new JIntegerProperty("gain", gain, 0, 100));
    a.append(new JIntegerListProperty("enabled", enabled ? 1 : 0, JIntegerListProperty::booleanTag));
    a.append(new JStringProperty("label", label));
    a.append(new JColorProperty("tint", tint));
    return a;
  }
  bool updateProperty(JProperty& p) override {
    if (JModuleObj::updateProperty(p)) return true;
    return p.is("gain", gain) || p.is("enabled", enabled) || p.is("label", label) || p.is("tint", tint);
  }

  void engine(int n, JLinkObj& link) override {
    int v = readInteger(link);
    switch (n) {
      case 0: x = v; break;
      case 1: offset = v; break;
      case 2:
        if (v == 0) return;
        x = offset = 0;
        break;
      default: return;
    }
    value = x * gain + offset;
    broadcast(0);
  }

  static const JPortTable& inputs() {
    static const JPortTable table{{kSideLeft, 0.1, 0.8, {"x", "offset"}},
                                  {kSideTop, 0.25, 0.5, {"clear"}, 6, 0.3, 0.4}};
    return table;
  }
  static const JPortTable& outputs() {
    static const JPortTable table{{kSideRight, 0.1, 0.8, {"y"}}};
    return table;
  }

  int gain = 1;
  bool enabled = true;
  JString label = "scaler";
  JColor tint = JColor::orange;
  int mins[3] = {7, 8, 9};
  int x = 0, offset = 0;
};

// Records every value it receives (any type on input 0) and passes integers on.
class JTestRecorder : public JAddObj {
public:
  JTestRecorder() {
    inputCount = 1;
    outputCount = 1;
  }
  const char* className() const override { return "JTestRecorder"; }
  JObject* clone() const override { return new JTestRecorder(*this); }
  void engine(int n, JLinkObj& link) override {
    value = readInteger(link);
    seen.push_back(value);
    broadcast(0);
  }
  std::vector<int> seen;
};
