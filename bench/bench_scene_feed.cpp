// The plot feed into sceneview over loopback: sample frames sent by JPlotFeed (one per
// "timer_sampled" value) and received whole by sceneview's server, none lost or reordered.
// Goal: at least 100,000 frames per second.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "JPlotFeed.h"
#include "Viewer.h"
#include "testing/Harness.h"

namespace {

void BM_FeedIntoSceneview(benchmark::State& state) {
  sceneview::ViewerOptions options;
  options.port = 0;
  options.quiet = true;
  sceneview::Viewer viewer(options);
  std::string error;
  if (!viewer.listen(error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  // Samples are counted; the calibration that the viewer's "c" asks for goes out too.
  std::atomic<long long> received{0}, reordered{0}, others{0};
  std::atomic<int> last{0};
  viewer.onFrame = [&](const sceneview::Frame& f) {
    const int l = last.load();
    if (l != 0 && f.sequence != l % 128 + 1) reordered.fetch_add(1);
    last.store(f.sequence);
    if (f.payload.size() == 40 && f.payload[0] == JPlotFeed::kSamplePayload) received.fetch_add(1);
    else others.fetch_add(1);
  };
  viewer.err = [](const std::string&) {};
  viewer.out = [](const std::string&) {};
  std::atomic<bool> stop{false};
  std::thread server([&] { viewer.serve(stop); });

  JTestHarness h;
  JPlotFeed& feed = h.place<JPlotFeed>("feed");
  {
    JCriticalSection::Lock guard(feed.line.lock);
    feed.line.address = "127.0.0.1";
  }
  feed.port = viewer.port();
  feed.calibrated = 1;
  h.send(feed, JPlotFeed::kEnable, 1);
  if (!h.runUntil([&] { return feed.connectionState.load() == JPlotFeed::kConnected; }, 5000)) {
    state.SkipWithError("no connection");
  }
  h.send(feed, JPlotFeed::kTimer, 1);  // the first frame sets the viewer's sequence
  long long sent = 1;
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    h.send(feed, JPlotFeed::kX, static_cast<int>(sent));
    h.send(feed, JPlotFeed::kTimer, 1);
    ++sent;
  }
  for (int i = 0; i < 500 && received.load() < sent; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  state.counters["frames_per_second"] = static_cast<double>(received.load() - 1) / seconds;
  state.counters["lost"] = static_cast<double>(sent - received.load());
  state.counters["reordered"] = static_cast<double>(reordered.load());
  state.counters["other_frames"] = static_cast<double>(others.load());
  h.send(feed, JPlotFeed::kEnable, 0);
  stop = true;
  server.join();
}
BENCHMARK(BM_FeedIntoSceneview)->Iterations(500000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
