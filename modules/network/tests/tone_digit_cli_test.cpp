// The tone digit receiver in the real loomwork binary, wired to a Monitor, with senders on
// loopback: overlapping, silent and flooding ones, and the listen address by every road.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "testing/Loopback.h"
#include "testing/Process.h"
#include "testing/TempFolder.h"
#include "tone_sender.h"

namespace fs = std::filesystem;

namespace {

// A port inside the receiver's 3000..8000 that nothing listens on now.
int FreeReceiverPort() {
  for (int i = 0; i < 5000; ++i) {
    const int port = 3000 + (static_cast<int>(getpid()) * 13 + i * 7) % 5001;
    if (port != 3502 && LoopbackServer(port).listening()) return port;
  }
  return -1;
}

// A modules folder with the receiver alone, so that the run depends on no other library.
std::string ReceiverOnly(const TempFolder& dir) {
  const std::string folder = dir.file("modules");
  fs::create_directories(folder);
  fs::create_symlink(std::string(LOOMWORK_MODULES_DIR) + "/JToneDigitObj.so", folder + "/JToneDigitObj.so");
  return folder;
}

std::string Diagram(const TempFolder& dir, int port, const std::string& address) {
  return dir.write("tones.lwd", R"({ "loomwork": 1, "modules": [
    { "id": "dtmf", "class": "JToneDigitObj", "rect": [20, 20, 120, 160],
      "content": { "port": )" + std::to_string(port) +
                                    R"(, "listenAddress": ")" + address +
                                    R"(" } },
    { "id": "digit", "class": "Monitor", "rect": [220, 20, 160, 60], "content": { "inputs": 1 } } ],
  "links": [ { "from": "dtmf:12", "to": "digit:0" } ] })");
}

// The digits the Monitor printed so far, in order ("M digit.0 55" is '7').
std::string Heard(const ProcessResult& r) {
  std::string codes;
  for (const auto& line : r.outLines())
    if (line.rfind("M digit.0 ", 0) == 0) codes += static_cast<char>(std::stoi(line.substr(10)));
  return codes;
}

std::string Messages(const std::string& digits) {
  std::string out;
  for (char c : digits) out += toneMessage(c);
  return out;
}

// Sender i's digits: '#', i in two decimal digits, '*'.
std::string SequenceOf(int i) {
  return std::string{'#', static_cast<char>('0' + i / 10), static_cast<char>('0' + i % 10), '*'};
}

// n senders started together, each sending its sequence in two pieces and closing.
void SendTogether(int port, int n, int first, std::atomic<int>& connected) {
  std::mutex m;
  std::condition_variable go;
  bool started = false;
  std::vector<std::thread> senders;
  for (int i = first; i < first + n; ++i) {
    senders.emplace_back([&, i] {
      {
        std::unique_lock<std::mutex> lock(m);
        go.wait(lock, [&] { return started; });
      }
      ToneSender s(port);
      if (!s.connected()) return;
      ++connected;
      const std::string all = Messages(SequenceOf(i));
      if (s.send(all.substr(0, 8))) s.send(all.substr(8));
      s.finish();
    });
  }
  {
    std::lock_guard<std::mutex> lock(m);
    started = true;
  }
  go.notify_all();
  for (auto& t : senders) t.join();
}

// The codes cut into sequences of four: each one sender's whole, every sender of [first, first +
// n) exactly once.
void ExpectWholeAndOnce(const std::string& codes, int first, int n) {
  ASSERT_EQ(codes.size(), static_cast<size_t>(4 * n)) << codes;
  std::set<int> seen;
  for (size_t at = 0; at < codes.size(); at += 4) {
    const std::string one = codes.substr(at, 4);
    ASSERT_TRUE(one[0] == '#' && isdigit(one[1]) && isdigit(one[2]) && one[3] == '*') << "mixed: " << codes;
    const int i = (one[1] - '0') * 10 + (one[2] - '0');
    EXPECT_TRUE(i >= first && i < first + n && seen.insert(i).second) << i << " in " << codes;
  }
}

class ToneCli : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(dir.ok());
    port = FreeReceiverPort();
    ASSERT_GT(port, 0);
    modules = ReceiverOnly(dir);
  }
  // Waits until the receiver takes senders (each probe is a sender with nothing to say).
  bool waitListening(RunningProcess& p) {
    for (int i = 0; i < 250; ++i) {
      if (ToneSender(port).connected()) return true;
      p.readUntil([](const ProcessResult&) { return false; }, 20);
    }
    return false;
  }
  TempFolder dir;
  int port = -1;
  std::string modules;
};

