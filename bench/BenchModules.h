#pragma once
// Modules for the host's own benchmarks: a source whose value another thread sets, and a sink that
// keeps the last value it got and counts them.
#include <atomic>

#include "modules/Module.h"

class BenchCounter : public JAddObj {
public:
  BenchCounter() { inputCount = 0; }
  const char* className() const override { return "BenchCounter"; }
  BenchCounter(const BenchCounter& o) : JAddObj(o) {}
  JObject* clone() const override { return new BenchCounter(*this); }
  void access(int, JLinkObj&, const JDataType& data) override {
    static_cast<const JIntegerData&>(data) = shared.load(std::memory_order_relaxed);
  }
  std::atomic<int> shared{0};
};

class BenchSink : public JAddObj {
public:
  const char* className() const override { return "BenchSink"; }
  JObject* clone() const override { return new BenchSink(*this); }
  void engine(int, JLinkObj& link) override {
    last = readInteger(link);
    ++seen;
  }
  int last = 0;
  long long seen = 0;
};
