// One timer tick of the posture recognizer with ten linked channels, 32 rows and ten stored
// patterns, delivered through the diagram as the host delivers it. Heap allocations are counted
// by the replaced global operator new (AllocationCounter.h) and reported per tick.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "AllocationCounter.h"
#include "JPoseMatcher.h"
#include "loom/JDiagram.h"

namespace {
// An integer output that holds the value last set.
class Source : public JAddObj {
public:
  Source() {
    inputCount = 0;
    outputCount = 1;
  }
  const char* className() const override { return "BenchSource"; }
  JObject* clone() const override { return new Source(*this); }
  void send(int v) {
    value = v;
    broadcast(0);
  }
};

// A recognizer wired to ten channel sources, a timer, a calibrator and a listener on every
// output, calibrated over 0..32000 with 32 rows and holding ten patterns.
struct Rig {
  Rig() {
    diagram.bindHostThread();
    pose = static_cast<JPoseMatcher*>(diagram.add(new JPoseMatcher(), "pose"));
    for (int c = 0; c < 10; ++c) {
      channel[c] = static_cast<Source*>(diagram.add(new Source()));
      diagram.link(channel[c], 0, pose, c);
    }
    timer = static_cast<Source*>(diagram.add(new Source()));
    diagram.link(timer, 0, pose, JPoseMatcher::kTimer);
    Source* calibrator = static_cast<Source*>(diagram.add(new Source()));
    diagram.link(calibrator, 0, pose, JPoseMatcher::kCalibrator);
    Source* rows = static_cast<Source*>(diagram.add(new Source()));
    diagram.link(rows, 0, pose, JPoseMatcher::kRowCount);
    for (int out = 0; out < pose->outputCount; ++out) {
      JModuleObj* listener = diagram.add(new JAddObj());
      diagram.link(pose, out, listener, 0);
    }
    pose->startup();
    rows->send(61380);  // 32 rows
    calibrator->send(65535);
    for (int c = 0; c < 10; ++c) {
      channel[c]->send(0);
      channel[c]->send(32000);
    }
    calibrator->send(0);
    // Ten patterns; pattern k sits on rows 3k and 3k + 1 of the channels in turn, so the live
    // rows (walking through them below) match one pattern after the other.
    for (int k = 0; k < 10; ++k)
      for (int i = 0; i < 10; ++i) pose->patterns[k].values[i] = (3 * k + i % 2) % 32;
  }
  void feed(long long n) {
    int row = static_cast<int>((n / 40) % 30);
    for (int c = 0; c < 10; ++c) channel[c]->send(row * 1000 + 500 + c);
  }

  JDiagram diagram;
  JPoseMatcher* pose = nullptr;
  Source* channel[10] = {};
  Source* timer = nullptr;
};

// Ticks alone: the columns keep being driven by the rows last computed.
void BM_PoseMatcherTick(benchmark::State& state) {
  Rig rig;
  rig.feed(0);
  int tick = 0;
  long long before = allocationCount();
  for (auto _ : state) rig.timer->send(++tick);
  long long used = allocationCount() - before;
  state.counters["allocs/tick"] = benchmark::Counter(static_cast<double>(used) / state.iterations());
  state.counters["recognized"] = rig.pose->recognizedPattern;
  rig.diagram.closeAll();
}
BENCHMARK(BM_PoseMatcherTick);

// A tick with ten fresh channel values before it; the rows walk across the patterns, so the
// recognised pattern changes and its broadcasts are part of the cost.
void BM_PoseMatcherValuesAndTick(benchmark::State& state) {
  Rig rig;
  long long n = 0;
  int changes = 0, last = rig.pose->recognizedPattern;
  long long before = allocationCount();
  for (auto _ : state) {
    rig.feed(n++);
    rig.timer->send(static_cast<int>(n));
    if (rig.pose->recognizedPattern != last) {
      last = rig.pose->recognizedPattern;
      ++changes;
    }
  }
  long long used = allocationCount() - before;
  state.counters["allocs/tick"] = benchmark::Counter(static_cast<double>(used) / state.iterations());
  state.counters["changes"] = changes;
  rig.diagram.closeAll();
}
BENCHMARK(BM_PoseMatcherValuesAndTick);
}  // namespace

BENCHMARK_MAIN();
