// The page reader: its decoder on a 1 MiB response fed in the pieces a read gives, and a whole
// fetch of a 50 MB page from a server on loopback (connect, request, read, decode, publish).
// Reported: bytes per second, heap allocations per decoded response (goal: none, so memory stays
// bounded however long the page), and seconds per 50 MB fetch (goal: under 0.3 s).
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include "AllocationCounter.h"
#include "JPageReaderObj.h"
#include "testing/Harness.h"
#include "testing/Loopback.h"

namespace {
// Headers, the body with its values, then small letters up to `size` bytes: the decoder reads
// every byte after the values (a run goes on to the end of the response).
std::string Response(size_t size, bool withLength) {
  const std::string start = "<html><body>\n<pre>aaFF1540C8 ";
  std::string body = start;
  const std::string line = "small letters and spaces, some aa and a few f letters, line after line\n";
  while (body.size() + line.size() < size) body += line;
  std::string head = "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n";
  if (withLength) head += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  return head + "\r\n" + body;
}

void Decode(benchmark::State& state, size_t piece) {
  const std::string page = Response(1u << 20, false);
  const auto* bytes = reinterpret_cast<const uint8_t*>(page.data());
  const size_t n = page.size();
  PageDecoder d;
  long long allocated = 0;
  for (auto _ : state) {
    const long long before = allocationCount();
    d.reset();
    for (size_t at = 0; at < n; at += piece) d.feed(bytes + at, std::min(piece, n - at));
    d.finish();
    allocated += allocationCount() - before;
    benchmark::DoNotOptimize(d.values[0]);
  }
  if (d.count() != 3 || d.values[0] != 21 || d.values[2] != 200) state.SkipWithError("wrong values");
  state.SetBytesProcessed(static_cast<long long>(state.iterations()) * static_cast<long long>(n));
  state.counters["allocs/response"] =
      benchmark::Counter(static_cast<double>(allocated) / static_cast<double>(state.iterations()));
  if (allocated != 0) state.SkipWithError("heap allocation while decoding");
}

void BM_DecodeIn50BytePieces(benchmark::State& state) { Decode(state, 50); }
void BM_DecodeIn64KiBPieces(benchmark::State& state) { Decode(state, 64 * 1024); }
BENCHMARK(BM_DecodeIn50BytePieces);
BENCHMARK(BM_DecodeIn64KiBPieces);

// Serves one response to every connection: reads the request, sends, closes.
class PageServer {
public:
  explicit PageServer(std::string response) : response_(std::move(response)) {
    listener_ = listenOnLoopback(0, 8, port_);
    thread_ = std::thread([this] { serve(); });
  }
  ~PageServer() {
    stop_ = true;
    thread_.join();
    if (listener_ >= 0) ::close(listener_);
  }
  int port() const { return port_; }

private:
  void serve() {
    while (!stop_) {
      pollfd p{listener_, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      const int fd = ::accept(listener_, nullptr, nullptr);
      if (fd < 0) continue;
      char request[4096];
      (void)::recv(fd, request, sizeof request, 0);
      size_t done = 0;
      while (done < response_.size()) {
        const ssize_t w = ::send(fd, response_.data() + done, response_.size() - done, MSG_NOSIGNAL);
        if (w <= 0) break;
        done += static_cast<size_t>(w);
      }
      ::shutdown(fd, SHUT_WR);
      ::close(fd);
    }
  }
  std::string response_;
  int listener_ = -1;
  int port_ = -1;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

void Fetch(benchmark::State& state, bool withLength) {
  const std::string response = Response(50u * 1000 * 1000, withLength);
  PageServer server(response);
  JTestHarness harness;
  auto& page = harness.place<JPageReaderObj>("page");
  {
    JCriticalSection::Lock guard(page.texts.lock);
    page.texts.address = JString("127.0.0.1");
  }
  page.port = server.port();
  bool right = true;
  for (auto _ : state) {
    harness.send(page, 0, 1);
    if (!harness.runUntil([&] { return !page.fetching(); }, 30000)) {
      state.SkipWithError("the fetch did not end");
      break;
    }
    harness.runPending();
    right = right && page.published.load() && page.values[0].load() == 21 && page.values[2].load() == 200;
    harness.send(page, 0, 0);
  }
  if (!right) state.SkipWithError("wrong values");
  state.SetBytesProcessed(static_cast<long long>(state.iterations()) * static_cast<long long>(response.size()));
}

void BM_Fetch50MBPageToTheClose(benchmark::State& state) { Fetch(state, false); }
void BM_Fetch50MBPageWithContentLength(benchmark::State& state) { Fetch(state, true); }
BENCHMARK(BM_Fetch50MBPageToTheClose)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Fetch50MBPageWithContentLength)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
}  // namespace

BENCHMARK_MAIN();
