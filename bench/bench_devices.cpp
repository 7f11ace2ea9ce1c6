// Parsing speed of the device modules: NMEA sentences a second through JGeoFixObj's engine and
// Flock of Birds records a second through JMotionTrackerObj's engine, the bytes cut in blocks of
// 1 to 64 bytes as a serial line delivers them. Goals: at least 2 million sentences and 10
// million records a second, and no heap allocation per sentence or record once running
// (allocations are counted by the replaced global operator new, AllocationCounter.h).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "AllocationCounter.h"
#include "JGeoFixObj.h"
#include "JMotionTrackerObj.h"
#include "loom/JDiagram.h"

namespace {

// A serial port's byte output, handing out one prepared block after another without copying
// them anew (the receiver's own block takes the bytes).
class BlockSource : public JModuleObj {
public:
  BlockSource() {
    static const JPortTable none;
    static const JPortTable out{{kSideRight, 0.1, 0.8, {{"bytes", JBytesData::id}}}};
    setPorts(none, out);
  }
  const char* className() const override { return "BlockSource"; }
  JObject* clone() const override { return new BlockSource(*this); }
  void access(int, JLinkObj&, const JDataType& data) override { static_cast<const JBytesData&>(data) = *current; }
  const JBlock* current = nullptr;
};

std::vector<JBlock> cut(const std::string& bytes, int blockSize) {
  std::vector<JBlock> blocks;
  for (size_t at = 0; at < bytes.size(); at += static_cast<size_t>(blockSize))
    blocks.emplace_back(bytes.data() + at, static_cast<int>(std::min(bytes.size() - at, size_t(blockSize))));
  return blocks;
}

// "$BODY*hh\r\n" with the checksum that the receiver computes (XOR of the body's characters).
std::string sentence(const char* body) {
  unsigned sum = 0;
  for (const char* c = body; *c; ++c) sum ^= static_cast<unsigned char>(*c);
  char tail[8];
  std::snprintf(tail, sizeof tail, "*%02X\r\n", sum);
  return std::string("$") + body + tail;
}

// A receiver's second, over and over: GLL and GSV (handled) and GGA, RMC (ignored), each with its
// right checksum.
std::string nmeaLog(int epochs, int& handled) {
  std::string log;
  handled = 0;
  char s[128];
  for (int e = 0; e < epochs; ++e) {
    const double lat = 16.45 + e * 0.0011, lon = 11.12 - e * 0.0007;
    std::snprintf(s, sizeof s, "GPGGA,2254%02d.00,49%07.4f,N,123%07.4f,W,1,08,0.9,45.2,M,-16.8,M,,", e % 60, lat, lon);
    log += sentence(s);
    std::snprintf(s, sizeof s, "GPGLL,49%07.4f,N,123%07.4f,W,2254%02d.00,A,A", lat, lon, e % 60);
    log += sentence(s);
    log += sentence("GPGSV,3,1,11,22,05,283,30,13,42,116,40,23,79,202,41,14,19,203,36");
    log += sentence("GPGSV,3,2,11,03,49,306,35,17,55,035,47,18,09,257,32,12,50,111,20");
    log += sentence("GPGSV,3,3,11,05,12,101,33,09,33,201,44,31,60,330,39");
    std::snprintf(s, sizeof s, "GPRMC,2254%02d.00,A,49%07.4f,N,123%07.4f,W,27.2,40.0,081226,,,A", e % 60, lat, lon);
    log += sentence(s);
    handled += 4;
  }
  return log;
}

std::string trackerStream(int records) {
  std::string out;
  for (int i = 0; i < records; ++i) {
    for (int k = 0; k < 6; ++k) {
      const int d = static_cast<int>(8192 + 8000 * std::sin(i * 0.01 + k)) & 0x3FFF;
      out += static_cast<char>((d & 0x7F) | (k == 0 ? 0x80 : 0));
      out += static_cast<char>(d >> 7);
    }
  }
  return out;
}

template <class M>
struct Rig {
  Rig() {
    diagram.bindHostThread();
    source = static_cast<BlockSource*>(diagram.add(new BlockSource(), "serial"));
    module = static_cast<M*>(diagram.add(new M(), "device"));
    link = diagram.link(source, 0, module, 0);
  }
  // One pass over the blocks, each through engine(0) as the host delivers it.
  void pass(const std::vector<JBlock>& blocks) {
    for (const JBlock& b : blocks) {
      source->current = &b;
      module->engine(0, *link);
    }
  }
  JDiagram diagram;
  BlockSource* source;
  M* module;
  JLinkObj* link;
};

void report(benchmark::State& state, long long items, const char* name, long long allocated) {
  state.counters[name] = benchmark::Counter(static_cast<double>(items), benchmark::Counter::kIsRate);
  state.counters["allocs/item"] = benchmark::Counter(static_cast<double>(allocated) / static_cast<double>(items));
  if (allocated != 0) state.SkipWithError("heap allocation while parsing");
}

// With "any talker" 1 every GSV message goes through the cycle's sequences, published once a
// second (the GGA that follows ends the cycle).
void nmeaSentences(benchmark::State& state, int anyTalker) {
  int handled = 0;
  const std::string log = nmeaLog(60, handled);
  const auto blocks = cut(log, static_cast<int>(state.range(0)));
  Rig<JGeoFixObj> r;
  r.module->anyTalker = anyTalker;
  r.pass(blocks);  // warm: the receiving block and the texts have their room
  long long sentences = 0;
  const long long before = allocationCount();
  for (auto _ : state) {
    r.pass(blocks);
    sentences += handled + 120;  // the ignored GGA and RMC are assembled and looked at too
  }
  report(state, sentences, "sentences/s", allocationCount() - before);
  state.SetBytesProcessed(static_cast<long long>(state.iterations()) * static_cast<long long>(log.size()));
  benchmark::DoNotOptimize(r.module->satellites);
}
void BM_NmeaSentences(benchmark::State& state) { nmeaSentences(state, 0); }
BENCHMARK(BM_NmeaSentences)->Arg(1)->Arg(8)->Arg(16)->Arg(32)->Arg(64);
void BM_NmeaSentencesAnyTalker(benchmark::State& state) { nmeaSentences(state, 1); }
BENCHMARK(BM_NmeaSentencesAnyTalker)->Arg(1)->Arg(8)->Arg(16)->Arg(32)->Arg(64);

void BM_TrackerRecords(benchmark::State& state) {
  constexpr int kRecords = 1000;
  const std::string stream = trackerStream(kRecords);
  const auto blocks = cut(stream, static_cast<int>(state.range(0)));
  Rig<JMotionTrackerObj> r;
  r.pass(blocks);
  long long records = 0;
  const long long before = allocationCount();
  for (auto _ : state) {
    r.pass(blocks);
    records += kRecords;
  }
  report(state, records, "records/s", allocationCount() - before);
  state.SetBytesProcessed(static_cast<long long>(state.iterations()) * static_cast<long long>(stream.size()));
  benchmark::DoNotOptimize(r.module->values[0]);
}
BENCHMARK(BM_TrackerRecords)->Arg(1)->Arg(8)->Arg(16)->Arg(32)->Arg(64);

}  // namespace

BENCHMARK_MAIN();
