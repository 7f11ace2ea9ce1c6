// One input value stepped through ten stored gestures. Goal: at most 200 ns per value and no heap
// allocation. Allocations are counted by the replaced global operator new (AllocationCounter.h), per value.
#include <benchmark/benchmark.h>

#include "AllocationCounter.h"
#include "JGestureMatcher.h"
#include "base/JClock.h"
#include "loom/JDiagram.h"

namespace {
constexpr int kCycle = 20;  // inputs 0..19 over and over

// A diagram holding a recogniser with ten gestures of ten values (gesture k: k .. k + 9), fed
// by a plain integer source. Every gesture starts, advances, completes and resets once per cycle.
struct Bench {
  JDiagram diagram;
  JAddObj* source;
  JGestureMatcher* matcher;
  JLinkObj* link;

  explicit Bench(bool useTimer, int gapMs) {
    diagram.bindHostThread();
    source = static_cast<JAddObj*>(diagram.add(new JAddObj(), "source"));
    matcher = static_cast<JGestureMatcher*>(diagram.add(new JGestureMatcher(), "g"));
    link = diagram.link(source, 0, matcher, 0);
    matcher->useTimerAccuracy = useTimer;
    for (int k = 0; k < JGestureMatcher::kSlots; ++k)
      for (int i = 0; i < GesturePattern::kMaxValues; ++i) matcher->patterns[k].append(k + i, false, i * gapMs);
  }
};

void report(benchmark::State& state, long long allocated) {
  state.counters["allocs/value"] =
      benchmark::Counter(static_cast<double>(allocated) / static_cast<double>(state.iterations()));
  if (allocated != 0) state.SkipWithError("heap allocation while stepping");
}

// engine(0) as the host calls it: the value read through the link, the host clock, ten steps,
// outputs rising and falling, the teaching buffer.
void BM_EngineTenGestures(benchmark::State& state) {
  Bench b(false, 0);
  int v = 0;
  const long long before = allocationCount();
  for (auto _ : state) {
    b.source->value = v;
    b.matcher->engine(0, *b.link);
    v = v + 1 == kCycle ? 0 : v + 1;
  }
  report(state, allocationCount() - before);
}
BENCHMARK(BM_EngineTenGestures);

// The same with the rhythm checked (a manual clock 100 ms per value, matching the recorded one).
void BM_EngineTenGesturesTimed(benchmark::State& state) {
  JClock::Manual clock(0);
  Bench b(true, 100);
  int v = 0;
  const long long before = allocationCount();
  for (auto _ : state) {
    clock.advance(100);
    b.source->value = v;
    b.matcher->engine(0, *b.link);
    v = v + 1 == kCycle ? 0 : v + 1;
  }
  report(state, allocationCount() - before);
}
BENCHMARK(BM_EngineTenGesturesTimed);

// Through the host's delivery: the source broadcasts, the diagram calls engine.
void BM_DeliveredTenGestures(benchmark::State& state) {
  Bench b(false, 0);
  int v = 0;
  const long long before = allocationCount();
  for (auto _ : state) {
    b.source->value = v;
    b.source->broadcast(0);
    v = v + 1 == kCycle ? 0 : v + 1;
  }
  report(state, allocationCount() - before);
}
BENCHMARK(BM_DeliveredTenGestures);
}  // namespace

BENCHMARK_MAIN();
