#include "page_reader_servers.h"

#include "testing/Loopback.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <sstream>

namespace {
using Clock = std::chrono::steady_clock;

int msLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}
}  // namespace

// ---------------------------------------------------------------------------- PythonHttpServer

PythonHttpServer::PythonHttpServer(const std::string& directory, const std::string& logFile) : logFile_(logFile) {
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) {
    failure_ = "pipe failed";
    return;
  }
  const int log = ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    if (log >= 0) dup2(log, 2);
    execlp("python3", "python3", "-u", "-m", "http.server", "0", "--bind", "127.0.0.1", "--directory",
           directory.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  ::close(out[1]);
  if (log >= 0) ::close(log);
  if (pid < 0) {
    ::close(out[0]);
    failure_ = "fork failed";
    return;
  }
  pid_ = pid;
  stdoutFd_ = out[0];
  // "Serving HTTP on 127.0.0.1 port 41234 (http://127.0.0.1:41234/) ..."
  std::string said;
  const auto deadline = Clock::now() + std::chrono::seconds(15);
  while (said.find('\n') == std::string::npos) {
    pollfd p{stdoutFd_, POLLIN, 0};
    if (::poll(&p, 1, msLeft(deadline)) <= 0) break;
    char buf[256];
    const ssize_t n = ::read(stdoutFd_, buf, sizeof buf);
    if (n <= 0) break;
    said.append(buf, static_cast<size_t>(n));
  }
  const size_t at = said.find(" port ");
  if (at != std::string::npos) port_ = std::atoi(said.c_str() + at + 6);
  if (port_ <= 0) {
    port_ = -1;
    failure_ = "python3 -m http.server did not start (is python3 installed?): said \"" + said + "\", logged \"" +
               readFile(logFile_) + "\"";
  }
}

PythonHttpServer::~PythonHttpServer() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    int status = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(2);
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
      if (msLeft(deadline) == 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  if (stdoutFd_ >= 0) ::close(stdoutFd_);
}

std::string PythonHttpServer::log() const { return readFile(logFile_); }

bool PythonHttpServer::waitForLog(const std::string& text, int ms) const {
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    if (log().find(text) != std::string::npos) return true;
    if (msLeft(deadline) == 0) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// ------------------------------------------------------------------------------- ScriptedServer

ScriptedServer::Script ScriptedServer::inPieces(const std::string& bytes, size_t size, int pauseMs) {
  Script s;
  for (size_t at = 0; at < bytes.size(); at += size) {
    if (at > 0 && pauseMs > 0) s.push_back(pause(pauseMs));
    s.push_back(send(bytes.substr(at, size)));
  }
  return s;
}

ScriptedServer::ScriptedServer(Script script, int port) : script_(std::move(script)) {
  listener_ = listenOnLoopback(port, 8, port_);
  if (listener_ < 0) return;
  thread_ = std::thread([this] { serve(); });
}

ScriptedServer::~ScriptedServer() {
  {
    std::lock_guard<std::mutex> g(m_);
    stop_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
  if (listener_ >= 0) ::close(listener_);
}

int ScriptedServer::connections() const {
  std::lock_guard<std::mutex> g(m_);
  return connections_;
}

std::vector<std::string> ScriptedServer::requests() const {
  std::lock_guard<std::mutex> g(m_);
  return requests_;
}

bool ScriptedServer::waitConnections(int n, int ms) const {
  std::unique_lock<std::mutex> lock(m_);
  return changed_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return connections_ >= n; });
}

bool ScriptedServer::waitRequests(int n, int ms) const {
  std::unique_lock<std::mutex> lock(m_);
  return changed_.wait_for(lock, std::chrono::milliseconds(ms),
                           [&] { return static_cast<int>(requests_.size()) >= n; });
}

bool ScriptedServer::waitClientGone(int ms) const {
  std::unique_lock<std::mutex> lock(m_);
  return changed_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return clientGone_; });
}

