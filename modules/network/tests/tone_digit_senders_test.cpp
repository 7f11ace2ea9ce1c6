// JToneDigitObj with several senders at once: every sender the system lets connect is heard, whole
// and in turn; a silent one gives way; a flood holds up no other; the listen address keeps other
// addresses out.
#include <ifaddrs.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "JToneDigitObj.h"
#include "base/JClock.h"
#include "testing/Harness.h"
#include "tone_sender.h"

namespace {

// Sender i's digits: '#', i in two decimal digits, '*'. Any mixing of two senders breaks that
// shape, so the heard codes show whether each sender came whole.
std::string SequenceOf(int i) {
  return std::string{'#', static_cast<char>('0' + i / 10), static_cast<char>('0' + i % 10), '*'};
}

std::string Messages(const std::string& digits) {
  std::string out;
  for (char c : digits) out += toneMessage(c);
  return out;
}

// Puts the silence limit back however a test ends.
struct SilenceLimit {
  explicit SilenceLimit(int ms) { JToneDigitObj::setSilenceLimitForTests(ms); }
  ~SilenceLimit() { JToneDigitObj::setSilenceLimitForTests(0); }
};

class ToneSendersTest : public ::testing::Test {
protected:
  JTestHarness harness;
  JToneDigitObj& module = harness.place<JToneDigitObj>("dtmf");

