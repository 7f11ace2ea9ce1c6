#pragma once
// Ticks every periodMs from the start of the run; its output is the rising tick count.
#include "loom/JModuleObj.h"

class Timer : public JAddObj {
public:
  Timer();
  const char* className() const override { return "Timer"; }
  JObject* clone() const override { return new Timer(*this); }
  void startup() override;
  void close() override { running_ = false; }
  void draw(JGraphics& g, int x, int y, int w, int h) override;

  int periodMs;

  void periodChanged();

private:
  void schedule();
  void tick();
  long long start_ = 0;
  unsigned long long schedule_ = 0;  // the latest schedule's number
  bool running_ = false;
};
