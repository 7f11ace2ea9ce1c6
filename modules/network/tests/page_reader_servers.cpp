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
#include <cstdlib>
#include <filesystem>
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

// ---------------------------------------------------------------------------- DebianWebServer

const std::vector<std::string>& DebianWebServer::names() {
  static const std::vector<std::string> all = {"lighttpd", "nginx", "busybox", "mini_httpd", "webfsd"};
  return all;
}

std::string DebianWebServer::binaryOf(const std::string& name) {
  std::string dirs = std::getenv("PATH") ? std::getenv("PATH") : "";
  dirs += ":/usr/sbin:/sbin:/usr/bin:/bin";
  std::stringstream in(dirs);
  std::string dir;
  while (std::getline(in, dir, ':')) {
    if (dir.empty()) continue;
    const std::string path = dir + "/" + name;
    if (::access(path.c_str(), X_OK) == 0) return path;
  }
  return "";
}

namespace {
void writeFile(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

bool answers(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(port));
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
  ::close(fd);
  return ok;
}
}  // namespace

DebianWebServer::DebianWebServer(const std::string& name, const std::string& docRoot, const std::string& workDir) {
  if (binaryOf(name).empty()) {
    failure_ = name + " is not installed";
    return;
  }
  // The port was free a moment ago; another process may take it first: try again on another.
  for (int attempt = 0; attempt < 3 && !running(); ++attempt) {
    if (start(name, docRoot, workDir, unusedLoopbackPort())) return;
    stop();
  }
}

DebianWebServer::~DebianWebServer() { stop(); }

bool DebianWebServer::start(const std::string& name, const std::string& docRoot, const std::string& workDir, int port) {
  const std::string p = std::to_string(port);
  std::vector<std::string> args;
  if (name == "lighttpd") {
    writeFile(workDir + "/lighttpd.conf", "server.document-root = \"" + docRoot + "\"\nserver.bind = \"127.0.0.1\"\n" +
                                              "server.port = " + p + "\nserver.errorlog = \"" + workDir +
                                              "/lighttpd.log\"\nmimetype.assign = ( \".html\" => \"text/html\" )\n");
    args = {"-D", "-f", workDir + "/lighttpd.conf"};
  } else if (name == "nginx") {
    const std::string w = workDir + "/nginx";
    std::filesystem::create_directories(w);
    writeFile(w + "/nginx.conf", "daemon off;\nmaster_process off;\nworker_processes 1;\npid " + w +
                                     "/nginx.pid;\nerror_log " + w +
                                     "/error.log;\nevents { worker_connections 64; }\n" + "http {\n access_log " + w +
                                     "/access.log;\n client_body_temp_path " + w + "/body;\n proxy_temp_path " + w +
                                     "/proxy;\n fastcgi_temp_path " + w + "/fastcgi;\n uwsgi_temp_path " + w +
                                     "/uwsgi;\n scgi_temp_path " + w + "/scgi;\n server { listen 127.0.0.1:" + p +
                                     "; root " + docRoot + "; }\n}\n");
    args = {"-p", w, "-c", w + "/nginx.conf"};
  } else if (name == "busybox") {
    args = {"httpd", "-f", "-p", "127.0.0.1:" + p, "-h", docRoot};
  } else if (name == "mini_httpd") {
    args = {"-D", "-h", "127.0.0.1", "-p", p, "-d", docRoot, "-l", workDir + "/mini_httpd.log"};
  } else if (name == "webfsd") {
    args = {"-F", "-i", "127.0.0.1", "-p", p, "-r", docRoot};
  } else {
    failure_ = "no such server: " + name;
    return false;
  }
  const std::string program = binaryOf(name);
  const std::string log = workDir + "/" + name + ".out";
  const pid_t pid = fork();
  if (pid == 0) {
    const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
      dup2(fd, 1);
      dup2(fd, 2);
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  if (pid < 0) {
    failure_ = "fork failed";
    return false;
  }
  pid_ = pid;
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (msLeft(deadline) > 0) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      failure_ = name + " ended at once: " + readFile(log);
      return false;
    }
    if (answers(port)) {
      port_ = port;
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  failure_ = name + " did not answer on port " + p + ": " + readFile(log);
  return false;
}

void DebianWebServer::stop() {
  if (pid_ <= 0) return;
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
  pid_ = -1;
  port_ = -1;
}

// ----------------------------------------------------------------------------- UnansweredPort

UnansweredPort::UnansweredPort() {
  listener_ = listenOnLoopback(0, 0, port_);
  if (listener_ < 0) return;
  filler_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(port_));
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (filler_ >= 0 && ::connect(filler_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    ::close(filler_);
    filler_ = -1;
  }
}

UnansweredPort::~UnansweredPort() {
  if (filler_ >= 0) ::close(filler_);
  if (listener_ >= 0) ::close(listener_);
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

namespace {
int listenOnIPv6Loopback(int port, int backlog, int& boundPort) {
  const int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in6 sa{};
  sa.sin6_family = AF_INET6;
  sa.sin6_port = htons(static_cast<uint16_t>(port));
  sa.sin6_addr = in6addr_loopback;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(fd, backlog) != 0) {
    ::close(fd);
    return -1;
  }
  socklen_t len = sizeof sa;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
  boundPort = ntohs(sa.sin6_port);
  return fd;
}
}  // namespace

ScriptedServer::ScriptedServer(Script script, int port, bool ipv6) : script_(std::move(script)) {
  listener_ = ipv6 ? listenOnIPv6Loopback(port, 8, port_) : listenOnLoopback(port, 8, port_);
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
