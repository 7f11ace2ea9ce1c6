// Host sockets over loopback. Every wait is bounded: a broken socket fails a test, never hangs it.
#include "base/JSocket.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <thread>

namespace {
using namespace std::chrono_literals;

JInetAddress loopback() { return JInetAddress::getAddrByJString("127.0.0.1"); }
std::string text(const JBlock& b) { return std::string(reinterpret_cast<const char*>(b.data()), b.size()); }

struct Pair {  // a loopback connection: client and the server's side of it
  JServerSocket server{0};
  JSocket client, accepted;
  std::mutex m;
  std::condition_variable cv;
  bool done = false;
  std::thread watchdog{[this] {  // a read stuck by a fault fails its test rather than hanging it
    std::unique_lock<std::mutex> l(m);
    if (cv.wait_for(l, 20s, [this] { return done; })) return;
    client.close();
    accepted.close();
  }};
  ~Pair() {
    {
      std::lock_guard<std::mutex> g(m);
      done = true;
    }
    cv.notify_all();
    watchdog.join();
  }
  void connect() {
    ASSERT_TRUE(server.listen(5));
    client = JSocket(loopback(), server.getLocalPort(), true);
    ASSERT_TRUE(client.connect());
    ASSERT_TRUE(server.accept(accepted, 5000));
  }
};

// Runs f on another thread. Its outcome is "ok" when f returned, "threw" on JIOException, or
// "hung" when it did not end in time. A task still running when it is left (a failed ASSERT, a
// timeout) closes the pair's sockets so that it ends: no test waits forever.
class Task {
public:
  template <typename F>
  Task(Pair& p, F f)
      : p_(p), f_(std::async(std::launch::async, [f]() mutable {
          try {
            f();
            return std::string("ok");
          } catch (const JIOException&) { return std::string("threw"); }
        })) {}
  ~Task() { unblock(); }
  std::string outcome(std::chrono::milliseconds limit) {
    if (f_.wait_for(limit) == std::future_status::ready) return f_.get();
    unblock();
    return "hung";
  }

private:
  void unblock() {
    if (!f_.valid()) return;
    p_.client.close();
    p_.accepted.close();
    f_.wait();
  }
  Pair& p_;
  std::future<std::string> f_;
};
}  // namespace

TEST(SocketAddress, ResolvesParsesAndRejects) {
  JInetAddress local("localhost");
  EXPECT_EQ(local.getAddressJString(), JString("127.0.0.1"));
  EXPECT_EQ(local.getHostName(), JString("localhost"));
  EXPECT_EQ(JInetAddress::getAddrByJString("10.1.2.3").getHostName(), JString("10.1.2.3"));
  EXPECT_EQ(JInetAddress().getAddressJString(), JString("0.0.0.0"));
  std::unique_ptr<JObject> c(local.clone());
  EXPECT_STREQ(c->className(), "JInetAddress");
  EXPECT_EQ(static_cast<JInetAddress*>(c.get())->getHostName(), JString("localhost"));

  for (const char* bad : {"1.2.3", "256.1.1.1", "localhost", ""})
    EXPECT_THROW(JInetAddress::getAddrByJString(bad), JSocketException) << bad;
  try {
    JInetAddress("no-such-host.invalid");
    ADD_FAILURE() << "resolved a reserved invalid name";
  } catch (const JSocketException& e) { EXPECT_EQ(e.getMessage(), "unknown host no-such-host.invalid"); }
}

TEST(SocketConnect, ExchangesBytesBothWays) {
  Pair p;
  p.connect();
  EXPECT_TRUE(p.client.isConnected());
  EXPECT_EQ(p.client.getPort(), p.server.getLocalPort());
  EXPECT_EQ(p.accepted.getPort(), p.client.getLocalPort());
  EXPECT_EQ(p.accepted.getInetAddress().getAddressJString(), JString("127.0.0.1"));
  p.client.setNoDelay(true);
  const uint8_t bytes[] = {0, 1, 200, 255, '\n', 7};
  JSocketOutputStream(p.client).write(JBlock(bytes, sizeof bytes));
  EXPECT_EQ(JSocketInputStream(p.accepted).readFully(sizeof bytes), JBlock(bytes, sizeof bytes));
  JSocketOutputStream(p.accepted).write(0x1ff);  // only the low byte goes out
  EXPECT_EQ(JSocketInputStream(p.client).read(), 0xff);
}

