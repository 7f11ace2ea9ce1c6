#pragma once
// The operating system's sockets as the digit link uses them: one operation per call it makes,
// named after that call, so the link reads step by step and tests can put failures in its way.
// Results follow the socket library: -1 (kSocketError / kInvalidSocket) on failure, with the
// reason kept for lastError().
#include <netinet/in.h>

class CSocketLayer {
public:
  static constexpr int kInvalidSocket = -1;
  static constexpr int kSocketError = -1;
  // lastError() codes the link tells apart.
  static const int kNetworkUnreachable;
  static const int kTimedOut;
  static const int kWouldBlock;

  virtual ~CSocketLayer() = default;

  virtual int socket(int family, int type, int protocol) = 0;
  virtual int setsockopt(int s, int level, int name, const void* value, int length) = 0;
  // Looks a host name up as a TCP service on port: fills at most max addresses and returns how
  // many, or kSocketError.
  virtual int lookupName(const char* host, int port, sockaddr_in* found, int max) = 0;
  virtual int connect(int s, const sockaddr_in& address) = 0;
  virtual int send(int s, const void* bytes, int length) = 0;  // bytes sent or kSocketError
  // Looks at what has arrived without taking it and without waiting: the count, 0 when the peer
  // has closed the connection, kSocketError with kWouldBlock when nothing has come.
  virtual int peek(int s, void* bytes, int length) = 0;
  virtual int closesocket(int s) = 0;
  virtual int lastError() = 0;  // the reason of the last failed call

  // The real sockets of this machine.
  static CSocketLayer& system();
};
