// The digit link against a bare receiver on loopback, and against failures put in its way.
#include <cerrno>
#include <chrono>
#include <thread>

#include "tests/DigitLinkFixture.h"
#include "tests/LoopbackReceiver.h"

namespace {

using Lines = std::vector<std::string>;

std::string Wire(const std::string& digits) {
  std::string bytes;
  for (char c : digits) bytes += std::string{'a', 'b', c, '\0'};
  return bytes;
}

// The machine's sockets, with failures put in on request.
class ScriptedSockets : public CSocketLayer {
public:
  int lookupFailures = 0;      // the first this many lookups fail
  int connectError = 0;        // every connect fails with this error
  int sendError = 0;           // sends fail with this error ...
  int sendFailures = 1 << 30;  // ... this many times
  int sendChunk = 0;           // each send takes at most this many bytes (0: all)
  bool sendTakesNothing = false;

  int lookups = 0, connects = 0;

  int socket(int family, int type, int protocol) override { return pass(real().socket(family, type, protocol)); }
  int setsockopt(int s, int level, int name, const void* value, int length) override {
    return pass(real().setsockopt(s, level, name, value, length));
  }
  int lookupName(const char* host, int port, sockaddr_in* found, int max) override {
    ++lookups;
    if (lookups <= lookupFailures) return fail(EHOSTUNREACH);
    return pass(real().lookupName(host, port, found, max));
  }
  int connect(int s, const sockaddr_in& address) override {
    ++connects;
    if (connectError) return fail(connectError);
    return pass(real().connect(s, address));
  }
  int send(int s, const void* bytes, int length) override {
    if (sendError && sendFailures-- > 0) return fail(sendError);
    if (sendTakesNothing) return 0;
    return pass(real().send(s, bytes, sendChunk > 0 && length > sendChunk ? sendChunk : length));
  }
  int peek(int s, void* bytes, int length) override { return pass(real().peek(s, bytes, length)); }
  int closesocket(int s) override { return pass(real().closesocket(s)); }
  int lastError() override { return injected_ ? injected_ : real().lastError(); }

private:
  int pass(int result) {
    injected_ = 0;
    return result;
  }
  int fail(int error) {
    injected_ = error;
    return kSocketError;
  }
  CSocketLayer* realLayer_ = &CSocketLayer::system();
  CSocketLayer& real() { return *realLayer_; }
  int injected_ = 0;
};

class DigitLinkTest : public DigitLinkFixture {};

TEST_F(DigitLinkTest, SendsFourBytesPerDigitAndTracesEveryStep) {
  LoopbackReceiver receiver;
  ASSERT_TRUE(receiver.listening());
  link.Setup().port = receiver.port();
  writeConnectFile("127.0.0.1\r\n");  // a dotted address: no name lookup

  link.SendDigitToLoomwork('1');
  ASSERT_TRUE(receiver.accept());
  link.SendDigitToLoomwork('#');
  EXPECT_EQ(receiver.read(8), std::string("\x61\x62\x31\x00\x61\x62\x23\x00", 8));
  link.EndDataToLoomwork();

  const Lines sendLines = {"Calling Send, bytes 97 98 49", "*retSize is 0, size is 4", "TCP SEND", "send returned 4",
                           "OK, send totally done",        "Send returned 0"};
  Lines expected = {"Send digit 1 to loomwork",
                    "AllocateSocket returned",
                    "host is '127.0.0.1'",
                    "OK, in Connect",
                    "getting inet_addr for '127.0.0.1'",
                    "OK, real connect",
                    "real connect returned 0",
                    "OK, Connect is OK",
                    "connect result is 0"};
  expected.insert(expected.end(), sendLines.begin(), sendLines.end());
  // The second digit finds the link made and connected.
  Lines second = {"Send digit # to loomwork", "host is '127.0.0.1'", "OK, in Connect", "connect result is 0"};
  expected.insert(expected.end(), second.begin(), second.end());
  Lines secondSend = sendLines;
  secondSend[0] = "Calling Send, bytes 97 98 35";
  expected.insert(expected.end(), secondSend.begin(), secondSend.end());
  expected.push_back("endDataToLoomwork");
  expected.push_back("Deleting loomwork SOCKET!");  // the last line has no line end
  EXPECT_EQ(traceLines(), expected);
  EXPECT_TRUE(pauses.empty());
  EXPECT_EQ(link.Socket(), nullptr);
}

TEST_F(DigitLinkTest, ARunOfDigitsArrivesInOrderWithOtherToneCharactersPassedThrough) {
  LoopbackReceiver receiver;
  link.Setup().port = receiver.port();
  writeConnectFile("127.0.0.1\n");
  const std::string digits = "0123456789*#A5";
  for (char c : digits) link.SendDigitToLoomwork(c);
  ASSERT_TRUE(receiver.accept());
  EXPECT_EQ(receiver.read(4 * digits.size()), Wire(digits));
  EXPECT_EQ(traceCount("AllocateSocket returned"), 1);  // one connection for the whole run
}

TEST_F(DigitLinkTest, HostNamesAreLookedUpAndAMissingFileMeansThisMachine) {
  LoopbackReceiver receiver;
  link.Setup().port = receiver.port();

  // No connect.txt at all.
  link.SendDigitToLoomwork('4');
  ASSERT_TRUE(receiver.accept());
  EXPECT_EQ(receiver.read(4), Wire("4"));
  EXPECT_EQ(traceLines(), (Lines{"Send digit 4 to loomwork", "AllocateSocket returned", "No connect.txt file",
                                 "host is 'localhost'", "OK, in Connect", "isalpha host..", "OK, real connect",
                                 "real connect returned 0", "OK, Connect is OK", "connect result is 0",
                                 "Calling Send, bytes 97 98 52", "*retSize is 0, size is 4", "TCP SEND",
                                 "send returned 4", "OK, send totally done", "Send returned 0"}));
  link.EndDataToLoomwork();

  // An empty first line: the fixed default host, without the missing-file line.
  writeConnectFile("\r\n127.0.0.1\r\n");
  link.SendDigitToLoomwork('6');
  ASSERT_TRUE(receiver.accept());
  EXPECT_EQ(receiver.read(4), Wire("6"));
  EXPECT_TRUE(traceHas(std::string("host is '") + kDefaultHost + "'"));
  EXPECT_FALSE(traceHas("No connect.txt file"));
}

TEST_F(DigitLinkTest, TheHostIsTheFirstLineWithoutItsLineEnd) {
  CDigitTrace trace;
  ASSERT_TRUE(trace.Open(folder + "/test.txt"));
  auto hostOf = [&](const std::string& text) {
    writeConnectFile(text);
    return ReadLoomworkHost(folder + "/connect.txt", trace);
  };
  EXPECT_EQ(hostOf("10.1.2.3\r\n"), "10.1.2.3");
  EXPECT_EQ(hostOf("loomwork.example\nsecond line\n"), "loomwork.example");
  EXPECT_EQ(hostOf("loomwork"), "loomwork");
  EXPECT_EQ(hostOf(""), kDefaultHost);
  EXPECT_EQ(hostOf("\n"), kDefaultHost);
  EXPECT_EQ(hostOf(std::string(120, 'h') + "\n"), std::string(kMaxHostLine, 'h'));
  EXPECT_TRUE(traceLines().empty());

  ::unlink((folder + "/connect.txt").c_str());
  EXPECT_EQ(ReadLoomworkHost(folder + "/connect.txt", trace), kLoopbackHost);
  trace.Close();
  EXPECT_EQ(traceLines(), Lines{"No connect.txt file"});
}

TEST_F(DigitLinkTest, AReceiverThatIsNotListeningCostsTenTriesAndTheSocketStaysForTheNextDigit) {
  const int port = UnusedPort();
  link.Setup().port = port;
  writeConnectFile("127.0.0.1\r\n");

  link.SendDigitToLoomwork('5');
  EXPECT_EQ(pauses, std::vector<int>(10, 1000));
  Lines expected = {"Send digit 5 to loomwork", "AllocateSocket returned", "host is '127.0.0.1'", "OK, in Connect",
                    "getting inet_addr for '127.0.0.1'"};
  for (int i = 0; i < 10; ++i) {
    expected.push_back("OK, real connect");
    expected.push_back("real connect returned -1");
  }
  // The digit goes to the unconnected socket, fails and is lost.
  Lines rest = {"connect result is -3",     "Calling Send, bytes 97 98 53",
                "*retSize is 0, size is 4", "TCP SEND",
                "send returned -1",         "Send returned -7"};
  expected.insert(expected.end(), rest.begin(), rest.end());
  EXPECT_EQ(traceLines(), expected);
  ASSERT_NE(link.Socket(), nullptr);
  EXPECT_FALSE(link.Socket()->IsConnected());

  // The next digit keeps the socket and the host (connect.txt is not read again) and gets a
  // fresh budget of tries.
  ::unlink((folder + "/connect.txt").c_str());
  pauses.clear();
  link.SendDigitToLoomwork('6');
  EXPECT_EQ(pauses, std::vector<int>(10, 1000));
  EXPECT_EQ(traceCount("connect result is -3"), 2);

  // Once the receiver listens, the same socket connects and the digit arrives.
  LoopbackReceiver receiver(port);
  ASSERT_TRUE(receiver.listening());
  pauses.clear();
  link.SendDigitToLoomwork('7');
  ASSERT_TRUE(receiver.accept());
  EXPECT_EQ(receiver.read(4), Wire("7"));
  EXPECT_TRUE(pauses.empty());
  EXPECT_EQ(traceCount("AllocateSocket returned"), 1);
  EXPECT_FALSE(traceHas("No connect.txt file"));
  EXPECT_EQ(traceCount("host is '127.0.0.1'"), 3);
  EXPECT_TRUE(traceHas("Calling Send, bytes 97 98 55"));
  EXPECT_TRUE(link.Socket()->IsConnected());
}

TEST_F(DigitLinkTest, LookupAndConnectionShareOneBudgetOfTries) {
  ScriptedSockets sockets;
  link.Setup().sockets = &sockets;
  link.Setup().port = UnusedPort();
  writeConnectFile("localhost\n");

  sockets.lookupFailures = 3;
  sockets.connectError = ECONNREFUSED;
  link.SendDigitToLoomwork('1');
  EXPECT_EQ(sockets.lookups, 4);
  EXPECT_EQ(sockets.connects, 7);
  EXPECT_EQ(pauses.size(), 10u);
  EXPECT_TRUE(traceHas("connect result is -3"));
  link.EndDataToLoomwork();

  // A name that is never found: -1 after ten lookups, no connection tried.
  sockets = ScriptedSockets();
  sockets.lookupFailures = 100;
  pauses.clear();
  link.SendDigitToLoomwork('2');
  EXPECT_EQ(sockets.lookups, 10);
  EXPECT_EQ(sockets.connects, 0);
  EXPECT_EQ(pauses.size(), 10u);
  EXPECT_TRUE(traceHas("connect result is -1"));
  ASSERT_NE(link.Socket(), nullptr);  // never connected: kept for the next digit
  link.EndDataToLoomwork();           // while `sockets` still exists
}

TEST_F(DigitLinkTest, AnUnreachableNetworkEndsConnectAtOnce) {
  ScriptedSockets sockets;
  sockets.connectError = CSocketLayer::kNetworkUnreachable;
  link.Setup().sockets = &sockets;
  writeConnectFile("192.0.2.1\n");
  link.SendDigitToLoomwork('3');
  EXPECT_EQ(sockets.connects, 1);
  EXPECT_TRUE(pauses.empty());
  EXPECT_EQ(traceCount("OK, real connect"), 1);
  EXPECT_TRUE(traceHas("connect result is -2"));
  ASSERT_NE(link.Socket(), nullptr);
  EXPECT_FALSE(link.Socket()->IsConnected());
  link.EndDataToLoomwork();  // while `sockets` still exists
}

TEST_F(DigitLinkTest, AFailedSendTakesTheLinkDownAndTheNextDigitConnectsAgain) {
  LoopbackReceiver receiver;
  ScriptedSockets sockets;
  link.Setup().sockets = &sockets;
  link.Setup().port = receiver.port();
  writeConnectFile("127.0.0.1\n");

  sockets.sendError = ECONNRESET;  // an error that is not a time-out
  sockets.sendFailures = 1;
  link.SendDigitToLoomwork('1');
  EXPECT_TRUE(traceHas("send returned -1"));
  EXPECT_TRUE(traceHas("Send returned -7"));
  EXPECT_FALSE(traceHas("OK, send totally done"));
  EXPECT_EQ(link.Socket(), nullptr);

  link.SendDigitToLoomwork('2');
  ASSERT_TRUE(receiver.accept());  // the first connection, closed by the link
  EXPECT_EQ(receiver.read(4, 200), "");
  ASSERT_TRUE(receiver.accept());
  EXPECT_EQ(receiver.read(4), Wire("2"));
  EXPECT_EQ(traceCount("AllocateSocket returned"), 2);

  // A time-out does the same, with its own result.
  sockets.sendError = CSocketLayer::kTimedOut;
  sockets.sendFailures = 1;
  link.SendDigitToLoomwork('3');
  EXPECT_TRUE(traceHas("Send returned -6"));
  EXPECT_EQ(link.Socket(), nullptr);
}

TEST_F(DigitLinkTest, SendCarriesOnAfterPartialSendsAndStopsWhenNothingIsTaken) {
  LoopbackReceiver receiver;
  ScriptedSockets sockets;
  sockets.sendChunk = 1;
  link.Setup().sockets = &sockets;
  link.Setup().port = receiver.port();
  writeConnectFile("127.0.0.1\n");
  link.SendDigitToLoomwork('7');
  ASSERT_TRUE(receiver.accept());
  EXPECT_EQ(receiver.read(4), Wire("7"));
  for (int sent = 0; sent < 4; ++sent) EXPECT_TRUE(traceHas("*retSize is " + std::to_string(sent) + ", size is 4"));
  EXPECT_EQ(traceCount("send returned 1"), 4);
  EXPECT_TRUE(traceHas("Send returned 0"));

  sockets.sendTakesNothing = true;
  link.SendDigitToLoomwork('8');
  EXPECT_EQ(traceCount("send returned 0"), 1);
  EXPECT_TRUE(traceHas("Send returned -7"));
  EXPECT_EQ(link.Socket(), nullptr);
}

TEST_F(DigitLinkTest, ASendToAClosedReceiverFailsWithoutASignal) {
  LoopbackReceiver receiver;
  CDigitTrace trace;
  CDigitSocket link(
      CSocketLayer::system(), [](int) {}, trace, receiver.port());
  ASSERT_EQ(link.Connect("127.0.0.1", 1), CDigitSocket::kOk);
  ASSERT_TRUE(receiver.accept());
  receiver.stop();

  const unsigned char message[4] = {'a', 'b', '9', 0};
  int result = CDigitSocket::kOk;
  // The first send after the close may still be taken; a later one must fail, not kill us.
  for (int i = 0; i < 50 && result == CDigitSocket::kOk; ++i) {
    result = link.Send(message, 4);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(result, CDigitSocket::kSendFailed);
}

TEST_F(DigitLinkTest, AReceiverThatRestartsGetsEveryLaterDigit) {
  auto first = std::make_unique<LoopbackReceiver>();
  const int port = first->port();
  link.Setup().port = port;
  writeConnectFile("127.0.0.1\n");
  link.SendDigitToLoomwork('1');
  ASSERT_TRUE(first->accept());
  EXPECT_EQ(first->read(4), Wire("1"));

  first.reset();  // the receiver goes away ...
  for (int i = 0; i < 200 && !link.Socket()->ReceiverHasClosed(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  LoopbackReceiver second(port);  // ... and comes back on the same port
  ASSERT_TRUE(second.listening());

  link.SendDigitToLoomwork('2');
  link.SendDigitToLoomwork('3');
  ASSERT_TRUE(second.accept());
  EXPECT_EQ(second.read(8), Wire("23"));
  EXPECT_TRUE(traceHas("Loomwork closed the connection"));
  EXPECT_TRUE(pauses.empty());
}

TEST_F(DigitLinkTest, ANewCallMakesANewConnectionAndStartsANewTrace) {
  LoopbackReceiver receiver;
  link.Setup().port = receiver.port();
  writeConnectFile("127.0.0.1\n");

  link.EndDataToLoomwork();  // no link yet: nothing to trace, no file made
  EXPECT_TRUE(traceLines().empty());

  link.SendDigitToLoomwork('1');
  ASSERT_TRUE(receiver.accept());
  EXPECT_EQ(receiver.read(4), Wire("1"));
  link.EndDataToLoomwork();
  EXPECT_EQ(receiver.read(1, 500), "");  // the link closed the connection

  link.SendDigitToLoomwork('2');
  ASSERT_TRUE(receiver.accept());
  EXPECT_EQ(receiver.read(4), Wire("2"));
  Lines lines = traceLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), "Send digit 2 to loomwork");
  EXPECT_FALSE(traceHas("Send digit 1 to loomwork"));
  EXPECT_FALSE(traceHas("endDataToLoomwork"));
}

TEST_F(DigitLinkTest, TwoLinksShareNothing) {
  // The link is an object, not process-wide state: another link has its own connection and
  // trace, and its ending leaves this one's alone.
  LoopbackReceiver receiver;
  link.Setup().port = receiver.port();
  writeConnectFile("127.0.0.1\n");
  link.SendDigitToLoomwork('1');
  ASSERT_TRUE(receiver.accept());
  EXPECT_EQ(receiver.read(4), Wire("1"));
  {
    CDigitLink other;
    EXPECT_EQ(other.Socket(), nullptr);
    EXPECT_EQ(other.Setup().port, CDigitSocket::kLoomworkPort);
    EXPECT_TRUE(other.Setup().folder.empty());
    other.EndDataToLoomwork();  // no link of its own: nothing to close, no trace
  }
  ASSERT_NE(link.Socket(), nullptr);
  EXPECT_TRUE(link.Socket()->IsConnected());
  link.SendDigitToLoomwork('2');
  EXPECT_EQ(receiver.read(4), Wire("2"));
  EXPECT_FALSE(traceHas("endDataToLoomwork"));
}

}  // namespace
