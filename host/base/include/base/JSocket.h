#pragma once
// The host's network classes: the only way modules reach the network. Blocking sockets: IPv4,
// and IPv6 for connections made to an address of that family.
//
// A connection lives in a shared state object that the socket and its streams hold together, so
// a stream keeps working when the socket object is moved, and close() on the socket (from any
// thread) wakes a reader or writer blocked on the connection. Descriptors are released only once
// no read or write is using them, so a descriptor number is never used after it was closed.
//
// Copies never share a connection: a copied socket is a fresh, unconnected socket on the same
// address and port, and a copied stream is unattached. Moves transfer the connection.
//
// Threads: one thread may read and another write a connection while a third calls close(). The
// other operations (connect, listen, accept, assignment) belong to the thread owning the object.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "base/JBlock.h"
#include "base/JException.h"
#include "base/JObject.h"
#include "base/JString.h"

namespace loomwork_net {
struct Channel;  // the shared connection state (see JSocket.cpp)
}

// An IPv4 address, together with the name it was made from. getNumericAddress and getAnyByName
// may also give an IPv6 one; the constructor and getAddrByJString give IPv4 only.
class JInetAddress : public JObject {
public:
  JInetAddress();  // 0.0.0.0
  // Resolves a host name or numeric address; throws JSocketException("unknown host NAME").
  explicit JInetAddress(const JString& hostName);
  // Parses a dotted numeric address ("127.0.0.1"); throws JSocketException when it is not one.
  static JInetAddress getAddrByJString(const JString& dotted);
  // A numeric address of either family: "127.0.0.1", "::1", "[::1]" (the brackets of a URL's
  // host), "fe80::1%lo"; throws JSocketException when the text is none.
  static JInetAddress getNumericAddress(const JString& text);
  // Looks a name up: its first IPv4 address, or its first IPv6 one when it has none; a numeric
  // text of either family is taken as it is. Throws JSocketException("unknown host NAME").
  static JInetAddress getAnyByName(const JString& hostName);

  JString getAddressJString() const;  // dotted numeric text ("::1" for an IPv6 address)
  JString getHostName() const;        // the name it was made from, or the numeric text

  // The address in network byte order.
  uint32_t networkOrder() const { return addr_; }
  static JInetAddress fromNetworkOrder(uint32_t addr);

  // An IPv6 address: its 16 bytes and its zone (interface index, 0 for none); networkOrder() is
  // then 0.
  bool isIPv6() const { return ipv6_; }
  const std::array<uint8_t, 16>& bytes6() const { return addr6_; }
  uint32_t scope6() const { return scope6_; }

  bool operator==(const JInetAddress& o) const {
    return ipv6_ == o.ipv6_ && addr_ == o.addr_ && addr6_ == o.addr6_ && scope6_ == o.scope6_;
  }
  bool operator!=(const JInetAddress& o) const { return !(*this == o); }

  const char* className() const override { return "JInetAddress"; }
  JObject* clone() const override { return new JInetAddress(*this); }

private:
  uint32_t addr_ = 0;  // network byte order
  bool ipv6_ = false;
  std::array<uint8_t, 16> addr6_{};
  uint32_t scope6_ = 0;
  JString name_;
};

class JServerSocket;

// A TCP connection (stream = true) or a connected UDP datagram socket (stream = false).
class JSocket : public JObject {
public:
  JSocket();  // unconnected, 0.0.0.0 port 0
  // Creating the operating system's socket may throw JSocketException. Nothing is sent until
  // connect().
  JSocket(const JInetAddress& address, int port, bool stream = true);
  JSocket(const JSocket& o);             // a fresh, unconnected socket on the same address/port
  JSocket& operator=(const JSocket& o);  // closes this socket's connection first
  JSocket(JSocket&& o) noexcept;         // takes the connection; o is left unconnected
  JSocket& operator=(JSocket&& o) noexcept;
  ~JSocket() override;  // closes

  // Connects; false on refusal, an unreachable host or after the connect timeout. May be called
  // again after a failure. True at once when already connected.
  bool connect();
  void setConnectTimeout(int ms) { connectTimeoutMs_ = ms > 0 ? ms : 1; }
  int getConnectTimeout() const { return connectTimeoutMs_; }
  // How an attempt of connectFor() ended: connected; refused or unreachable (an answer, or an
  // error at once); no answer within the time; given up because `wanted` said so.
  enum ConnectResult { kConnected, kRefused, kNoAnswer, kGivenUp };
  // connect() with a limit of its own (0: none but the system's) that asks `wanted` (when given)
  // every 50 ms whether the attempt is still wanted, so that another thread can call it off.
  ConnectResult connectFor(int timeoutMs, const std::function<bool()>& wanted = {});

  // Shuts the connection down (waking blocked readers and writers) and releases it. Idempotent;
  // callable from another thread. Streams attached to the connection throw from then on.
  void close();
  bool isConnected() const;

  int getPort() const { return port_; }                     // the remote port
  JInetAddress getInetAddress() const { return address_; }  // the remote address
  int getLocalPort() const;                                 // the local port of the connection, -1 when not connected
  bool isStream() const { return stream_; }
  // TCP_NODELAY, now if connected and for every later connection of this socket.
  void setNoDelay(bool on);

  const char* className() const override { return "JSocket"; }
  JObject* clone() const override { return new JSocket(*this); }

private:
  friend class JServerSocket;
  friend class JSocketInputStream;
  friend class JSocketOutputStream;
  void releaseSpare();
  void copySettings(const JSocket& o);  // address, port and options; never the connection

