#pragma once
// Ticks every periodMs from the start of the run; its output is the rising tick count.
#include "loom/JModuleObj.h"

class Timer : public JAddObj {
public:
  Timer();
  const char* className() const override { return "Timer"; }
  JObject* clone() const override { return new Timer(*this); }
  void writeContent(JOutputStream& os) override;
  void readContent(JDictionary& dict) override;
  void startup() override;
  void close() override { running_ = false; }
  JArray getProperties() override;
  bool updateProperty(JProperty& p) override;
  void draw(JGraphics& g, int x, int y, int w, int h) override;

  int periodMs = 100;

private:
  void tick();
  long long start_ = 0;
  bool running_ = false;
};
