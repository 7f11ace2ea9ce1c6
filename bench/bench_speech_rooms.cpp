// The voice command recognizer on labelled recordings, as a user's room would give them: for
// each folder of WAVE files, the share of commands recognised right, the share of utterances
// that must be rejected (phrases outside the grammar, sounds that are not speech) and were, and
// the latency from the end of speech to the broadcast, live through a FIFO.
//
//   bench_speech_rooms [benchmark flags] [CORPUS] [--reject N] [--latency FOLDER] [--latency-files K]
//
// CORPUS/labels.txt names the utterances, one a line: "FILE END_S WORDS", FILE relative to
// CORPUS, END_S the end of the utterance's speech in seconds, WORDS the command heard ("lights
// on", "seven") or "-" for one that must be rejected. A file holds either commands only or
// rejects only. Every first folder of FILE is one row. bench/make_speech_corpus.py makes such a
// corpus, and is run into a temporary folder when CORPUS is not given. --reject sets the
// recognizer's "reject level" (default: the module's own); latency is measured on the first K
// files (default 2) of FOLDER (default "clean").
#include <benchmark/benchmark.h>

#include <cstdio>

#if __has_include("JVoiceCommandObj.h")
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "SpeechGrammar.h"
#include "tests/SpeechRoundTrip.h"
#include "testing/TempFolder.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Utterance {
  double endS;
  int code;  // -1: must be rejected
};

struct Corpus {
  std::string root;
  std::map<std::string, std::vector<Utterance>> files;  // ordered: rows come out sorted
  int reject = -1;                                      // -1: the module's default
  std::string latencyFolder = "clean";
  int latencyFiles = 2;
};

Corpus corpus;

int codeOf(const std::string& words) {
  if (words == "-") return -1;
  const std::string w = speech::normalise(words);
  for (const auto& item : roundtrip::items())
    if (speech::normalise(item.text) == w) return item.code;
  return -2;
}

bool readLabels(std::string& why) {
  std::ifstream in(corpus.root + "/labels.txt");
  if (!in) {
    why = corpus.root + "/labels.txt: cannot be read";
    return false;
  }
  std::string line;
  int n = 0;
  while (std::getline(in, line)) {
    ++n;
    if (line.empty() || line[0] == '#') continue;
    std::istringstream s(line);
    std::string file, words, w;
    double end = 0;
    if (!(s >> file >> end)) {
      why = "labels.txt:" + std::to_string(n) + ": FILE END_S WORDS wanted";
      return false;
    }
    while (s >> w) words += (words.empty() ? "" : " ") + w;
    const int code = codeOf(words);
    if (code == -2) {
      why = "labels.txt:" + std::to_string(n) + ": \"" + words + "\" is no command";
      return false;
    }
    corpus.files[file].push_back({end, code});
  }
  return !corpus.files.empty();
}

std::string listOf(const std::vector<int>& codes) {
  std::string s;
  for (int c : codes) s += (s.empty() ? "" : " ") + std::to_string(c);
  return "[" + s + "]";
}

std::string folderOf(const std::string& file) {
  const size_t slash = file.find('/');
  return slash == std::string::npos ? "." : file.substr(0, slash);
}

JVoiceCommandObj& placeRecognizer(JTestHarness& harness) {
  JVoiceCommandObj& in = harness.place<JVoiceCommandObj>("voice");
  in.phrases[0] = "lights on";
  in.phrases[1] = "lights off";
  in.phrases[2] = "open the door";
  int index = 0;
  if (corpus.reject >= 0) {
    const JSetting* row = in.settings()->byProperty("reject level", index);
    if (row) row->applyText(in, index, std::to_string(corpus.reject));
  }
  return in;
}

