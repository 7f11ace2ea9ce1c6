// The speech modules on the real engines: JVoiceOutObj speaks "lights on", "lights off", "open
// the door" and the ten digits in both voices into WAVE files; JVoiceCommandObj hears them again.
//   accuracy: the 26 items from one WAVE file, read as fast as they decode (items right, and how
//             many times faster than real time the decoding runs)
//   latency:  the same recording played into a FIFO in real time; from the end of each utterance
//             (its last loud sample written) to the broadcast of its code: median and 90th percentile
// Run: build-bench-speech/bin/bench_speech
#include <benchmark/benchmark.h>

#if __has_include("JVoiceCommandObj.h")
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "tests/SpeechRoundTrip.h"
#include "testing/TempFolder.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Spoken {
  TempFolder tmp{"loomwork-bench-speech"};
  roundtrip::Recording rec;
  std::vector<int> expected;
  std::string wave, error;
  bool ok = false;

  Spoken() {
    const std::string folder = tmp.file("spoken");
    ::mkdir(folder.c_str(), 0700);
    if (!roundtrip::speakItems(folder, error)) return;
    std::vector<std::string> files;
    for (int i = 0; i < 26; ++i) {
      files.push_back(roundtrip::fileNumbered(folder, i + 1));
      expected.push_back(roundtrip::items()[static_cast<size_t>(i % 13)].code);
    }
    wave = tmp.file("all.wav");
    ok = roundtrip::joinFiles(files, 600, rec, error) && speech::writeWave(wave, rec.samples, 16000, error);
  }
};

Spoken& spoken() {
  static Spoken s;
  return s;
}

void placeRecognizer(JTestHarness& harness, JVoiceCommandObj*& in) {
  in = &harness.place<JVoiceCommandObj>("voice");
  in->phrases[0] = "lights on";
  in->phrases[1] = "lights off";
  in->phrases[2] = "open the door";
}

void BM_SpeechAccuracy(benchmark::State& state) {
  Spoken& s = spoken();
  if (!s.ok) {
    state.SkipWithError(s.error.c_str());
    return;
  }
  int right = 0;
  for (auto _ : state) {
    ::setenv("LOOMWORK_SPEECH_OUTPUT", s.tmp.path().c_str(), 1);
    ::setenv("LOOMWORK_SPEECH_INPUT", s.wave.c_str(), 1);
    JTestHarness harness;
    JVoiceCommandObj* in = nullptr;
    placeRecognizer(harness, in);
    harness.send(*in, 0, 1);
    JVoiceCommandObj::waitListenerDone(120000);
    harness.runFor(50);
    right = roundtrip::matched(s.expected, roundtrip::codesOf(harness.broadcastsOf(*in)));
    harness.send(*in, 0, 0);
  }
  const double seconds = static_cast<double>(s.rec.samples.size()) / 16000;
  state.counters["items"] = 26;
  state.counters["right"] = right;
  state.counters["accuracy_pct"] = 100.0 * right / 26;
  state.counters["audio_s"] = seconds;
  state.counters["x_realtime"] =
      benchmark::Counter(seconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SpeechAccuracy)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SpeechLatency(benchmark::State& state) {
  Spoken& s = spoken();
  if (!s.ok) {
    state.SkipWithError(s.error.c_str());
    return;
  }
  std::vector<double> latencies;
  for (auto _ : state) {
    const std::string fifo = s.tmp.file("in.fifo");
    ::unlink(fifo.c_str());
    ::mkfifo(fifo.c_str(), 0600);
    ::setenv("LOOMWORK_SPEECH_OUTPUT", s.tmp.path().c_str(), 1);
    ::setenv("LOOMWORK_SPEECH_INPUT", fifo.c_str(), 1);
    JTestHarness harness;
    JVoiceCommandObj* in = nullptr;
    placeRecognizer(harness, in);
    harness.send(*in, 0, 1);

    // The recording in 20 ms pieces at the pace of speech; when each utterance's end went out.
    std::vector<Clock::time_point> ends(s.rec.speechEnds.size());
    std::atomic<size_t> endsWritten{0};
    std::atomic<bool> done{false};
    std::thread writer([&] {
      int fd = ::open(fifo.c_str(), O_WRONLY);
      const size_t piece = 320;
      const auto start = Clock::now();
      size_t next = 0;
      for (size_t at = 0; at < s.rec.samples.size(); at += piece) {
        std::this_thread::sleep_until(start + std::chrono::microseconds(at * 1000000 / 16000));
        const size_t n = std::min(piece, s.rec.samples.size() - at);
        if (::write(fd, s.rec.samples.data() + at, n * 2) < 0) break;
        const auto now = Clock::now();
        while (next < ends.size() && s.rec.speechEnds[next] <= at + n) ends[next++] = now;
        endsWritten.store(next);
      }
      ::close(fd);
      done.store(true);
    });
    size_t seen = 0;
    std::vector<bool> taken(ends.size(), false);
    harness.runUntil(
        [&] {
          const size_t codes = roundtrip::codesOf(harness.broadcastsOf(*in)).size();
          if (codes > seen) {
            const auto now = Clock::now();
            // The latest utterance already ended and not yet answered.
            for (size_t i = endsWritten.load(); i-- > 0;) {
              if (taken[i]) break;
              if (ends[i] <= now) {
                taken[i] = true;
                latencies.push_back(std::chrono::duration<double, std::milli>(now - ends[i]).count());
                break;
              }
            }
            seen = codes;
          }
          return done.load() && codes >= 26;
        },
        static_cast<int>(s.rec.samples.size() / 16) + 3000);
    writer.join();
    harness.send(*in, 0, 0);
  }
  std::sort(latencies.begin(), latencies.end());
  if (!latencies.empty()) {
    state.counters["answered"] = static_cast<double>(latencies.size());
    state.counters["median_ms"] = latencies[latencies.size() / 2];
    state.counters["p90_ms"] = latencies[latencies.size() * 9 / 10];
    state.counters["max_ms"] = latencies.back();
  }
}
BENCHMARK(BM_SpeechLatency)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
#endif

BENCHMARK_MAIN();
