// Latency of one touch-tone digit on loopback: from Callwatch's CDigitLink::SendDigitToLoomwork to the
// JToneDigitObj reader's broadcast of the digit's code, and on to its delivery on the host
// thread. Median and 99th percentile over 1,000 digits (goal: median under 1 ms).
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "JToneDigitObj.h"
#include "base/JClock.h"
#include "link/DigitLink.h"
#include "loom/JDiagram.h"

namespace {

long long NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Notes when the reader broadcasts a digit's code.
class StampedToneDigit : public JToneDigitObj {
public:
  void broadcast(int n) override {
    if (n == kDigitValue) broadcastAt.store(NowNs());
    JToneDigitObj::broadcast(n);
  }
  std::atomic<long long> broadcastAt{0};
};

// Notes when a code arrives on the host thread.
class Arrival : public JAddObj {
public:
  const char* className() const override { return "BenchArrival"; }
  JObject* clone() const override { return new Arrival(*this); }
  void engine(int, JLinkObj& link) override {
    arrivedAt = NowNs();
    lastCode = readInteger(link);
    ++seen;
  }
  long long arrivedAt = 0;
  int lastCode = 0;
  int seen = 0;
};

double Percentile(std::vector<long long> v, double p) {
  std::sort(v.begin(), v.end());
  size_t i = static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
  return static_cast<double>(v[std::min(i, v.size() - 1)]) / 1000.0;  // microseconds
}

constexpr int kDigits = 1000;

void BM_DigitLatency(benchmark::State& state) {
  char folderTemplate[] = "/tmp/digitbench-XXXXXX";
  if (!mkdtemp(folderTemplate)) {
    state.SkipWithError("no temporary folder");
    return;
  }
  const std::string folder = folderTemplate;
  std::ofstream(folder + "/connect.txt") << "127.0.0.1\r\n";

  JDiagram diagram;
  diagram.bindHostThread();
  auto* receiver = static_cast<StampedToneDigit*>(diagram.add(new StampedToneDigit(), "dtmf"));
  auto* arrival = static_cast<Arrival*>(diagram.add(new Arrival(), "arrival"));
  diagram.link(receiver, JToneDigitObj::kDigitValue, arrival, 0);
  receiver->port = 0;
  receiver->startup();
  diagram.run([&] { return receiver->listeningPort() > 0; }, JClock::millis() + 2000);

  CDigitLink link;
  link.Setup().folder = folder;
  link.Setup().port = receiver->listeningPort();

  const std::string keys = "0123456789*#";
  std::vector<long long> toBroadcast, toDelivery;
  int lost = 0;
  auto sendOne = [&](int i) {
    const int before = arrival->seen;
    const long long start = NowNs();
    link.SendDigitToLoomwork(keys[static_cast<size_t>(i) % keys.size()]);
    if (!diagram.run([&] { return arrival->seen > before; }, JClock::millis() + 2000)) {
      ++lost;
      return false;
    }
    toBroadcast.push_back(receiver->broadcastAt.load() - start);
    toDelivery.push_back(arrival->arrivedAt - start);
    return true;
  };

  for (auto _ : state) {
    toBroadcast.clear();
    toDelivery.clear();
    sendOne(0);  // connects and lets the receiver take the sender
    toBroadcast.clear();
    toDelivery.clear();
    for (int i = 0; i < kDigits; ++i) sendOne(i);
  }

  link.EndDataToLoomwork();
  receiver->close();
  ::unlink((folder + "/connect.txt").c_str());
  ::unlink((folder + "/test.txt").c_str());
  ::rmdir(folder.c_str());

  if (toBroadcast.empty()) {
    state.SkipWithError("no digit arrived");
    return;
  }
  state.counters["digits"] = static_cast<double>(toBroadcast.size());
  state.counters["lost"] = lost;
  state.counters["broadcast_median_us"] = Percentile(toBroadcast, 0.5);
  state.counters["broadcast_p99_us"] = Percentile(toBroadcast, 0.99);
  state.counters["delivered_median_us"] = Percentile(toDelivery, 0.5);
  state.counters["delivered_p99_us"] = Percentile(toDelivery, 0.99);
}
BENCHMARK(BM_DigitLatency)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