// Every file of a folder read as fast as it decodes.
void BM_Folder(benchmark::State& state, const std::string& folder) {
  int utterances = 0, right = 0, toReject = 0, accepted = 0, worstRight = 1000, worstAccepted = 0;
  double audio = 0;
  for (auto _ : state) {
    for (const auto& [file, labels] : corpus.files) {
      if (folderOf(file) != folder) continue;
      const std::string path = corpus.root + "/" + file;
      ::setenv("LOOMWORK_SPEECH_INPUT", path.c_str(), 1);
      JTestHarness harness;
      JVoiceCommandObj& in = placeRecognizer(harness);
      harness.send(in, 0, 1);
      JVoiceCommandObj::waitListenerDone(300000);
      harness.runFor(20);
      const std::vector<int> got = roundtrip::codesOf(harness.broadcastsOf(in));
      harness.send(in, 0, 0);
      std::vector<int> expected;
      for (const auto& u : labels)
        if (u.code >= 0) expected.push_back(u.code);
      const int fileRight = roundtrip::matched(expected, got);
      const int rejects = static_cast<int>(labels.size() - expected.size());
      utterances += static_cast<int>(expected.size());
      right += fileRight;
      toReject += rejects;
      if (!expected.empty()) worstRight = std::min(worstRight, fileRight);
      if (rejects > 0) {
        const int a = std::min(rejects, static_cast<int>(got.size()));
        accepted += a;
        worstAccepted = std::max(worstAccepted, a);
      }
      audio += labels.back().endS + 1;
      std::printf(
          "  %-36s %s\n", file.c_str(),
          expected.empty()
              ? ("accepted " + std::to_string(got.size()) + " of " + std::to_string(rejects)).c_str()
              : (std::to_string(fileRight) + " of " + std::to_string(expected.size()) + " right: " + listOf(got))
                    .c_str());
      std::fflush(stdout);
    }
  }
  if (utterances > 0) {
    state.counters["commands"] = utterances;
    state.counters["right_pct"] = 100.0 * right / utterances;
    state.counters["worst_file_right"] = worstRight;
  }
  if (toReject > 0) {
    state.counters["to_reject"] = toReject;
    state.counters["rejected_pct"] = 100.0 * (toReject - accepted) / toReject;
    state.counters["worst_file_accepted"] = worstAccepted;
  }
  state.counters["x_realtime"] = benchmark::Counter(audio, benchmark::Counter::kIsRate);
}

