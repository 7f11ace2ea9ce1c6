// The least an event stream to a page can cost on this machine, whatever serves it: a thread
// that wakes once a frame and sends a frame's bytes on a loopback TCP connection to a reader in
// another process (as the browser is). Set beside what the canvas's stream costs a run (see
// bench/canvas_cpu.py), it says how much of that is the stream's own doing.
//
// Counters: cpu_ms_per_s is this process's CPU (all threads, user and system) per second of
// frames; cpu_us_per_frame the same per frame. Arguments: frame period in ms, bytes per frame
// (0 = only the wake-up).
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

namespace {

double processCpuUs() {
  rusage r{};
  getrusage(RUSAGE_SELF, &r);
  return (r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1e6 + r.ru_utime.tv_usec + r.ru_stime.tv_usec;
}

// A connected loopback socket whose far end a child process reads and discards.
struct Reader {
  int fd = -1;
  pid_t child = -1;
  Reader() {
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&a), len) != 0 || listen(listener, 1) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len) != 0)
      return;
    child = fork();
    if (child == 0) {
      const int c = accept(listener, nullptr, nullptr);
      char buf[65536];
      while (c >= 0 && read(c, buf, sizeof buf) > 0) {}
      _exit(0);
    }
    close(listener);
    fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      close(fd);
      fd = -1;
    }
    int one = 1;
    if (fd >= 0) setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  }
  ~Reader() {
    if (fd >= 0) close(fd);
    if (child > 0) {
      kill(child, SIGTERM);
      waitpid(child, nullptr, 0);
    }
  }
};

void BM_StreamFrame(benchmark::State& state) {
  const auto period = std::chrono::milliseconds(state.range(0));
  const std::string frame(static_cast<size_t>(state.range(1)), 'x');
  Reader reader;
  if (reader.fd < 0) {
    state.SkipWithError("no loopback connection");
    return;
  }
  // A frame is a wake-up from a timed sleep and a send, as a server's stream thread does it.
  const double before = processCpuUs();
  int64_t frames = 0;
  auto next = std::chrono::steady_clock::now();
  for (auto _ : state) {
    for (int i = 0; i < 15; ++i) {
      next += period;
      std::this_thread::sleep_until(next);
      if (!frame.empty() && send(reader.fd, frame.data(), frame.size(), MSG_NOSIGNAL) < 0) {
        state.SkipWithError("the reader went");
        return;
      }
    }
    frames += 15;
  }
  const double cpuUs = processCpuUs() - before;
  const double seconds = static_cast<double>(frames) * static_cast<double>(state.range(0)) / 1000.0;
  state.counters["cpu_ms_per_s"] = cpuUs / 1000.0 / seconds;
  state.counters["cpu_us_per_frame"] = cpuUs / static_cast<double>(frames);
}

}  // namespace

// 66 ms: the canvas stream's frame period; 10 ms: a Timer's tick in the measured diagram.
BENCHMARK(BM_StreamFrame)->Args({66, 0})->Args({66, 600})->Args({10, 0})->Iterations(4)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
