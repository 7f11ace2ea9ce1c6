#pragma once
// One connection of the digit link to Loomwork's tone digit receiver. Connect spends one budget
// of tries on name lookup and connection alike, with a pause between tries; every step goes to
// the link's trace file.
#include <netinet/in.h>

#include <functional>

#include "link/DigitTrace.h"
#include "link/SocketLayer.h"

class CDigitSocket {
public:
  // Results of Connect and Send.
  enum {
    kOk = 0,
    kLookupFailed = -1,        // the host name was not found within the tries
    kNetworkUnreachable = -2,  // no route to the receiver: further tries are pointless
    kConnectFailed = -3,       // every connection try failed
    kSendTimedOut = -6,
    kSendFailed = -7,  // any other send error: the connection is broken
  };
  static constexpr int kLoomworkPort = 3502;
  static constexpr int kPauseBetweenTriesMs = 1000;
  static constexpr int kLookupEntries = 16;  // addresses taken from one name lookup

  using Pause = std::function<void(int ms)>;

  // Makes the socket (and writes "AllocateSocket returned").
  CDigitSocket(CSocketLayer& sockets, Pause pause, CDigitTrace& trace, int port = kLoomworkPort);
  ~CDigitSocket();  // closes
  CDigitSocket(const CDigitSocket&) = delete;
  CDigitSocket& operator=(const CDigitSocket&) = delete;

  void AllocateSocket();
  int Connect(const char* host, int tries);
  int Send(const unsigned char* bytes, int length);
  void Close();
  // Whether the receiver has closed or reset the connection since it was made. Without this a
  // receiver that restarted would swallow the next digit: TCP takes it and only learns of the
  // closed peer afterwards.
  bool ReceiverHasClosed() const;

  bool IsConnected() const { return m_connected; }
  bool HasSocket() const { return m_socket != CSocketLayer::kInvalidSocket; }
  const sockaddr_in& RemoteAddress() const { return m_remote; }

private:
  int m_socket = CSocketLayer::kInvalidSocket;
  bool m_connected = false;
  sockaddr_in m_remote{};
  int m_port;
  CDigitTrace& m_trace;
  CSocketLayer& m_sockets;
  Pause m_pause;
};