  JInetAddress address_;
  int port_ = 0;
  bool stream_ = true;
  bool noDelay_ = false;
  int connectTimeoutMs_ = 3000;
  int spareFd_ = -1;  // made by the constructor, used by the first connect()
  std::shared_ptr<loomwork_net::Channel> channel_;
};

// A listening TCP socket on 0.0.0.0, or on one local address given before listen().
class JServerSocket : public JObject {
public:
  JServerSocket();
  explicit JServerSocket(int port);       // 0 = an ephemeral port, chosen by listen()
  JServerSocket(const JServerSocket& o);  // a fresh socket on the same port, not listening
  JServerSocket& operator=(const JServerSocket& o);
  JServerSocket(JServerSocket&& o) noexcept;
  JServerSocket& operator=(JServerSocket&& o) noexcept;
  ~JServerSocket() override;

  // Binds the bind address (0.0.0.0 unless set) and port (SO_REUSEADDR) and listens; false on
  // failure or when already listening.
  bool listen(int backlog);
  // The local address the next listen() binds: one interface's address keeps clients of the
  // others out. Copies keep it.
  void setBindAddress(const JInetAddress& address) { bindAddress_ = address; }
  JInetAddress getBindAddress() const { return bindAddress_; }
  // Waits at most timeoutMs (0 = only looks) for a client; false when none came or the socket is
  // closed or not listening. On success client holds the connection (its old one is closed).
  bool accept(JSocket& client, int timeoutMs = 0);
  // Stops listening; wakes an accept() waiting in another thread. Idempotent.
  void close();
  bool isListening() const;
  int getLocalPort() const;  // the bound port once listening, else the port it was made with
  // Why the last listen() failed ("Address already in use"), empty after a success.
  const std::string& lastError() const { return lastError_; }

  const char* className() const override { return "JServerSocket"; }
  JObject* clone() const override { return new JServerSocket(*this); }

private:
  int port_ = 0;
  int boundPort_ = -1;
  JInetAddress bindAddress_;
  std::shared_ptr<loomwork_net::Channel> channel_;
  std::string lastError_;
};

// Reads from a socket's connection, through a buffer of its own: all reads of one stream see the
// bytes in order, whether they take lines, blocks or single bytes. (Two streams on one connection
// would each buffer ahead; use one per connection.)
//
// Every read blocks until it has something. End of stream, a closed or unattached socket and
// errors throw JIOException. A final line without a line feed at end of stream is returned as a
// line; the read after it throws. On a datagram socket each receive takes one datagram (up to 4096
// bytes into the buffer, or up to the requested size for a block read; the rest of it is lost).
class JSocketInputStream {
public:
  static constexpr int MAX_LINE = 64 * 1024;  // longer lines throw JIOException

  JSocketInputStream() = default;
  // Attached to s's connection: its current one, or, when s has none yet, the one s's next
  // connect() or accept() makes. (After s.close(), s's next connection is a new one.)
  explicit JSocketInputStream(JSocket& s);
  JSocketInputStream(const JSocketInputStream&) {}  // unattached
  JSocketInputStream& operator=(const JSocketInputStream& o);
  JSocketInputStream(JSocketInputStream&&) noexcept = default;
  JSocketInputStream& operator=(JSocketInputStream&&) noexcept = default;
  ~JSocketInputStream() = default;

  bool isAttached() const { return channel_ != nullptr; }
  int available() const { return static_cast<int>(buf_.size() - pos_); }  // already buffered

  int read();  // one byte, 0..255
  // Up to b.capacity() bytes (4096 when the capacity is 0); b holds exactly the bytes read.
  int read(JBlock& b);
  int read(JBlock& b, int max);  // up to max bytes; max <= 0 reads nothing and returns 0
  JBlock readFully(int n);       // exactly n bytes
  // Waits until a read would not block (bytes buffered or arriving, the end of the stream, an
  // error: true) or timeoutMs passed without any (false); a negative timeoutMs waits without
  // limit. Throws as a read does when the stream cannot be used or the socket is closed.
  bool waitForInput(int timeoutMs);
  // A line without its line feed and without a carriage return just before it.
  JString readLine();
  int read(JString& s);  // readLine() into s; returns its length

private:
  bool fill();  // appends at least one byte to the buffer; false at end of stream
  void consume(size_t n);
  void checkUsable() const;
  std::shared_ptr<loomwork_net::Channel> channel_;
  std::vector<uint8_t> buf_;
  size_t pos_ = 0;
  size_t scanned_ = 0;  // bytes after pos_ known to hold no line feed
  bool eof_ = false;
};

// Writes to a socket's connection. Unbuffered: every write is sent before it returns (flush() has
// nothing to do). Writes never raise SIGPIPE; a failed write or an unattached stream throws
// JIOException.
class JSocketOutputStream {
public:
  JSocketOutputStream() = default;
  explicit JSocketOutputStream(JSocket& s);
  JSocketOutputStream(const JSocketOutputStream&) {}  // unattached
  JSocketOutputStream& operator=(const JSocketOutputStream& o);
  JSocketOutputStream(JSocketOutputStream&&) noexcept = default;
  JSocketOutputStream& operator=(JSocketOutputStream&&) noexcept = default;
  ~JSocketOutputStream() = default;

  bool isAttached() const { return channel_ != nullptr; }

  void write(int byte);
  void write(const JBlock& b);
  void write(const void* data, int size);
  void write(const JString& s);      // the text's bytes
  void writeLine(const JString& s);  // the text and a line feed
  void flush() {}

private:
  std::shared_ptr<loomwork_net::Channel> channel_;
};
