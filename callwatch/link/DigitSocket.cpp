#include "link/DigitSocket.h"

#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <utility>

namespace {
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
}  // namespace

CDigitSocket::CDigitSocket(CSocketLayer& sockets, Pause pause, CDigitTrace& trace, int port)
    : m_port(port), m_trace(trace), m_sockets(sockets), m_pause(std::move(pause)) {
  AllocateSocket();
  m_trace.Write("AllocateSocket returned\n");
}

CDigitSocket::~CDigitSocket() { Close(); }

void CDigitSocket::AllocateSocket() {
  m_socket = m_sockets.socket(AF_INET, SOCK_STREAM, 0);
  if (m_socket == CSocketLayer::kInvalidSocket) return;
  // One digit per message: each must leave at once, not wait to be joined by the next.
  int noDelay = 1;
  m_sockets.setsockopt(m_socket, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
}

int CDigitSocket::Connect(const char* host, int tries) {
  m_trace.Write("OK, in Connect\n");
  if (m_connected) return kOk;

  sockaddr_in address{};
  if (IsLetter(host[0])) {
    m_trace.Write("isalpha host..\n");
    sockaddr_in found[kLookupEntries];
    int count;
    for (;;) {
      if (tries <= 0) return kLookupFailed;
      count = m_sockets.lookupName(host, m_port, found, kLookupEntries);
      if (count > 0) break;
      m_pause(kPauseBetweenTriesMs);
      --tries;
    }
    address = found[count - 1];
  } else {
    m_trace.Write("getting inet_addr for '%s'\n", host);
    address.sin_addr.s_addr = inet_addr(host);
  }
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(m_port));
  m_remote = address;

  if (!HasSocket()) {
    m_trace.Write("ALLOCATESOCKET AGAIN\n");
    AllocateSocket();
  }

  for (;;) {
    if (tries <= 0) return kConnectFailed;
    m_trace.Write("OK, real connect\n");
    int result = m_sockets.connect(m_socket, m_remote);
    m_trace.Write("real connect returned %d\n", result);
    if (result == 0) break;
    if (m_sockets.lastError() == CSocketLayer::kNetworkUnreachable) return kNetworkUnreachable;
    m_pause(kPauseBetweenTriesMs);
    --tries;
  }
  m_connected = true;
  m_trace.Write("OK, Connect is OK\n");
  return kOk;
}

int CDigitSocket::Send(const unsigned char* bytes, int length) {
  auto byteAt = [&](int i) { return i < length ? static_cast<int>(bytes[i]) : 0; };
  m_trace.Write("Calling Send, bytes %d %d %d\n", byteAt(0), byteAt(1), byteAt(2));

  int result = kOk;
  int sent = 0;
  while (sent < length) {
    m_trace.Write("*retSize is %d, size is %d\n", sent, length);
    m_trace.Write("TCP SEND\n");
    int r = m_sockets.send(m_socket, bytes + sent, length - sent);
    m_trace.Write("send returned %d\n", r);
    if (r < 0) {
      // Whatever the error, the connection is of no further use: the caller builds a new one.
      result = m_sockets.lastError() == CSocketLayer::kTimedOut ? kSendTimedOut : kSendFailed;
      break;
    }
    if (r == 0) {  // a connection that takes nothing is as broken as one that fails
      result = kSendFailed;
      break;
    }
    sent += r < length - sent ? r : length - sent;
  }
  if (result == kOk) m_trace.Write("OK, send totally done\n");
  m_trace.Write("Send returned %d\n", result);
  return result;
}

void CDigitSocket::Close() {
  if (HasSocket()) m_sockets.closesocket(m_socket);
  m_socket = CSocketLayer::kInvalidSocket;
  m_connected = false;
}

bool CDigitSocket::ReceiverHasClosed() const {
  if (!m_connected || !HasSocket()) return false;
  unsigned char b;
  int r = m_sockets.peek(m_socket, &b, 1);
  if (r < 0) return m_sockets.lastError() != CSocketLayer::kWouldBlock;
  return r == 0;
}
