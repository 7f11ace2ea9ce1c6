// The page reader's decoder on a 1 MiB response, fed as the fetch thread feeds it (pieces of at
// most the 50 bytes that complete a chunk) and in large pieces. Reported: bytes per second and
// heap allocations per response (goal: none: memory stays bounded however long the page).
#include <benchmark/benchmark.h>

#include <string>

#include "AllocationCounter.h"
#include "JPageReaderObj.h"

namespace {
// Headers, the body with its values, then text up to 1 MiB.
std::string Response() {
  std::string r = "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<html><body>\n<pre>aaFF1540C8 ";
  while (r.size() < (1u << 20)) r += "small letters and spaces, some aa and a few F letters, line after line\n";
  return r;
}

void Run(benchmark::State& state, int piece) {
  const std::string page = Response();
  const auto* bytes = reinterpret_cast<const uint8_t*>(page.data());
  const int n = static_cast<int>(page.size());
  PageDecoder d;
  long long allocated = 0;
  for (auto _ : state) {
    const long long before = allocationCount();
    d.reset();
    for (int at = 0; at < n;) {
      const int len = std::min(piece > 0 ? piece : d.room(), n - at);
      d.feed(bytes + at, len);
      at += len;
    }
    d.finish();
    allocated += allocationCount() - before;
    benchmark::DoNotOptimize(d.values[0]);
  }
  if (d.count() != 3 || d.values[0] != 21 || d.values[2] != 200) state.SkipWithError("wrong values");
  state.SetBytesProcessed(static_cast<long long>(state.iterations()) * n);
  state.counters["allocs/response"] =
      benchmark::Counter(static_cast<double>(allocated) / static_cast<double>(state.iterations()));
  if (allocated != 0) state.SkipWithError("heap allocation while decoding");
}

void BM_DecodeInChunkPieces(benchmark::State& state) { Run(state, 0); }
void BM_DecodeIn4KiBPieces(benchmark::State& state) { Run(state, 4096); }
BENCHMARK(BM_DecodeInChunkPieces);
BENCHMARK(BM_DecodeIn4KiBPieces);
}  // namespace

BENCHMARK_MAIN();