// Files played into a FIFO at the pace of speech: from the moment each utterance's end was
// written to the broadcast of a code.
void BM_Latency(benchmark::State& state) {
  std::vector<double> latencies;
  int answered = 0, utterances = 0;
  for (auto _ : state) {
    TempFolder tmp{"loomwork-bench-rooms"};
    int done = 0;
    for (const auto& [file, labels] : corpus.files) {
      if (folderOf(file) != corpus.latencyFolder || done >= corpus.latencyFiles) continue;
      ++done;
      std::vector<int16_t> samples;
      int rate = 0;
      std::string why;
      if (!speech::readMonoWave(corpus.root + "/" + file, samples, rate, why) || rate != 16000) continue;
      const std::string fifo = tmp.file("in.fifo");
      ::unlink(fifo.c_str());
      ::mkfifo(fifo.c_str(), 0600);
      ::setenv("LOOMWORK_SPEECH_INPUT", fifo.c_str(), 1);
      JTestHarness harness;
      JVoiceCommandObj& in = placeRecognizer(harness);
      harness.send(in, 0, 1);
      utterances += static_cast<int>(labels.size());

      std::vector<Clock::time_point> ends(labels.size());
      std::atomic<size_t> endsWritten{0};
      std::atomic<bool> finished{false};
      std::thread writer([&] {
        int fd = ::open(fifo.c_str(), O_WRONLY);
        const size_t piece = 320;  // 20 ms
        const auto start = Clock::now();
        size_t next = 0;
        for (size_t at = 0; at < samples.size(); at += piece) {
          std::this_thread::sleep_until(start + std::chrono::microseconds(at * 1000000 / 16000));
          const size_t n = std::min(piece, samples.size() - at);
          if (::write(fd, samples.data() + at, n * 2) < 0) break;
          const auto now = Clock::now();
          while (next < ends.size() && labels[next].endS * 16000 <= static_cast<double>(at + n)) ends[next++] = now;
          endsWritten.store(next);
        }
        ::close(fd);
        finished.store(true);
      });
      size_t seen = 0;
      std::vector<bool> taken(ends.size(), false);
      harness.runUntil(
          [&] {
            const size_t codes = roundtrip::codesOf(harness.broadcastsOf(in)).size();
            if (codes > seen) {
              const auto now = Clock::now();
              // The latest utterance already ended and not yet answered.
              for (size_t i = endsWritten.load(); i-- > 0;) {
                if (taken[i]) break;
                taken[i] = true;
                latencies.push_back(std::chrono::duration<double, std::milli>(now - ends[i]).count());
                break;
              }
              seen = codes;
            }
            return finished.load();
          },
          static_cast<int>(samples.size() / 16) + 5000);
      writer.join();
      harness.runFor(1500);  // the last utterance's answer
      harness.send(in, 0, 0);
    }
  }
  std::sort(latencies.begin(), latencies.end());
  answered = static_cast<int>(latencies.size());
  state.counters["utterances"] = utterances;
  state.counters["answered"] = answered;
  if (!latencies.empty()) {
    state.counters["median_ms"] = latencies[latencies.size() / 2];
    state.counters["p95_ms"] = latencies[std::min(latencies.size() - 1, latencies.size() * 95 / 100)];
    state.counters["max_ms"] = latencies.back();
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--reject" && i + 1 < argc) corpus.reject = std::atoi(argv[++i]);
    else if (a == "--latency" && i + 1 < argc) corpus.latencyFolder = argv[++i];
    else if (a == "--latency-files" && i + 1 < argc) corpus.latencyFiles = std::atoi(argv[++i]);
    else if (corpus.root.empty() && a[0] != '-') corpus.root = a;
    else {
      std::fprintf(stderr, "bench_speech_rooms: unknown argument %s\n", a.c_str());
      return 2;
    }
  }
  // Without a corpus, one is made from the synthesizers on this machine.
  TempFolder made{"loomwork-bench-rooms-corpus"};
  if (corpus.root.empty()) {
    const std::string command = "python3 '" LOOMWORK_SOURCE_DIR "/bench/make_speech_corpus.py' '" + made.path() + "'";
    if (std::system(command.c_str()) != 0) {
      std::fprintf(stderr,
                   "bench_speech_rooms: %s failed\nusage: bench_speech_rooms [benchmark flags] [CORPUS] [--reject N] "
                   "[--latency FOLDER] [--latency-files K]\n",
                   command.c_str());
      return 2;
    }
    corpus.root = made.path();
  }
  std::string why;
  if (!readLabels(why)) {
    std::fprintf(stderr, "bench_speech_rooms: %s\n", why.empty() ? "no utterances labelled" : why.c_str());
    return 2;
  }
  // The recognizer selects a text-to-speech engine as well: its audio goes to a folder.
  TempFolder out{"loomwork-bench-rooms-out"};
  ::setenv("LOOMWORK_SPEECH_OUTPUT", out.path().c_str(), 1);
  std::vector<std::string> folders;
  for (const auto& [file, labels] : corpus.files)
    if (std::find(folders.begin(), folders.end(), folderOf(file)) == folders.end()) folders.push_back(folderOf(file));
  for (const auto& f : folders)
    benchmark::RegisterBenchmark(("BM_Folder/" + f).c_str(), [f](benchmark::State& s) { BM_Folder(s, f); })
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
  if (corpus.latencyFiles > 0)
    benchmark::RegisterBenchmark("BM_Latency", BM_Latency)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

#else
int main() {
  std::fprintf(stderr, "bench_speech_rooms: built without the speech modules\n");
  return 2;
}
#endif
