// Delivery cost: an integer carried along a chain of ten modules on the host thread, and a value
// broadcast from a module's own thread and delivered on the host thread.
#include <benchmark/benchmark.h>

#include <atomic>
#include <thread>

#include "AllocationCounter.h"
#include "loom/JDiagram.h"
#include "BenchModules.h"
#include "modules/Module.h"

namespace {
class Relay : public JAddObj {
public:
  const char* className() const override { return "BenchRelay"; }
  JObject* clone() const override { return new Relay(*this); }
  void engine(int n, JLinkObj& link) override {
    value = readInteger(link) + 1;
    broadcast(0);
  }
};

constexpr int kChain = 10;

void BM_HostThreadHop(benchmark::State& state) {
  JDiagram d;
  d.bindHostThread();
  auto* source = static_cast<Relay*>(d.add(new Relay(), "source"));
  JModuleObj* prev = source;
  BenchSink* sink = static_cast<BenchSink*>(d.add(new BenchSink(), "sink"));
  for (int i = 0; i < kChain - 1; ++i) {
    JModuleObj* r = d.add(new Relay(), "r" + std::to_string(i));
    d.link(prev, 0, r, 0);
    prev = r;
  }
  d.link(prev, 0, sink, 0);  // ten links: ten hops per value
  long long before = allocationCount();
  for (auto _ : state) {
    source->value++;
    source->broadcast(0);
  }
  long long allocs = allocationCount() - before;
  benchmark::DoNotOptimize(sink->last);
  state.counters["ns_per_hop"] = benchmark::Counter(static_cast<double>(state.iterations()) * kChain,
                                                    benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["allocs_per_value"] = static_cast<double>(allocs) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_HostThreadHop);

void BM_CrossThreadDelivery(benchmark::State& state) {
  JDiagram d;
  d.bindHostThread();
  auto* counter = static_cast<BenchCounter*>(d.add(new BenchCounter(), "counter"));
  auto* sink = static_cast<BenchSink*>(d.add(new BenchSink(), "sink"));
  d.link(counter, 0, sink, 0);
  const int batch = 1000;
  for (auto _ : state) {
    long long target = sink->seen + batch;
    std::thread t([&] {
      for (int i = 0; i < batch; ++i) {
        counter->shared.store(i, std::memory_order_relaxed);
        counter->broadcast(0);
      }
    });
    while (sink->seen < target) d.runPending();
    t.join();
  }
  state.counters["ns_per_delivery"] = benchmark::Counter(static_cast<double>(state.iterations()) * batch,
                                                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_CrossThreadDelivery)->Unit(benchmark::kMicrosecond);
}  // namespace

BENCHMARK_MAIN();