  int listen(const char* address = "") {
    module.port = 0;
    module.listenAddress.set(JString(address));
    module.startup();
    EXPECT_TRUE(harness.runUntil([&] { return module.listeningPort() > 0; }, 2000));
    return module.listeningPort();
  }
  // The character codes heard so far, in order.
  std::string heard() {
    std::string codes;
    for (const auto& o : harness.outputsOf(module))
      if (o.output == JToneDigitObj::kDigitValue) codes += static_cast<char>(o.value.integer());
    return codes;
  }
  bool waitHeard(size_t count, int ms = 4000) {
    return harness.runUntil([&] { return heard().size() >= count; }, ms);
  }
  bool waitDebugLine(const std::string& line, int ms = 2000) {
    return harness.runUntil(
        [&] {
          for (const auto& l : harness.debugLines())
            if (l == line) return true;
          return false;
        },
        ms);
  }
  std::string who(const ToneSender& s) { return "127.0.0.1:" + std::to_string(s.localPort()); }
};

// Cuts the heard codes into senders' sequences; each must be one sender's, whole, and every sender
// of 0..n-1 must come exactly once.
void ExpectEachSenderWholeAndOnce(const std::string& codes, int n) {
  ASSERT_EQ(codes.size(), static_cast<size_t>(4 * n)) << codes;
  std::set<int> seen;
  for (size_t at = 0; at < codes.size(); at += 4) {
    const std::string one = codes.substr(at, 4);
    ASSERT_TRUE(one[0] == '#' && isdigit(one[1]) && isdigit(one[2]) && one[3] == '*')
        << "mixed at " << at << ": " << codes;
    const int i = (one[1] - '0') * 10 + (one[2] - '0');
    EXPECT_TRUE(seen.insert(i).second) << "sender " << i << " twice: " << codes;
  }
  EXPECT_EQ(seen.size(), static_cast<size_t>(n));
  if (!seen.empty()) { EXPECT_EQ(*seen.rbegin(), n - 1); }
}

// n senders started together, each with its own digits, sent in two pieces and then closed, as
// `nc -N` does. With one sender at a time, all but one connect while another is served.
TEST_F(ToneSendersTest, OverlappingSendersAreEachHeardWholeOnceAndInOrder) {
  const int port = listen();
  int total = 0;
  for (int n : {2, 5, 20}) {
    harness.clear();
    std::mutex m;
    std::condition_variable go;
    bool started = false;
    std::atomic<int> connectedCount{0}, sentCount{0};
    std::vector<std::thread> senders;
    for (int i = 0; i < n; ++i) {
      senders.emplace_back([&, i] {
        {
          std::unique_lock<std::mutex> lock(m);
          go.wait(lock, [&] { return started; });
        }
        ToneSender s(port);
        if (!s.connected()) return;
        ++connectedCount;
        const std::string all = Messages(SequenceOf(i));
        bool ok = s.send(all.substr(0, 6));
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        ok = ok && s.send(all.substr(6));
        if (ok) ++sentCount;
      });
    }
    {
      std::lock_guard<std::mutex> lock(m);
      started = true;
    }
    go.notify_all();
    for (auto& t : senders) t.join();
    EXPECT_EQ(connectedCount.load(), n);
    EXPECT_EQ(sentCount.load(), n);
    ASSERT_TRUE(waitHeard(static_cast<size_t>(4 * n))) << n << " senders, heard " << heard();
    harness.runFor(50);  // nothing more comes
    ExpectEachSenderWholeAndOnce(heard(), n);
    total += n;
  }
  EXPECT_EQ(total, 27);
  EXPECT_EQ(module.waitingSenders(), 0);
}

// More senders than the receiver takes in: the queue fills (one debug line), the rest wait in the
// system's listen queue, unanswered, and all are heard once the first leaves.
TEST_F(ToneSendersTest, MoreSendersThanTheQueueHoldsAreAllHeard) {
  const int port = listen();
  ToneSender holder(port);
  ASSERT_TRUE(holder.send(toneMessage('0')));
  ASSERT_TRUE(waitHeard(1));
  const int n = JToneDigitObj::kMaxWaiting + 20;
  std::vector<std::unique_ptr<ToneSender>> senders;
  for (int i = 0; i < n; ++i) {
    senders.push_back(std::make_unique<ToneSender>(port));
    ASSERT_TRUE(senders.back()->connected()) << i;
    ASSERT_TRUE(senders.back()->send(Messages(SequenceOf(i))));
    senders.back()->finish();
  }
  ASSERT_TRUE(waitDebugLine("dtmf: " + std::to_string(JToneDigitObj::kMaxWaiting) +
                            " senders wait; the next ones wait to be let in"));
  EXPECT_EQ(module.waitingSenders(), JToneDigitObj::kMaxWaiting);
  holder.close();
  ASSERT_TRUE(waitHeard(1 + 4 * n));
  ExpectEachSenderWholeAndOnce(heard().substr(1), n);
  // Each was served to its end and then closed by the receiver.
  for (auto& s : senders) EXPECT_TRUE(s->closedByPeer(2000));
}

// A sender that says nothing keeps the receiver only until another waits and the limit passes.
TEST_F(ToneSendersTest, ASilentSenderGivesWayToOneThatWaits) {
  SilenceLimit limit(300);
  const int port = listen();
  ToneSender silent(port);
  ASSERT_TRUE(harness.runUntil([&] { return module.connected.load() == 1; }, 2000));
  // Alone, it may stay silent past the limit.
  harness.runFor(600);
  EXPECT_FALSE(silent.closedByPeer(0));
  EXPECT_EQ(module.connected.load(), 1);

  ToneSender next(port);
  ASSERT_TRUE(next.send(Messages("#12*")));
  next.finish();
  ASSERT_TRUE(waitHeard(4));
  EXPECT_EQ(heard(), "#12*");
  EXPECT_TRUE(silent.closedByPeer(2000));
  EXPECT_EQ(
      harness.debugLines(),
      (std::vector<std::string>{"dtmf: " + who(next) + " waits: " + who(silent) + " holds the receiver",
                                "dtmf: " + who(silent) + " closed: no digit for 300 ms while another sender waits"}));
}

// The limit is 30 s of the host clock, counted from the sender's last digit.
TEST_F(ToneSendersTest, SilenceIsCountedFromTheLastDigitForThirtySeconds) {
  JClock::Manual clock(1000000);
  const int port = listen();
  ToneSender first(port);
  ASSERT_TRUE(first.send(Messages("1")));
  ASSERT_TRUE(waitHeard(1));
  clock.advance(20000);
  ASSERT_TRUE(first.send(Messages("2")));
  ASSERT_TRUE(waitHeard(2));

  ToneSender second(port);
  ASSERT_TRUE(second.send(Messages("34")));
  second.finish();
  ASSERT_TRUE(waitDebugLine("dtmf: " + who(second) + " waits: " + who(first) + " holds the receiver"));
  clock.advance(JToneDigitObj::kSilenceLimitMs - 1);  // 29.999 s since the last digit
  harness.runFor(300);
  EXPECT_EQ(heard(), "12");
  EXPECT_EQ(module.connected.load(), 1);
  clock.advance(1);
  ASSERT_TRUE(waitHeard(4));
  EXPECT_EQ(heard(), "1234");
  EXPECT_TRUE(first.closedByPeer(2000));
  EXPECT_TRUE(waitDebugLine("dtmf: " + who(first) + " closed: no digit for 30 s while another sender waits"));
}

// A sender that floods bytes: those before its close are all read, and whoever waits is heard
// next; one that floods without a digit is a silent one and gives way.
TEST_F(ToneSendersTest, AFloodFromOneSenderBreaksNoOther) {
  {
    SilenceLimit limit(10000);  // far longer than reading the flood takes, sanitizers or not
    const int port = listen();
    ToneSender flood(port);
    ASSERT_TRUE(harness.runUntil([&] { return module.connected.load() == 1; }, 2000));
    ToneSender a(port), b(port);
    ASSERT_TRUE(a.send(Messages("#00*")));
    ASSERT_TRUE(b.send(Messages("#01*")));
    a.finish();
    b.finish();
    std::thread pour([&] {
      const std::string junk(64 * 1024, 'x');
      for (int i = 0; i < 32; ++i)
        if (!flood.send(junk)) return;  // 2 MB without a digit, then one
      flood.send(Messages("9"));
      flood.finish();
    });
    const bool all = waitHeard(9);
    pour.join();
    ASSERT_TRUE(all) << heard();
    const std::string codes = heard();
    EXPECT_EQ(codes[0], '9');
    ExpectEachSenderWholeAndOnce(codes.substr(1), 2);
    module.close();
  }

  // A flood that never carries a digit is cut once another sender waits.
  harness.clear();
  SilenceLimit limit(300);
  const int port = listen();
  ToneSender flood(port);
  ASSERT_TRUE(harness.runUntil([&] { return module.connected.load() == 1; }, 2000));
  std::atomic<bool> cut{false};
  std::thread pour([&] {
    const std::string junk(16 * 1024, 'x');
    for (int i = 0; i < 100000 && !cut; ++i)
      if (flood.sendFor(junk, 100) < 0) cut = true;
  });
  ToneSender next(port);
  ASSERT_TRUE(next.send(Messages("#02*")));
  next.finish();
  EXPECT_TRUE(waitHeard(4));
  EXPECT_EQ(heard(), "#02*");
  EXPECT_TRUE(harness.runUntil([&] { return cut.load(); }, 3000));
  cut = true;
  pour.join();
}

// The listening socket stays open while a sender is served: a sender arriving then is let in (and
// waits), never reset by a listening socket that closes under it.
TEST_F(ToneSendersTest, SendersArrivingAsTurnsEndAreNeverLost) {
  const int port = listen();
  std::string expected;
  for (int round = 0; round < 30; ++round) {
    ToneSender a(port), b(port);
    ASSERT_TRUE(a.connected() && b.connected()) << round;
    ASSERT_TRUE(a.send(toneMessage(static_cast<char>('0' + round % 10))));
    a.close();
    ASSERT_TRUE(b.send(toneMessage(round % 2 ? '*' : '#')));
    b.finish();
    expected += static_cast<char>('0' + round % 10);
    expected += round % 2 ? '*' : '#';
    ASSERT_TRUE(waitHeard(expected.size())) << round << ": " << heard();
  }
  EXPECT_EQ(heard(), expected);
}

// Closing the module resets every sender it let in, served or waiting; a startup listens again.
TEST_F(ToneSendersTest, CloseEndsTheServedAndTheWaitingSenders) {
  const int port = listen();
  ToneSender first(port), second(port), third(port);
  ASSERT_TRUE(second.send(Messages("5")));
  ASSERT_TRUE(harness.runUntil([&] { return module.waitingSenders() == 2; }, 2000));
  module.close();
  EXPECT_FALSE(module.reader.isAlive());
  EXPECT_FALSE(module.door.isAlive());
  EXPECT_EQ(module.waitingSenders(), 0);
  EXPECT_TRUE(first.closedByPeer(2000));
  EXPECT_TRUE(second.closedByPeer(2000));
  EXPECT_TRUE(third.closedByPeer(2000));
  EXPECT_FALSE(ToneSender(port).connected());
  EXPECT_GT(listen(), 0);
}

// A new listen address is taken after the sender served; senders already let in on the old
// listening socket keep their turn.
TEST_F(ToneSendersTest, ANewListenAddressKeepsTheSendersAlreadyLetIn) {
  const int before = listen();
  ToneSender first(before), waiting(before);
  ASSERT_TRUE(waiting.send(Messages("7")));
  waiting.finish();
  ASSERT_TRUE(harness.runUntil([&] { return module.waitingSenders() == 1; }, 2000));
  module.listenAddress.set(JString("127.0.0.1"));
  first.close();
  ASSERT_TRUE(waitHeard(1));
  EXPECT_EQ(heard(), "7");
  ASSERT_TRUE(harness.runUntil([&] { return module.listeningPort() > 0 && module.listeningPort() != before; }, 2000));
  EXPECT_FALSE(ToneSender(before).connected());
}

// Every address of this machine other than loopback's, and 127.0.0.2 (loopback, but not
// 127.0.0.1): where a receiver kept to 127.0.0.1 must not be reached.
std::vector<std::string> OtherLocalAddresses() {
  std::vector<std::string> out{"127.0.0.2"};
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return out;
  for (ifaddrs* a = list; a; a = a->ifa_next) {
    if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET) continue;
    char text[INET_ADDRSTRLEN];
    ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr, text, sizeof text);
    if (std::string(text).rfind("127.", 0) != 0) out.push_back(text);
  }
  ::freeifaddrs(list);
  return out;
}

