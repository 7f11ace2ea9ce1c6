#pragma once
// The digit link: Callwatch's side of the wire to Loomwork's tone digit receiver. Each forwarded
// touch-tone digit travels as one 4-byte message, 'a' 'b' DIGIT 0, over a TCP connection that
// the first digit of a call opens and the end of the call closes. The receiver's host is the
// first line of "connect.txt"; every step is traced to "test.txt". Both files are in the link's
// folder (the current directory unless set up otherwise).
//
// Runs on Callwatch's user-interface thread; nothing here is safe to call from two threads.
#include <functional>
#include <string>

#include "link/DigitSocket.h"
#include "link/DigitTrace.h"
#include "link/SocketLayer.h"

// Sends one digit, making the link first when there is none.
void SendDigitToLoomwork(char c);
// Closes the link and its trace file.
void EndDataToLoomwork();

// What the link reaches outside itself. Callwatch keeps the defaults; tests put their own in
// place (taken by the next link that is made).
struct CDigitLinkSetup {
  CSocketLayer* sockets = &CSocketLayer::system();
  CDigitSocket::Pause pause;          // between tries; empty: the thread sleeps
  int port = CDigitSocket::kLoomworkPort;
  std::string folder;                 // of "connect.txt" and "test.txt"; empty: current directory
};
CDigitLinkSetup& DigitLinkSetup();

// The current connection, nullptr while no link exists.
const CDigitSocket* DigitLinkSocket();

// The receiver's host from the first line of a "connect.txt" file: at most kMaxHostLine
// characters, up to two trailing control characters (CR, LF) removed, kDefaultHost when the line
// is empty. A missing file gives kLoopbackHost and the trace line "No connect.txt file".
constexpr int kMaxHostLine = 98;
extern const char* const kLoopbackHost;
extern const char* const kDefaultHost;
std::string ReadLoomworkHost(const std::string& path, CDigitTrace& trace);
