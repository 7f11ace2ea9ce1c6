#pragma once
// Sends one value once, when the run starts.
#include "loom/JModuleObj.h"
#include "loom/JWireValue.h"

class Value : public JModuleObj {
public:
  Value();
  const char* className() const override { return "Value"; }
  JObject* clone() const override { return new Value(*this); }
  void writeContent(JOutputStream& os) override;
  void readContent(JDictionary& dict) override;
  void startup() override;
  JArray getProperties() override;
  bool updateProperty(JProperty& p) override;
  void access(int n, JLinkObj& link, const JDataType& data) override;
  void draw(JGraphics& g, int x, int y, int w, int h) override;

  // Checks value against type; false with the reason.
  bool prepareRun(std::string& error) override;

private:
  void applyType();
  bool wireValue(JWireValue& v, std::string& error) const;  // the value as the output sends it  // the output's data type follows "type"

  JString value = "0";
  JString type = "i";  // i, s or b
};