TEST_F(ToneSendersTest, AListenAddressKeepsTheOtherAddressesOut) {
  // Every interface: reached by any local address (so the checks below can tell).
  int port = listen();
  for (const auto& a : OtherLocalAddresses()) {
    ToneSender s(port, a.c_str());
    EXPECT_TRUE(s.connected()) << a;
  }
  module.close();
  harness.clear();

  port = listen("127.0.0.1");
  ASSERT_GT(port, 0);
  for (const auto& a : OtherLocalAddresses()) EXPECT_FALSE(ToneSender(port, a.c_str()).connected()) << a;
  ToneSender inside(port);
  ASSERT_TRUE(inside.send(Messages("#")));
  ASSERT_TRUE(waitHeard(1));
  module.close();
  harness.clear();

  // A host name resolves to the address listened on.
  port = listen("localhost");
  ASSERT_GT(port, 0);
  EXPECT_FALSE(ToneSender(port, "127.0.0.2").connected());
  EXPECT_TRUE(ToneSender(port, "127.0.0.1").connected());
  EXPECT_TRUE(harness.debugLines().empty()) << ::testing::PrintToString(harness.debugLines());
}

// An address that is not this machine's, or is no address at all, ends the reader with one line
// that names it; the next startup with a good one listens.
TEST_F(ToneSendersTest, AnAddressThatCannotBeListenedOnSaysWhy) {
  const struct {
    const char* address;
    std::string line;
  } cases[] = {
      {"192.0.2.1", "dtmf: listen: \"192.0.2.1\" port 0: Cannot assign requested address"},
      {"::1", "dtmf: listen: unknown listen address \"::1\""},  // IPv4 only
  };
  for (const auto& c : cases) {
    harness.clear();
    module.port = 0;
    module.listenAddress.set(JString(c.address));
    module.startup();
    ASSERT_TRUE(harness.runUntil([&] { return !module.reader.isAlive(); }, 5000)) << c.address;
    EXPECT_EQ(harness.debugLines(), std::vector<std::string>{c.line});
    EXPECT_EQ(module.listeningPort(), -1);
    EXPECT_FALSE(module.door.isAlive());
  }
  EXPECT_GT(listen("127.0.0.1"), 0);
  // The host's listening socket takes IPv4 addresses only; an IPv6 one is refused rather than
  // taken as every interface.
  JServerSocket v6(0);
  v6.setBindAddress(JInetAddress::getNumericAddress(JString("::1")));
  EXPECT_FALSE(v6.listen(1));
  EXPECT_EQ(v6.lastError(), "cannot listen on an IPv6 address");
}

}  // namespace
