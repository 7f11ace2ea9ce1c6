// The host's schedule of timed tasks: N Timers' worth of tasks, each posting its next tick, run
// on a manual clock one period at a time. The cost per tick should grow as log N, not as N.
// Also a flood through the bounded cross-thread queue, sender and host thread both busy.
#include <benchmark/benchmark.h>

#include <atomic>
#include <functional>
#include <thread>

#include "base/JClock.h"
#include "loom/JDiagram.h"
#include "BenchModules.h"
#include "modules/Module.h"

namespace {
constexpr long long kPeriodMs = 10;

void BM_TimedTicks(benchmark::State& state) {
  const int timers = static_cast<int>(state.range(0));
  JClock::Manual clock(0);
  JDiagram d;
  d.bindHostThread();
  long long ticks = 0;
  std::function<void(long long)> tick = [&](long long at) {
    ++ticks;
    d.postAt(at + kPeriodMs, [&tick, at] { tick(at + kPeriodMs); });
  };
  for (int i = 0; i < timers; ++i) d.postAt(kPeriodMs, [&tick] { tick(kPeriodMs); });
  for (auto _ : state) {
    clock.advance(kPeriodMs);
    d.runPending();
  }
  state.counters["ns_per_tick"] =
      benchmark::Counter(static_cast<double>(ticks), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["timers"] = timers;
}
BENCHMARK(BM_TimedTicks)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// A sender far faster than the host: it spends most of its time waiting at the bound.
void BM_FloodThroughTheBound(benchmark::State& state) {
  JDiagram d;
  d.bindHostThread();
  auto* counter = static_cast<BenchCounter*>(d.add(new BenchCounter(), "counter"));
  auto* sink = static_cast<BenchSink*>(d.add(new BenchSink(), "sink"));
  d.link(counter, 0, sink, 0);
  const int batch = static_cast<int>(JDiagram::kMaxQueued) * 4;
  for (auto _ : state) {
    const long long target = sink->seen + batch;
    std::thread t([&] {
      for (int i = 0; i < batch; ++i) {
        counter->shared.store(i, std::memory_order_relaxed);
        counter->broadcast(0);
      }
    });
    while (sink->seen < target) d.runPending();
    t.join();
  }
  state.counters["ns_per_value"] = benchmark::Counter(static_cast<double>(state.iterations()) * batch,
                                                      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_FloodThroughTheBound)->UseRealTime()->Unit(benchmark::kMillisecond);
}  // namespace

BENCHMARK_MAIN();