// Two, five and twenty senders at once through the real binary, kept to loopback, after a silent
// sender that gives way: every digit printed once, each sender's together; then SIGTERM ends the
// run as usual.
TEST_F(ToneCli, OverlappingAndSilentSendersThroughLoomwork) {
  const std::string diagram = Diagram(dir, port, "127.0.0.1");
  RunningProcess run("/usr/bin/env",
                     {"LOOMWORK_TONE_SILENCE_MS=400", LOOMWORK_BIN, "run", diagram, "--modules", modules});
  ASSERT_TRUE(run.started());
  ASSERT_TRUE(waitListening(run)) << run.soFar().err;
  // Kept to 127.0.0.1: the rest of loopback does not reach it.
  EXPECT_FALSE(ToneSender(port, "127.0.0.2").connected());

  ToneSender silent(port);
  ASSERT_TRUE(silent.connected());
  std::atomic<int> connected{0};
  int expected = 0, first = 0;
  std::string before;
  for (int n : {2, 5, 20}) {
    SendTogether(port, n, first, connected);
    expected += 4 * n;
    ASSERT_TRUE(
        run.readUntil([&](const ProcessResult& r) { return Heard(r).size() >= static_cast<size_t>(expected); }, 5000))
        << n << " senders; heard " << Heard(run.soFar()) << "\n"
        << run.soFar().err;
    ExpectWholeAndOnce(Heard(run.soFar()).substr(before.size()), first, n);
    before = Heard(run.soFar());
    first += n;
  }
  EXPECT_EQ(connected.load(), 27);
  EXPECT_TRUE(silent.closedByPeer(1000));
  EXPECT_NE(run.soFar().err.find("dtmf: 127.0.0.1:" + std::to_string(silent.localPort()) +
                                 " closed: no digit for 400 ms while another sender waits\n"),
            std::string::npos)
      << run.soFar().err;

  run.signal(SIGTERM);
  const ProcessResult r = run.finish(5000);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Heard(r).size(), static_cast<size_t>(expected));
}

// A sender that pours 4 MB of bytes that are no digits, then one digit: it is read to its end
// (well inside the 30 s it may keep its turn without a digit), and the two that waited behind it
// are heard whole after it.
TEST_F(ToneCli, AFloodFromOneSenderBreaksNoOther) {
  RunningProcess run(LOOMWORK_BIN, {"run", Diagram(dir, port, ""), "--modules", modules});
  ASSERT_TRUE(waitListening(run)) << run.soFar().err;
  ToneSender flood(port);
  ASSERT_TRUE(flood.send(Messages("0")));
  ToneSender a(port), b(port);
  ASSERT_TRUE(a.send(Messages(SequenceOf(90))));
  ASSERT_TRUE(b.send(Messages(SequenceOf(91))));
  a.finish();
  b.finish();
  const std::string junk(256 * 1024, 'x');
  for (int i = 0; i < 16; ++i) ASSERT_TRUE(flood.send(junk)) << i;
  ASSERT_TRUE(flood.send(Messages("9")));
  flood.finish();
  ASSERT_TRUE(run.readUntil([&](const ProcessResult& r) { return Heard(r).size() >= 10; }, 5000))
      << Heard(run.soFar()) << "\n"
      << run.soFar().err;
  const std::string codes = Heard(run.soFar());
  EXPECT_EQ(codes.substr(0, 2), "09");
  ExpectWholeAndOnce(codes.substr(2), 90, 2);
  EXPECT_TRUE(a.closedByPeer(1000));
  EXPECT_TRUE(b.closedByPeer(1000));
  run.signal(SIGINT);
  const ProcessResult r = run.finish(5000);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Heard(r), codes);
}

// The listen address by property listing, `set` and `--set`; one that cannot be listened on gives
// one line that names it, and the run goes on to its end.
TEST_F(ToneCli, TheListenAddressByEveryRoad) {
  const std::string diagram = Diagram(dir, port, "");
  ProcessResult r = runProcess(LOOMWORK_BIN, {"props", diagram, "dtmf", "--modules", modules}, 10000);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("listen address text \"\"\n"), std::string::npos) << r.out;

  r = runProcess(LOOMWORK_BIN, {"set", diagram, "dtmf.listen address=127.0.0.1", "--modules", modules}, 10000);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(TempFolder::read(diagram).find("\"listenAddress\": \"127.0.0.1\""), std::string::npos)
      << TempFolder::read(diagram);

  r = runProcess(LOOMWORK_BIN,
                 {"run", diagram, "--set", "dtmf.listen address=192.0.2.1", "--seconds", "0.3", "--modules", modules},
                 10000);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "dtmf: listen: \"192.0.2.1\" port " + std::to_string(port) + ": Cannot assign requested address\n");

  // The saved 127.0.0.1 is listened on; the rest of loopback is kept out.
  RunningProcess run(LOOMWORK_BIN, {"run", diagram, "--modules", modules});
  ASSERT_TRUE(waitListening(run)) << run.soFar().err;
  EXPECT_FALSE(ToneSender(port, "127.0.0.2").connected());
  ToneSender s(port);
  ASSERT_TRUE(s.send(Messages("5")));
  ASSERT_TRUE(run.readUntil([](const ProcessResult& p) { return Heard(p) == "5"; }, 3000)) << run.soFar().err;
  run.signal(SIGINT);
  EXPECT_EQ(run.finish(5000).status, 0);
}

}  // namespace