TEST(SocketConnect, RefusalNoClientAndTakenPortFailCleanly) {
  JServerSocket probe(0);
  ASSERT_TRUE(probe.listen(1));
  const int port = probe.getLocalPort();
  probe.close();
  JSocket s(loopback(), port, true);
  s.setConnectTimeout(10000);
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_FALSE(s.connect());
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 5000ms);  // refused, not timed out
  EXPECT_FALSE(s.connect());                                 // a retry fails cleanly too...

  JServerSocket server(port), second(port), idle(0);
  JSocket a;
  EXPECT_FALSE(idle.accept(a, 20));  // not listening
  ASSERT_TRUE(server.listen(5));
  EXPECT_FALSE(server.listen(5));  // already listening
  EXPECT_FALSE(second.listen(5));  // port taken
  EXPECT_FALSE(server.accept(a, 0));
  EXPECT_FALSE(server.accept(a, 50));
  EXPECT_TRUE(s.connect());  // ...and a later one succeeds
  EXPECT_TRUE(server.accept(a, 5000));

  auto waiting = std::async(std::launch::async, [&server] {
    JSocket c;
    return server.accept(c, 10000);
  });
  std::this_thread::sleep_for(50ms);
  server.close();
  server.close();
  ASSERT_EQ(waiting.wait_for(3000ms), std::future_status::ready) << "close() did not end accept()";
  EXPECT_FALSE(waiting.get());
  EXPECT_FALSE(server.accept(a, 0));
}

TEST(SocketConnect, DatagramSocketSendsAndReceives) {
  int peer = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof sa;
  ASSERT_EQ(::bind(peer, reinterpret_cast<sockaddr*>(&sa), len), 0);
  ASSERT_EQ(::getsockname(peer, reinterpret_cast<sockaddr*>(&sa), &len), 0);
  JSocket u(loopback(), ntohs(sa.sin_port), false);
  ASSERT_TRUE(u.connect());
  JSocketOutputStream(u).writeLine("ping");
  char buf[16] = {0};
  EXPECT_EQ(::recvfrom(peer, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&sa), &len), 5);
  EXPECT_STREQ(buf, "ping\n");
  EXPECT_EQ(ntohs(sa.sin_port), u.getLocalPort());
  ASSERT_EQ(::sendto(peer, "pong", 4, 0, reinterpret_cast<sockaddr*>(&sa), len), 4);
  JBlock b(64);
  EXPECT_EQ(JSocketInputStream(u).read(b), 4);
  EXPECT_EQ(text(b), "pong");
  ::close(peer);
}

TEST(SocketRead, LinesAreFramedAndAFinalUnterminatedLineIsReturned) {
  Pair p;
  p.connect();
  JSocketOutputStream(p.client).write(JString("a\r\nb\nx\ry\n\nc"));
  p.client.close();
  JSocketInputStream in(p.accepted);
  EXPECT_EQ(in.readLine(), JString("a"));
  JString s;
  EXPECT_EQ(in.read(s), 1);
  EXPECT_EQ(s, JString("b"));
  EXPECT_EQ(in.readLine(), JString("x\ry"));  // a carriage return inside a line stays
  EXPECT_EQ(in.readLine(), JString(""));
  EXPECT_EQ(in.readLine(), JString("c"));     // the last line, though no line feed came
  EXPECT_THROW(in.readLine(), JIOException);  // then the end of the stream
  EXPECT_THROW(in.read(), JIOException);
}

