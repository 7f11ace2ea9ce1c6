// The canvas's event stream, frame by frame: what a page is sent, how often, and what a page
// that falls behind or joins late gets.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <httplib.h>

#include "CanvasEvents.h"
#include "CanvasServer.h"
#include "Libraries.h"
#include "base/JClock.h"
#include "loom/JDiagram.h"
#include "loom/JWireValue.h"

namespace {
using Clock = std::chrono::steady_clock;

size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
  return n;
}
}  // namespace

TEST(ServeEvents, ValuesAreWrittenAsTheTraceWritesThemWithinBounds) {
  EXPECT_EQ(CanvasEvents::valueData("clock", 0, JWireValue::ofInteger(-7)),
            R"({"module": "clock", "output": 0, "value": -7})");
  EXPECT_EQ(CanvasEvents::valueData("a \"b\"", 2, JWireValue::ofText(JString("x\ny\""))),
            R"({"module": "a \"b\"", "output": 2, "value": "x\ny\""})");
  JBlock b;
  for (int i : {0, 1, 0xab, 0xff}) b.append(static_cast<unsigned char>(i));
  EXPECT_EQ(CanvasEvents::valueData("p", 1, JWireValue::ofBytes(b)),
            R"({"module": "p", "output": 1, "value": "0x0001abff"})");
  EXPECT_EQ(CanvasEvents::valueData("p", 1, JWireValue::ofBytes(JBlock())),
            R"({"module": "p", "output": 1, "value": "0x"})");

  // A text far too long for a wire label is cut before a character, never inside one.
  std::string text(CanvasEvents::kMaxTextBytes - 1, 'a');
  text += "\xc3\xa9tail";  // é straddles the bound
  const std::string cut = CanvasEvents::valueData("t", 0, JWireValue::ofText(JString(text)));
  EXPECT_NE(cut.find("\"more\": 6}"), std::string::npos) << cut.substr(cut.size() - 40);
  EXPECT_EQ(cut.find("\xc3"), std::string::npos);
  JBlock big;
  for (size_t i = 0; i < CanvasEvents::kMaxBlockBytes + 10; ++i) big.append(0x5a);
  const std::string cutBytes = CanvasEvents::valueData("t", 0, JWireValue::ofBytes(big));
  EXPECT_EQ(count(cutBytes, "5a"), CanvasEvents::kMaxBlockBytes);
  EXPECT_NE(cutBytes.find("\"more\": 10}"), std::string::npos);
}

TEST(ServeEvents, FramesKeepTheirPaceAndTheLastValueAlwaysGoes) {
  CanvasEvents events;
  CanvasEvents::Cursor c = events.join();
  std::atomic<bool> sending{true};
  // A value every half millisecond on two outputs, for a quarter of a second.
  std::thread host([&] {
    for (int i = 1; i <= 500; ++i) {
      events.value("fast", 0, JWireValue::ofInteger(i));
      events.value("fast", 1, JWireValue::ofInteger(-i));
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    sending = false;
  });
  std::vector<Clock::time_point> frames;
  int last0 = 0, sent0 = 0;
  std::string frame;
  const auto until = Clock::now() + std::chrono::seconds(20);
  while (Clock::now() < until) {
    const bool quiet = !sending.load();
    ASSERT_TRUE(events.nextFrame(c, 100, frame));
    if (frame.empty()) {
      if (quiet) break;  // nothing came after the sender stopped
      continue;
    }
    frames.push_back(Clock::now());
    // Each output at most once a frame, in the value's own form.
    EXPECT_LE(count(frame, R"("module": "fast", "output": 0)"), 1u);
    EXPECT_LE(count(frame, R"("module": "fast", "output": 1)"), 1u);
    const std::string key = R"("output": 0, "value": )";
    const size_t at = frame.find(key);
    if (at != std::string::npos) {
      const int v = std::stoi(frame.substr(at + key.size()));
      EXPECT_GT(v, last0);
      last0 = v;
      ++sent0;
    }
  }
  host.join();
  EXPECT_EQ(last0, 500);
  EXPECT_LT(sent0, 500);
  for (size_t i = 1; i < frames.size(); ++i)
    EXPECT_GE(frames[i] - frames[i - 1], std::chrono::milliseconds(CanvasEvents::kFrameMs - 1)) << "frame " << i;
  const CanvasEvents::Delays d = events.delays();
  EXPECT_GE(d.count, static_cast<uint64_t>(sent0));
  std::printf("broadcast to frame: %llu values, mean %.1f ms, max %.1f ms\n", static_cast<unsigned long long>(d.count),
              d.count ? d.totalUs / 1000.0 / static_cast<double>(d.count) : 0.0, d.maxUs / 1000.0);
  events.leave();
}

TEST(ServeEvents, MonitorLinesRepaintsAndChangesReachEveryPage) {
  JDiagram d;
  JModuleObj* a = d.add(new JAddObj, "a");
  JModuleObj* b = d.add(new JAddObj, "b");
  CanvasEvents events;
  events.watch(a);
  events.watch(b);
  events.monitorLine("M mon.0 1");  // nobody watches yet: not kept
  CanvasEvents::Cursor c = events.join();
  std::string frame;
  ASSERT_TRUE(events.nextFrame(c, 0, frame));
  EXPECT_EQ(frame, "");

  events.monitorLine("M mon.0 2");
  events.monitorLine("M mon.0 \"two\nlines\"");
  a->repaint();
  events.diagramChanged();
  ASSERT_TRUE(events.nextFrame(c, 1000, frame));
  EXPECT_EQ(frame,
            "event: monitor\ndata: M mon.0 2\n\n"
            "event: monitor\ndata: M mon.0 \"two\ndata: lines\"\n\n"
            "event: diagram\ndata: {}\n\n"
            "event: repaint\ndata: {\"module\": \"a\"}\n\n");

  // A page that falls behind the kept lines is told how many it missed, then gets the rest.
  for (size_t i = 0; i < CanvasEvents::kMaxLines + 5; ++i) events.monitorLine("M mon.0 " + std::to_string(i));
  ASSERT_TRUE(events.nextFrame(c, 1000, frame));
  EXPECT_EQ(frame.rfind(": 5 monitor lines skipped\n\nevent: monitor\ndata: M mon.0 5\n\n", 0), 0u)
      << frame.substr(0, 80);
  EXPECT_EQ(count(frame, "event: monitor"), CanvasEvents::kMaxLines);

  // A module removed is no longer looked at, and its values are forgotten.
  events.value("b", 0, JWireValue::ofInteger(9));
  events.unwatch(b);
  d.remove(b);
  ASSERT_TRUE(events.nextFrame(c, 50, frame));
  EXPECT_EQ(frame, "");
  events.value("a", 0, JWireValue::ofInteger(4));
  CanvasEvents::Cursor late = events.join();  // a page joining now gets the latest value at once
  ASSERT_TRUE(events.nextFrame(late, 0, frame));
  EXPECT_EQ(frame, "event: value\ndata: {\"module\": \"a\", \"output\": 0, \"value\": 4}\n\n");
  EXPECT_EQ(events.streams(), 2);

  // Closing ends a stream that waits.
  ASSERT_TRUE(events.nextFrame(c, 1000, frame));
  EXPECT_EQ(frame, "event: value\ndata: {\"module\": \"a\", \"output\": 0, \"value\": 4}\n\n");
  std::thread closer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    events.close();
  });
  const auto start = Clock::now();
  EXPECT_FALSE(events.nextFrame(c, 10000, frame));
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
  closer.join();
  events.leave();
  events.leave();
}