void ScriptedServer::release() {
  {
    std::lock_guard<std::mutex> g(m_);
    released_ = true;
  }
  changed_.notify_all();
}

void ScriptedServer::serve() {
  while (!stopped()) {
    pollfd p{listener_, POLLIN, 0};
    if (::poll(&p, 1, 20) <= 0) continue;
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    {
      std::lock_guard<std::mutex> g(m_);
      ++connections_;
      clientGone_ = false;
    }
    changed_.notify_all();
    // The request: up to the blank line that ends it, at most 8 KiB, at most 2 s.
    std::string request;
    const auto deadline = Clock::now() + std::chrono::seconds(2);
    while (request.find("\r\n\r\n") == std::string::npos && request.find("\n\n") == std::string::npos &&
           request.size() < 8192 && !stopped()) {
      pollfd q{fd, POLLIN, 0};
      if (::poll(&q, 1, std::min(msLeft(deadline), 20)) <= 0) {
        if (msLeft(deadline) == 0) break;
        continue;
      }
      char buf[1024];
      const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n <= 0) break;
      request.append(buf, static_cast<size_t>(n));
    }
    {
      std::lock_guard<std::mutex> g(m_);
      requests_.push_back(request);
    }
    changed_.notify_all();
    runScript(fd);
  }
}

// Waits (in short slices, for the stop) until the client has gone, released is set (when asked
// for) or the deadline passes; true when the client has gone.
namespace {
bool clientLeft(int fd) {
  pollfd p{fd, POLLIN, 0};
  if (::poll(&p, 1, 0) <= 0) return false;
  char buf[512];
  const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
  return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}
}  // namespace

void ScriptedServer::runScript(int fd) {
  bool gone = false;
  bool resetDone = false;
  for (const Step& step : script_) {
    if (stopped() || gone) break;
    switch (step.kind) {
      case Step::kSend: {
        size_t done = 0;
        while (done < step.bytes.size() && !stopped()) {
          const ssize_t w = ::send(fd, step.bytes.data() + done, step.bytes.size() - done, MSG_NOSIGNAL);
          if (w <= 0) {
            gone = true;
            break;
          }
          done += static_cast<size_t>(w);
          sent_ += w;
        }
        break;
      }
      case Step::kPause: {
        std::unique_lock<std::mutex> lock(m_);
        changed_.wait_for(lock, std::chrono::milliseconds(step.ms), [&] { return stop_.load(); });
        break;
      }
      case Step::kHold: {
        for (;;) {
          {
            std::unique_lock<std::mutex> lock(m_);
            if (changed_.wait_for(lock, std::chrono::milliseconds(10), [&] { return stop_.load() || released_; }))
              break;
          }
          if (clientLeft(fd)) {
            gone = true;
            break;
          }
        }
        break;
      }
      case Step::kSendForever: {
        long long total = 0;
        const auto deadline = Clock::now() + std::chrono::seconds(60);
        while (!stopped() && total < step.limit && msLeft(deadline) > 0) {
          pollfd p{fd, POLLOUT, 0};
          if (::poll(&p, 1, 10) <= 0) {
            if (clientLeft(fd)) {
              gone = true;
              break;
            }
            continue;
          }
          const ssize_t w = ::send(fd, step.bytes.data(), step.bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
          if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) continue;
          if (w <= 0) {
            gone = true;
            break;
          }
          total += w;
          sent_ += w;
        }
        break;
      }
      case Step::kReset: {
        linger l{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        ::close(fd);
        resetDone = true;
        gone = true;
        break;
      }
    }
    if (resetDone) break;
  }
  if (!resetDone) {
    // An orderly end, then wait (bounded) for the client to close its side too.
    ::shutdown(fd, SHUT_WR);
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (!gone && !stopped() && msLeft(deadline) > 0) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 10) > 0 && clientLeft(fd)) gone = true;
    }
    ::close(fd);
  }
  {
    std::lock_guard<std::mutex> g(m_);
    clientGone_ = gone;
  }
  changed_.notify_all();
}
