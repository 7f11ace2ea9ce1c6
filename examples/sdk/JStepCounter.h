#pragma once
// JStepCounter ("Step"): counts the nonzero values at its input "count" in steps of "step",
// wrapping to 0 past "wrap" (0: never), and says the count as a number and as a text. A nonzero
// value at "reset" starts again from 0. The count is kept in the diagram.
#include "modules/Module.h"

class JStepCounter : public JAddObj {
public:
  enum { kCount = 0, kReset = 1 };         // inputs
  enum { kValue = 0, kText = 1 };          // outputs

  JStepCounter();

  // --- host operations ---
  void writeContent(JOutputStream& os) override;
  void readContent(JDictionary& dict) override;
  const char* className() const override { return "JStepCounter"; }
  JObject* clone() const override { return new JStepCounter(*this); }
  JArray getProperties() override;
  bool updateProperty(JProperty& p) override;
  void draw(JGraphics& g, int x, int y, int w, int h) override;
  void access(int n, JLinkObj& link, const JDataType& data) override;
  void engine(int n, JLinkObj& link) override;

  // --- fields ---
  int step = 1;
  int wrap = 0;
  int count = 0;

private:
  void publish();
};
