#pragma once
// The digit link: Callwatch's side of the wire to Loomwork's tone digit receiver. Each forwarded
// touch-tone digit travels as one 4-byte message, 'a' 'b' DIGIT 0, over a TCP connection that
// the first digit of a call opens and the end of the call closes. The receiver's host is the
// first line of "connect.txt"; every step is traced to "test.txt". Both files are in the link's
// folder (the current directory unless set up otherwise).
//
// Runs on Callwatch's user-interface thread; nothing here is safe to call from two threads.
#include <functional>
#include <memory>
#include <string>

#include "link/DigitSocket.h"
#include "link/DigitTrace.h"
#include "link/SocketLayer.h"

// Where a message call's digits go. The program sends them over CDigitLink; tests may keep them.
class IDigitLink {
public:
  virtual ~IDigitLink() = default;
  // Sends one digit, making the link first when there is none.
  virtual void SendDigitToLoomwork(char c) = 0;
  // Closes the link and its trace file.
  virtual void EndDataToLoomwork() = 0;
};

// What the link reaches outside itself. Callwatch keeps the defaults; tests put their own in
// place (taken by the next connection that is made).
struct CDigitLinkSetup {
  CSocketLayer* sockets = &CSocketLayer::system();
  CDigitSocket::Pause pause;  // between tries; empty: the thread sleeps
  int port = CDigitSocket::kLoomworkPort;
  std::string folder;  // of "connect.txt" and "test.txt"; empty: current directory
};

// The link as Callwatch holds it between digits: the connection of the current message call,
// its trace file and the host read from "connect.txt".
class CDigitLink : public IDigitLink {
public:
  explicit CDigitLink(CDigitLinkSetup setup = {});
  ~CDigitLink() override;  // the socket closed, the trace file too
  CDigitLink(const CDigitLink&) = delete;
  CDigitLink& operator=(const CDigitLink&) = delete;

  void SendDigitToLoomwork(char c) override;
  void EndDataToLoomwork() override;

  CDigitLinkSetup& Setup() { return m_setup; }
  // The current connection, nullptr while no link exists.
  const CDigitSocket* Socket() const { return m_socket.get(); }

private:
  std::string PathOf(const char* name) const;
  void DropSocket();

  CDigitLinkSetup m_setup;
  std::unique_ptr<CDigitSocket> m_socket;  // absent while no link exists
  CDigitTrace m_trace;
  std::string m_host;
};

// The receiver's host from the first line of a "connect.txt" file: at most kMaxHostLine
// characters, up to two trailing control characters (CR, LF) removed, kDefaultHost when the line
// is empty. A missing file gives kLoopbackHost and the trace line "No connect.txt file".
constexpr int kMaxHostLine = 98;
extern const char* const kLoopbackHost;
extern const char* const kDefaultHost;
std::string ReadLoomworkHost(const std::string& path, CDigitTrace& trace);
