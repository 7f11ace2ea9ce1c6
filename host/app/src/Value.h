#pragma once
// Sends one value once, when the run starts.
#include "loom/JModuleObj.h"
#include "loom/JWireValue.h"

class Value : public JModuleObj {
public:
  Value();
  const char* className() const override { return "Value"; }
  JObject* clone() const override { return new Value(*this); }
  void readContent(JDictionary& dict) override;
  void startup() override;
  void access(int n, JLinkObj& link, const JDataType& data) override;
  void draw(JGraphics& g, int x, int y, int w, int h) override;

  // Checks value against type; false with the reason.
  bool prepareRun(std::string& error) override;

  // The output's data type follows "type".
  void applyType();

  JString value;
  int type;  // 0 i, 1 s, 2 b

private:
  bool wireValue(JWireValue& v, std::string& error) const;  // the value as the output sends it
};
