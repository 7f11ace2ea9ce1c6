#pragma once
// JStepCounter ("Step"): counts the nonzero values at its input "count" in steps of "step",
// wrapping to 0 past "wrap" (0: never), and says the count as a number and as a text. A nonzero
// value at "reset" starts again from 0. The count is kept in the diagram.
#include "modules/Module.h"

class JStepCounter : public JAddObj {
public:
  // Ports: the tags, once; the index names follow from them.
  static constexpr const char* kInputTags[] = {"count", "reset"};
  static constexpr const char* kOutputTags[] = {"value", "text"};
  static constexpr int kCount = portIndex(kInputTags, "count");
  static constexpr int kReset = portIndex(kInputTags, "reset");
  static constexpr int kValue = portIndex(kOutputTags, "value");
  static constexpr int kText = portIndex(kOutputTags, "text");

  JStepCounter();

  // --- host operations (properties and persistence come from the settings table) ---
  void readContent(JDictionary& dict) override;
  const char* className() const override { return "JStepCounter"; }
  JObject* clone() const override { return new JStepCounter(*this); }
  void draw(JGraphics& g, int x, int y, int w, int h) override;
  void access(int n, JLinkObj& link, const JDataType& data) override;
  void engine(int n, JLinkObj& link) override;

  // --- fields (initial values in the settings table) ---
  int step;
  int wrap;
  int count;

private:
  void publish();
};
