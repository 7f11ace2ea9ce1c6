// The digit link on its own worker: call handling hands digits over and never waits, the order of
// digits and calls is kept, the queue is bounded, and closing never waits out a missing receiver.
#include <condition_variable>
#include <mutex>
#include <thread>

#include "link/QueuedDigitLink.h"
#include "tests/DigitLinkFixture.h"
#include "tests/LoopbackReceiver.h"

namespace {

std::string Wire(const std::string& digits) {
  std::string bytes;
  for (char c : digits) bytes += std::string{'a', 'b', c, '\0'};
  return bytes;
}

// The pause between connection tries, held shut until the test opens it.
class Gate {
public:
  void Pause() {
    std::unique_lock<std::mutex> lock(m_mutex);
    ++m_pauses;
    m_changed.notify_all();
    m_changed.wait(lock, [&] { return m_open; });
  }
  bool WaitForPause(int ms = 5000) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(ms), [&] { return m_pauses > 0; });
  }
  void Open() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_open = true;
    m_changed.notify_all();
  }

private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
  bool m_open = false;
  int m_pauses = 0;
};

class QueuedDigitLinkTest : public DigitLinkFixture {
protected:
  CDigitLinkSetup setup(int port) {
    CDigitLinkSetup s;
    s.folder = folder;
    s.port = port;
    s.pause = [this](int) { gate.Pause(); };
    return s;
  }
  std::vector<std::string> said() {
    std::lock_guard<std::mutex> lock(saidMutex);
    return lines;
  }
  CQueuedDigitLink::Debug debug() {
    return [this](const std::string& text) {
      std::lock_guard<std::mutex> lock(saidMutex);
      lines.push_back(text);
    };
  }
  Gate gate;
  std::mutex saidMutex;
  std::vector<std::string> lines;
};

TEST_F(QueuedDigitLinkTest, DigitsWaitForTheReceiverWithoutHoldingTheCallerAndKeepTheirOrder) {
  writeConnectFile("127.0.0.1\n");
  const int port = UnusedPort();
  CQueuedDigitLink queued(setup(port), debug());
  // The first digit finds no receiver: the worker pauses between tries, and is held there.
  queued.SendDigitToLoomwork('1');
  ASSERT_TRUE(gate.WaitForPause());
  // Meanwhile the call goes on, ends, and another call's digits come: none of it waits.
  queued.SendDigitToLoomwork('2');
  queued.EndDataToLoomwork();
  queued.SendDigitToLoomwork('3');
  queued.SendDigitToLoomwork('4');
  EXPECT_EQ(queued.Waiting(), 3u);

  LoopbackReceiver receiver(port);
  ASSERT_TRUE(receiver.listening());
  gate.Open();
  ASSERT_TRUE(receiver.accept(5000));
  EXPECT_EQ(receiver.read(8), Wire("12"));
  EXPECT_EQ(receiver.read(1, 1000), "");  // the first call's end closed its connection
  ASSERT_TRUE(receiver.accept(5000));
  EXPECT_EQ(receiver.read(8), Wire("34"));
  EXPECT_TRUE(queued.WaitIdle(5000));
  EXPECT_EQ(queued.Waiting(), 0u);
  EXPECT_EQ(queued.Dropped(), 0u);
  // The trace of the second call's link, which the first call's end started afresh.
  EXPECT_TRUE(traceHas("Send digit 3 to loomwork"));
  EXPECT_FALSE(traceHas("Send digit 1 to loomwork"));
  queued.Close();
  EXPECT_TRUE(said().empty());
}

TEST_F(QueuedDigitLinkTest, AReceiverThatNeverComesCostsABoundedQueueAndDropsAreToldOnce) {
  writeConnectFile("127.0.0.1\n");
  CQueuedDigitLink queued(setup(UnusedPort()), debug());
  queued.SendDigitToLoomwork('0');
  ASSERT_TRUE(gate.WaitForPause());
  for (size_t i = 0; i < CQueuedDigitLink::kMostWaitingDigits + 3; ++i) queued.SendDigitToLoomwork('5');
  EXPECT_EQ(queued.Waiting(), CQueuedDigitLink::kMostWaitingDigits);
  EXPECT_EQ(queued.Dropped(), 3u);
  ASSERT_EQ(said().size(), 1u);
  EXPECT_NE(said()[0].find("digit 5 and the next ones are dropped"), std::string::npos) << said()[0];

  // Closing tries no more connections (the first digit's tries end at once) and says how much
  // went unsent.
  std::thread closer([&] { queued.Close(); });
  for (int i = 0; i < 500 && !queued.Closed(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  gate.Open();
  closer.join();
  const std::vector<std::string> all = said();
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[1], "digit link: " + std::to_string(CQueuedDigitLink::kMostWaitingDigits + 3) +
                        " digits were not sent: Loomwork had not taken them when Callwatch stopped\n");
  EXPECT_EQ(queued.Dropped(), CQueuedDigitLink::kMostWaitingDigits + 3);
  EXPECT_EQ(traceCount("connect result is -2"), 1);  // the first digit's last try
  // Nothing queues after the close.
  queued.SendDigitToLoomwork('7');
  EXPECT_EQ(queued.Waiting(), 0u);
}

TEST_F(QueuedDigitLinkTest, ClosingSendsWhatAConnectedReceiverCanStillTake) {
  LoopbackReceiver receiver;
  writeConnectFile("127.0.0.1\n");
  CQueuedDigitLink queued(setup(receiver.port()), debug());
  queued.SendDigitToLoomwork('8');
  ASSERT_TRUE(receiver.accept(5000));
  EXPECT_EQ(receiver.read(4), Wire("8"));
  for (char c : std::string("9*#")) queued.SendDigitToLoomwork(c);
  queued.Close();
  EXPECT_EQ(receiver.read(12), Wire("9*#"));
  EXPECT_EQ(queued.Dropped(), 0u);
  EXPECT_TRUE(said().empty());
}

TEST_F(QueuedDigitLinkTest, ClosingCutsTheWorkersOwnPausesShort) {
  // Without a pause of the test's: the worker sleeps its real second between tries.
  writeConnectFile("127.0.0.1\n");
  CDigitLinkSetup s;
  s.folder = folder;
  s.port = UnusedPort();
  CQueuedDigitLink queued(s, debug());
  for (char c : std::string("123")) queued.SendDigitToLoomwork(c);
  for (int i = 0; i < 200 && !traceHas("real connect returned -1"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  // Ten tries would take ten seconds per digit; the close takes one step.
  queued.Close();
  const std::vector<std::string> all = said();
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0], "digit link: 2 digits were not sent: Loomwork had not taken them when Callwatch stopped\n");
  EXPECT_LT(traceCount("OK, real connect"), 10);
}

}  // namespace