TEST(ServeEvents, RepaintsAreToldAtMostFiveTimesASecondTheLastAlways) {
  JDiagram d;
  JModuleObj* a = d.add(new JAddObj, "a");
  CanvasEvents events;
  events.watch(a);
  CanvasEvents::Cursor c = events.join();
  std::string frame;
  a->repaint();  // repaints wake no stream: it looks at the end of its wait
  ASSERT_TRUE(events.nextFrame(c, 100, frame));
  EXPECT_EQ(frame, "event: repaint\ndata: {\"module\": \"a\"}\n\n");
  const auto first = Clock::now();
  a->repaint();  // soon after: held back, not lost
  ASSERT_TRUE(events.nextFrame(c, 0, frame));
  EXPECT_EQ(frame, "");
  while (frame.empty() && Clock::now() - first < std::chrono::seconds(10)) ASSERT_TRUE(events.nextFrame(c, 100, frame));
  EXPECT_EQ(frame, "event: repaint\ndata: {\"module\": \"a\"}\n\n");
  EXPECT_GE(Clock::now() - first, std::chrono::milliseconds(CanvasEvents::kRepaintMs - 1));
  events.leave();
}

// The whole road in one process: a Timer every 10 ms, the server, and a page's stream read over
// HTTP. Prints how long values waited between their broadcast and the write to the stream.
TEST(ServeEvents, ATimersValuesReachAPageOverHttp) {
  registerHostModules();
  auto d = JDiagram::loadText(R"({"loomwork": 1, "modules": [
      {"id": "clock", "class": "Timer", "rect": [0, 0, 80, 60], "content": {"periodMs": 10}}]})",
                              "timer.lwd");
  CanvasServer server(*d, "timer.lwd", "[]");
  server.start(CanvasServer::Address{"127.0.0.1", 0});
  const int port = std::stoi(server.url().substr(server.url().rfind(':') + 1));
  d->setObserver([&](JModuleObj& m, int output, const JWireValue& v) { server.valueSeen(m, output, v); });
  std::atomic<int> last{0};
  std::thread page([&] {
    httplib::Client c("127.0.0.1", port);
    c.set_read_timeout(10, 0);
    std::string pending;
    c.Get("/api/events", [&](const char* data, size_t size) {
      pending.append(data, size);
      const std::string key = "\"value\": ";
      size_t at;
      while ((at = pending.find(key)) != std::string::npos) {
        last = std::stoi(pending.substr(at + key.size()));
        pending.erase(0, at + key.size());
      }
      return true;  // until the server ends the stream
    });
  });
  d->bindHostThread();
  d->startupAll();
  d->run([&] { return last.load() >= 150; }, JClock::millis() + 20000);
  const CanvasEvents::Delays delays = server.events().delays();
  server.close();
  d->closeAll();
  page.join();
  EXPECT_GE(last.load(), 150);
  ASSERT_GT(delays.count, 0u);
  EXPECT_LT(delays.count, 150u);  // coalesced into frames
  std::printf("Timer at 10 ms, broadcast to stream write: %llu values sent, mean %.1f ms, max %.1f ms\n",
              static_cast<unsigned long long>(delays.count),
              delays.totalUs / 1000.0 / static_cast<double>(delays.count), delays.maxUs / 1000.0);
}
