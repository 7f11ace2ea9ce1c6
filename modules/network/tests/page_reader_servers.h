#pragma once
// Real HTTP servers on 127.0.0.1 for the page reader's tests: Python's http.server and Debian's
// web servers run as child processes, and a scripted server of our own for what a well-behaved
// server never does (stalling, resetting, never closing, cutting the response into any pieces).
// Every wait is bounded.
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// `python3 -m http.server 0 --bind 127.0.0.1 --directory DIR`, with its log (standard error) in
// a file. The port is the one the server says it took.
class PythonHttpServer {
public:
  explicit PythonHttpServer(const std::string& directory, const std::string& logFile);
  ~PythonHttpServer();  // SIGTERM, then SIGKILL if it has not ended within 2 s
  PythonHttpServer(const PythonHttpServer&) = delete;
  PythonHttpServer& operator=(const PythonHttpServer&) = delete;

  bool running() const { return port_ > 0; }
  int port() const { return port_; }
  const std::string& failure() const { return failure_; }  // why it did not start
  std::string log() const;                                 // what it has logged so far
  // Waits until the log holds `text` (the server logs each request after answering it).
  bool waitForLog(const std::string& text, int ms) const;

private:
  int pid_ = -1;
  int port_ = -1;
  int stdoutFd_ = -1;
  std::string logFile_;
  std::string failure_;
};

// One of Debian's web servers ("lighttpd", "nginx", "busybox" (its httpd), "mini_httpd",
// "webfsd"), run in the foreground as a child process on 127.0.0.1 and a port that was free, with
// its configuration and logs in workDir, serving docRoot.
class DebianWebServer {
public:
  static const std::vector<std::string>& names();
  // The server's program, looked for on the PATH and in the system folders; "" when absent.
  static std::string binaryOf(const std::string& name);

  DebianWebServer(const std::string& name, const std::string& docRoot, const std::string& workDir);
  ~DebianWebServer();  // SIGTERM, then SIGKILL if it has not ended within 2 s
  DebianWebServer(const DebianWebServer&) = delete;
  DebianWebServer& operator=(const DebianWebServer&) = delete;

  bool running() const { return port_ > 0; }
  int port() const { return port_; }
  const std::string& failure() const { return failure_; }

private:
  bool start(const std::string& name, const std::string& docRoot, const std::string& workDir, int port);
  void stop();
  int pid_ = -1;
  int port_ = -1;
  std::string failure_;
};

// A port on 127.0.0.1 where a connection attempt gets no answer: a listener whose one place in
// its queue is taken, so that the system drops every further attempt unanswered.
class UnansweredPort {
public:
  UnansweredPort();
  ~UnansweredPort();
  UnansweredPort(const UnansweredPort&) = delete;
  UnansweredPort& operator=(const UnansweredPort&) = delete;
  bool ready() const { return filler_ >= 0; }
  int port() const { return port_; }

private:
  int listener_ = -1;
  int filler_ = -1;
  int port_ = -1;
};

// A server that answers every connection with the same script, after reading its request (up to
// the blank line that ends it).
class ScriptedServer {
public:
  struct Step {
    enum Kind {
      kSend,         // bytes
      kPause,        // ms
      kHold,         // wait for release(), the stop, or the client leaving
      kSendForever,  // bytes again and again until the client leaves or `limit` bytes are sent
      kReset,        // end with a reset (RST) instead of an orderly close
    } kind;
    std::string bytes;
    int ms = 0;
    long long limit = 0;
  };
  using Script = std::vector<Step>;

  static Step send(std::string bytes) { return {Step::kSend, std::move(bytes), 0, 0}; }
  static Step pause(int ms) { return {Step::kPause, {}, ms, 0}; }
  static Step hold() { return {Step::kHold, {}, 0, 0}; }
  static Step sendForever(std::string bytes, long long limit) {
    return {Step::kSendForever, std::move(bytes), 0, limit};
  }
  static Step reset() { return {Step::kReset, {}, 0, 0}; }
  // The bytes sent in pieces of `size`, with a pause between pieces (so that they reach the
  // client in separate reads).
  static Script inPieces(const std::string& bytes, size_t size, int pauseMs = 2);

  // On 127.0.0.1, or on ::1 with ipv6.
  explicit ScriptedServer(Script script, int port = 0, bool ipv6 = false);
  ~ScriptedServer();  // stops: ends holds and endless sends, closes, joins
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  bool listening() const { return port_ > 0; }
  int port() const { return port_; }
  int connections() const;                    // accepted so far
  std::vector<std::string> requests() const;  // each connection's request, as received
  bool waitConnections(int n, int ms) const;
  bool waitRequests(int n, int ms) const;
  // Whether the last connection has been seen to end from the client's side (in a hold or an
  // endless send, or after the script while the server waits for it to leave).
  bool waitClientGone(int ms) const;
  long long bytesSent() const { return sent_.load(); }
  void release();  // lets every hold go on

private:
  void serve();
  void runScript(int fd);
  bool stopped() const { return stop_.load(); }

  Script script_;
  int listener_ = -1;
  int port_ = -1;
  std::atomic<bool> stop_{false};
  std::atomic<long long> sent_{0};
  mutable std::mutex m_;
  mutable std::condition_variable changed_;
  int connections_ = 0;
  std::vector<std::string> requests_;
  bool released_ = false;
  bool clientGone_ = false;
  std::thread thread_;
};