TEST(SocketRead, MixedReadsKeepOrder) {
  Pair p;
  p.connect();
  JSocketOutputStream out(p.client);
  out.writeLine("first");
  out.write(JString("ABCDEFG\nsecond\r\ntail"));
  JSocketInputStream in(p.accepted);
  EXPECT_EQ(in.readLine(), JString("first"));
  EXPECT_EQ(in.read(), 'A');
  EXPECT_EQ(text(in.readFully(2)), "BC");
  JBlock small(2);
  EXPECT_EQ(in.read(small), 2);  // no more than the block's capacity
  EXPECT_EQ(text(small), "DE");
  EXPECT_EQ(in.read(small, 1), 1);
  EXPECT_EQ(text(small), "F");
  EXPECT_EQ(in.readLine(), JString("G"));
  EXPECT_EQ(in.readLine(), JString("second"));
  EXPECT_EQ(text(in.readFully(4)), "tail");

  // Large amounts, through the buffer and around it.
  std::string lines, blob(300000, '\0');
  for (int i = 0; i < 2000; ++i) lines += "line " + std::to_string(i) + "\n";
  for (size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<char>((i * 31 + 7) & 0xff);
  Task writer(p, [&] { out.write(JString(lines + blob)); });
  for (int i = 0; i < 2000; ++i) ASSERT_EQ(in.readLine().str(), "line " + std::to_string(i));
  std::string got;
  JBlock b(1000);
  while (got.size() < blob.size() / 2) {
    const int n = in.read(b);
    ASSERT_EQ(n, b.size());
    ASSERT_LE(n, 1000);
    got += text(b);
  }
  got += text(in.readFully(static_cast<int>(blob.size() - got.size())));
  EXPECT_TRUE(got == blob);
  EXPECT_EQ(writer.outcome(5000ms), "ok");
}

TEST(SocketRead, OverlongLineThrowsWithoutWaitingForItsEnd) {
  Pair p;
  p.connect();
  const std::string longest(JSocketInputStream::MAX_LINE, 'y');
  const std::string tooLong(JSocketInputStream::MAX_LINE + 100, 'z');  // and no line feed, ever
  Task writer(p, [&] { JSocketOutputStream(p.client).write(JString(longest + "\r\n" + tooLong)); });
  JSocketInputStream in(p.accepted);
  EXPECT_EQ(in.readLine().length(), JSocketInputStream::MAX_LINE);
  Task reader(p, [&] { in.readLine(); });  // the writer keeps the connection open
  EXPECT_EQ(reader.outcome(5000ms), "threw") << "the line buffer is not bounded";
  EXPECT_TRUE(p.accepted.isConnected());
  EXPECT_EQ(writer.outcome(5000ms), "ok");
}

TEST(SocketClose, CloseFromAnotherThreadWakesABlockedReaderAndWriter) {
  Pair p;
  p.connect();
  JSocketInputStream in(p.client);
  JSocketOutputStream out(p.client);
  Task reader(p, [&] { in.readLine(); });
  Task writer(p, [&] {  // far more than the socket buffers hold; the peer never reads
    const std::string chunk(64 * 1024, 'w');
    for (int i = 0; i < 4096; ++i) out.write(JString(chunk));
  });
  std::this_thread::sleep_for(200ms);  // let both block
  p.client.close();
  EXPECT_EQ(reader.outcome(1500ms), "threw");
  EXPECT_EQ(writer.outcome(1500ms), "threw");
  EXPECT_FALSE(p.client.isConnected());
  EXPECT_EQ(p.client.getLocalPort(), -1);
  EXPECT_THROW(in.read(), JIOException);
  EXPECT_THROW(out.write(1), JIOException);
  p.client.close();  // idempotent
}

TEST(SocketClose, PeerCloseEndsTheStreamAndWritesFailWithoutSigpipe) {
  Pair p;
  p.connect();
  JSocketInputStream in(p.client);
  JSocketOutputStream out(p.client);
  p.accepted.close();
  JBlock b;
  EXPECT_THROW(in.read(b), JIOException);
  EXPECT_THROW(in.readLine(), JIOException);
  // Early writes may still be taken by the kernel; once the peer's reset is back they throw, and
  // the process is still here (no SIGPIPE).
  bool threw = false;
  for (int i = 0; i < 200 && !threw; ++i, std::this_thread::sleep_for(10ms)) {
    try {
      out.write(JString("data"));
    } catch (const JIOException&) { threw = true; }
  }
  EXPECT_TRUE(threw);

  JSocketInputStream none;
  JSocket never(loopback(), 1, true);
  JSocketOutputStream neverOut(never);
  EXPECT_THROW(none.read(), JIOException);
  EXPECT_THROW(JSocketOutputStream().writeLine("x"), JIOException);
  EXPECT_THROW(JSocketInputStream(never).readLine(), JIOException);
  EXPECT_THROW(neverOut.write(JString("x")), JIOException);
}

TEST(SocketCopy, CopiesAreUnconnectedMovesKeepTheConnection) {
  Pair p;
  p.connect();
  JSocket copy(p.client);
  EXPECT_FALSE(copy.isConnected());
  EXPECT_EQ(copy.getPort(), p.client.getPort());
  EXPECT_EQ(copy.getInetAddress(), p.client.getInetAddress());
  std::unique_ptr<JObject> cloned(p.client.clone());
  EXPECT_FALSE(static_cast<JSocket*>(cloned.get())->isConnected());
  copy.close();  // leaves the original alone
  ASSERT_TRUE(p.client.isConnected());

  JSocketInputStream in(p.accepted);
  JSocketOutputStream out(p.client);  // attached before the move: survives it
  JSocket moved(std::move(p.client));
  EXPECT_TRUE(moved.isConnected());
  EXPECT_FALSE(p.client.isConnected());
  JSocketOutputStream copiedOut(out), movedOut(std::move(out));
  EXPECT_THROW(copiedOut.write(1), JIOException);
  movedOut.write(JString("one\ntwo\n"));
  EXPECT_EQ(in.readLine(), JString("one"));
  JSocketInputStream copiedIn(in), movedIn(std::move(in));  // the moved one keeps its buffer
  EXPECT_THROW(copiedIn.read(), JIOException);
  EXPECT_EQ(movedIn.readLine(), JString("two"));

  // Assigning over a connected socket closes its old connection: the peer sees the end.
  moved = JSocket(loopback(), p.server.getLocalPort(), true);
  EXPECT_TRUE(moved.connect());
  EXPECT_EQ(Task(p, [&] { movedIn.read(); }).outcome(1500ms), "threw");

  JServerSocket serverCopy(p.server);
  EXPECT_FALSE(serverCopy.isListening());
  EXPECT_EQ(serverCopy.getLocalPort(), 0);  // the port it was made with
  JServerSocket serverMoved(std::move(p.server));
  EXPECT_FALSE(p.server.isListening());
  JSocket second;
  ASSERT_TRUE(serverMoved.accept(second, 5000));
  JSocketOutputStream(moved).writeLine("third");
  EXPECT_EQ(JSocketInputStream(second).readLine(), JString("third"));
}
