#pragma once
// Plain TCP ends on 127.0.0.1 for tests of modules and programs that talk over sockets. Every
// wait is bounded and every read takes at most what the test asks for.
#include <string>

// A listener with one connection at a time.
class LoopbackServer {
public:
  explicit LoopbackServer(int port = 0);  // 0: a port the system picks
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  bool listening() const { return listener_ >= 0; }
  int port() const { return port_; }
  bool accept(int ms = 2000);  // takes a waiting peer (dropping the previous one) within ms
  bool connected() const { return conn_ >= 0; }
  // Reads until count bytes have come, the peer closes, or ms pass; returns what came.
  std::string read(size_t count, int ms = 2000);
  // Reads up to and without the next line feed (and a carriage return before it).
  bool readLine(std::string& line, int ms = 2000);
  bool send(const std::string& bytes);
  bool closedByPeer(int ms);  // whether the peer ended the connection within ms
  void closeConnection();
  void stop();

private:
  int listener_ = -1;
  int conn_ = -1;
  int port_ = 0;
  std::string pending_;  // read past the last line
};

// A connection to a loopback port.
class LoopbackClient {
public:
  explicit LoopbackClient(int port);
  ~LoopbackClient() { close(); }
  LoopbackClient(const LoopbackClient&) = delete;
  LoopbackClient& operator=(const LoopbackClient&) = delete;

  bool connected() const { return connected_; }
  bool send(const std::string& bytes);
  std::string read(size_t count, int ms = 2000);
  bool closedByPeer(int ms);
  void close();

private:
  int fd_ = -1;
  bool connected_ = false;
};

// A loopback port on which nothing listens (taken from the system, then given back).
int unusedLoopbackPort();

// A listening socket on 127.0.0.1:port (0: one the system picks), for test servers of their own;
// -1 when it cannot listen. boundPort gets the port it listens on.
int listenOnLoopback(int port, int backlog, int& boundPort);
