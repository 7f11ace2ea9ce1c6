// sceneview: its frame reader, payloads and DEF names; the server with bad and vanishing
// clients; and the example diagram driving it end to end through the real programs.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <chrono>
#include <csignal>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "SceneProtocol.h"
#include "TestFrames.h"
#include "Viewer.h"
#include "base/JSocket.h"
#include "gfxkit/JCanvas.h"
#include "gfxkit/JGraphics.h"
#include "testing/Loopback.h"
#include "testing/Process.h"
#include "testing/TempFolder.h"

namespace {

using namespace sceneview;
using namespace sceneview_test;

TEST(SceneFrames, ReaderCutsAtAnyBoundaryAndRefusesBrokenStreams) {
  Bytes stream = framed(1, le({4, 0, 1, 1, 2, 3}));
  Bytes second = framed(2, le({2, 1, 2, 3, 5, 4, 5, 6, 7, 8}));
  stream.insert(stream.end(), second.begin(), second.end());
  for (size_t cut = 0; cut <= stream.size(); ++cut) {
    FrameReader r;
    std::vector<Frame> frames;
    std::string error;
    ASSERT_TRUE(r.feed(stream.data(), cut, frames, error));
    ASSERT_TRUE(r.feed(stream.data() + cut, stream.size() - cut, frames, error));
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[1].sequence, 2);
    EXPECT_EQ(frames[1].payload.size(), 40u);
    EXPECT_EQ(r.buffered(), 0u);
  }
  FrameReader r;
  std::vector<Frame> frames;
  std::string error;
  const Bytes tooShort{3, 0, 1, 0, 9};
  EXPECT_FALSE(r.feed(tooShort.data(), tooShort.size(), frames, error));
  EXPECT_NE(error.find("too short"), std::string::npos);
  EXPECT_FALSE(r.feed(tooShort.data(), 1, frames, error));  // stays broken
  FrameReader garbage;
  const Bytes text{'h', 'e', 'l', 'l', 'o'};
  EXPECT_FALSE(garbage.feed(text.data(), text.size(), frames, error));
  EXPECT_TRUE(frames.empty());
}

TEST(SceneFrames, PayloadsChangeTheScene) {
  Scene s;
  s.setNames({"ball", "floor"});
  std::vector<std::string> changes;
  std::string file, error;
  ASSERT_TRUE(s.apply(le({4, 0, 1, -5, 6, 7}), changes, file, error));
  ASSERT_TRUE(s.apply(le({4, 1, 6, 40, 0, 0}), changes, file, error));
  ASSERT_TRUE(s.apply(le({4, 2, 7, 1, 1, 1}), changes, file, error));
  ASSERT_TRUE(
      s.apply(le({1, 0, 100, 0, 10, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), changes, file, error));
  ASSERT_TRUE(s.apply(le({2, 50, 20, 3, 5, 0, 0, 0, 0, 0}), changes, file, error));
  Bytes scene = le({5});
  for (char c : std::string("a.wrl")) scene.push_back(static_cast<uint8_t>(c));
  scene.push_back(0);
  ASSERT_TRUE(s.apply(scene, changes, file, error));
  EXPECT_EQ(file, "a.wrl");
  EXPECT_EQ(changes, (std::vector<std::string>{"ball location -5 6 7", "floor transparency 40", "?3 marker 1",
                                               "calibration x 0 100 y 0 10 z 0 0",
                                               "sample position 500 1000 0 signals 0 0 0 0 0", "scene file a.wrl"}));
  EXPECT_FALSE(s.apply(le({4, 10, 1, 0, 0, 0}), changes, file, error));  // no object 11
  EXPECT_FALSE(s.apply(le({4, 0, 8, 0, 0, 0}), changes, file, error));
  EXPECT_FALSE(s.apply(le({2, 1}), changes, file, error));
  EXPECT_FALSE(s.apply(le({9}), changes, file, error));
  EXPECT_FALSE(s.apply(le({5}), changes, file, error));
  EXPECT_FALSE(s.apply(Bytes{1, 0}, changes, file, error));
}

// What the top view and the change lines rely on: the same calibration again is no change, a
// named or moved object is shown, a location leaves a bounded trail, and a name that a client
// sent comes out without control bytes.
TEST(SceneFrames, RepeatsTrailsAndQuotedNames) {
  Scene s;
  s.setNames({"ball"});
  std::vector<std::string> changes;
  std::string file, error;
  const Bytes calibration = le({1, 0, 100, 0, 10, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  const Bytes zeros = le({1, 0, 0, 0, 0, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  ASSERT_TRUE(s.apply(zeros, changes, file, error));  // the first one counts, even all zero
  ASSERT_TRUE(s.apply(calibration, changes, file, error));
  ASSERT_TRUE(s.apply(calibration, changes, file, error));
  EXPECT_EQ(changes, (std::vector<std::string>{"calibration x 0 0 y 0 0 z 0 0", "calibration x 0 100 y 0 10 z 0 0"}));
  EXPECT_FALSE(s.hasSample());

  EXPECT_TRUE(s.objects()[0].shown);
  EXPECT_FALSE(s.objects()[1].shown);
  ASSERT_TRUE(s.apply(le({4, 1, 4, 50, 50, 50}), changes, file, error));  // a colour shows it too
  EXPECT_TRUE(s.objects()[1].shown);
  for (int i = 0; i < static_cast<int>(kMaxTrail) + 5; ++i)
    ASSERT_TRUE(s.apply(le({4, 0, 1, i, 7, -i}), changes, file, error));
  const auto& trail = s.objects()[0].trail;
  ASSERT_EQ(trail.size(), kMaxTrail);
  EXPECT_EQ(trail.back(), std::make_pair(static_cast<int>(kMaxTrail) + 4, -static_cast<int>(kMaxTrail) - 4));
  EXPECT_EQ(trail.front(), std::make_pair(5, -5));
  EXPECT_TRUE(s.objects()[1].trail.empty());

  Bytes scene = le({5});
  for (char c : std::string("a\x1b]0;x\x07.wrl")) scene.push_back(static_cast<uint8_t>(c));
  changes.clear();
  ASSERT_TRUE(s.apply(scene, changes, file, error));
  EXPECT_EQ(changes, std::vector<std::string>{"scene file a\\x1b]0;x\\x07.wrl"});
  EXPECT_EQ(file, "a\x1b]0;x\x07.wrl");  // the name itself stays as sent
  EXPECT_EQ(printable("tab\there\x7f"), "tab\\x09here\\x7f");
}

TEST(SceneFrames, DefNames) {
  EXPECT_EQ(defNames("DEF ball Transform {}\n# DEF hidden\nDEF  floor Shape{} USEDEF x DEF ball\nDEF lamp{"),
            (std::vector<std::string>{"ball", "floor", "lamp"}));
  EXPECT_TRUE(defNames("DEF").empty());
  EXPECT_TRUE(defNames("DEFINE x").empty());
  EXPECT_EQ(defNames("DEF " + std::string(200, 'n'))[0].size(), kMaxNameLength);
  EXPECT_EQ(defNames("DEF a,b").front(), "a");  // a comma would split the list
  EXPECT_EQ(joinNames({"a", "b"}), "a,b");
}

// A viewer on an ephemeral port, served on a thread of its own.
class ViewerServer {
public:
  explicit ViewerServer(const std::string& scenes = ".") {
    ViewerOptions o;
    o.port = 0;
    o.scenes = scenes;
    o.stallMs = 300;
    viewer = std::make_unique<Viewer>(o);
    viewer->out = [this](const std::string& l) {
      std::lock_guard<std::mutex> g(m);
      outLines.push_back(l);
    };
    viewer->err = [this](const std::string& l) {
      std::lock_guard<std::mutex> g(m);
      errLines.push_back(l);
    };
    std::string error;
    ok = viewer->listen(error);
    if (ok) thread = std::thread([this] { viewer->serve(stop); });
  }
  ~ViewerServer() {
    stop = true;
    if (thread.joinable()) thread.join();
  }
  bool waitFor(const std::string& line, bool onErr = false, int ms = 3000) {
    for (int i = 0; i < ms / 10; ++i) {
      {
        std::lock_guard<std::mutex> g(m);
        for (const auto& l : onErr ? errLines : outLines)
          if (l.find(line) != std::string::npos) return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  size_t errCount() {
    std::lock_guard<std::mutex> g(m);
    return errLines.size();
  }
  std::unique_ptr<Viewer> viewer;
  std::atomic<bool> stop{false};
  std::thread thread;
  std::mutex m;
  std::vector<std::string> outLines, errLines;
  bool ok = false;
};

TEST(SceneViewer, AsksForCalibrationAnswersSceneFilesAndSurvivesBadClients) {
  TempFolder folder;
  folder.write("s.wrl", "DEF cube Shape {}\nDEF cone Shape {}\n");
  ViewerServer server(folder.path());
  ASSERT_TRUE(server.ok);
  const int port = server.viewer->port();

  {  // short frame, then gone
    LoopbackClient c(port);
    ASSERT_TRUE(c.connected());
    EXPECT_EQ(c.read(2), "c\n");
    c.send(std::string("\x10\x00\x01\x00\x04", 5));
  }
  EXPECT_TRUE(server.waitFor("went away inside a frame", true));
  {  // a wrong length
    LoopbackClient c(port);
    EXPECT_EQ(c.read(2), "c\n");
    c.send(std::string("\x01\x00\x01\x00", 4));
    EXPECT_TRUE(c.closedByPeer(2000));
  }
  EXPECT_TRUE(server.waitFor("too short", true));
  {  // garbage text
    LoopbackClient c(port);
    EXPECT_EQ(c.read(2), "c\n");
    c.send("GET / HTTP/1.0\r\n\r\n");
    EXPECT_TRUE(c.closedByPeer(2000));
  }
  LoopbackClient stalled(port);  // stalls inside a frame while another is served
  EXPECT_EQ(stalled.read(2), "c\n");
  stalled.send(std::string("\x20\x00\x01\x00", 4));
  {
    LoopbackClient c(port);
    EXPECT_EQ(c.read(2), "c\n");
    Bytes file = le({5});
    for (char ch : std::string("s.wrl")) file.push_back(static_cast<uint8_t>(ch));
    c.send(str(framed(1, file)) + str(framed(2, le({4, 1, 1, 10, 20, 30}))) + str(framed(9, le({77}))) +
           str(framed(3, le({4, 0, 3, 50, 60, 70}))));
    EXPECT_EQ(c.read(10), "cube,cone\n");
    EXPECT_TRUE(server.waitFor("cone location 10 20 30"));
    EXPECT_TRUE(server.waitFor("cube emissive 50 60 70"));
    EXPECT_TRUE(server.waitFor("unknown payload kind 77", true));
    EXPECT_TRUE(server.waitFor("sequence 9, expected 3", true));
  }
  EXPECT_TRUE(server.waitFor("stalled inside a frame", true));
  EXPECT_TRUE(stalled.closedByPeer(2000));
  // A missing scene file is reported; the client stays.
  LoopbackClient c(port);
  Bytes missing = le({5});
  for (char ch : std::string("nothing.wrl")) missing.push_back(static_cast<uint8_t>(ch));
  c.send(str(framed(1, missing)) + str(framed(2, le({4, 0, 5, 1, 2, 3}))));
  EXPECT_TRUE(server.waitFor("cannot read scene file", true));
  EXPECT_TRUE(server.waitFor("cube scale 1 2 3"));
}

int freeFeedPort() {
  for (int p = 4821; p < 4900; ++p) {
    JServerSocket probe(p);
    if (probe.listen(1)) return p;
  }
  return -1;
}

// The example: Player -> JSceneMapper -> JPlotFeed -> sceneview, names wired back to the mapper.
TEST(SceneViewerEndToEnd, ExampleMovesTheBall) {
  const int port = freeFeedPort();
  ASSERT_GT(port, 0);
  TempFolder folder;
  const std::string png = folder.file("top.png");
  const std::string example = std::string(LOOMWORK_SOURCE_DIR) + "/examples/scene";
  RunningProcess running(SCENEVIEW_BIN, {"--port", std::to_string(port), "--scenes", example, "--png", png});
  ASSERT_TRUE(
      running.readUntil([](const ProcessResult& r) { return r.out.find("listening on") != std::string::npos; }, 5000));
  ProcessResult run = runProcess(LOOMWORK_BIN,
                                 {"run", example + "/scene.lwd", "--until-idle", "--modules", LOOMWORK_MODULES_DIR,
                                  "--set", "feed.port=" + std::to_string(port)},
                                 20000);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  // Everything the feed sent is in once the viewer saw it leave; the picture comes at the end.
  EXPECT_TRUE(
      running.readUntil([](const ProcessResult& r) { return r.out.find("client 1 left") != std::string::npos; }, 5000));
  running.signal(SIGTERM);
  const ProcessResult viewer = running.finish(5000);
  ASSERT_EQ(viewer.status, 0) << viewer.err;
  const std::vector<std::string> lines = viewer.outLines();
  auto has = [&](const std::string& l) { return std::find(lines.begin(), lines.end(), l) != lines.end(); };
  auto count = [&](const std::string& l) { return std::count(lines.begin(), lines.end(), l); };
  // The feed asks for the scene at start, at the viewer's "c" and after its calibration: the
  // start lines still come once each.
  EXPECT_EQ(count("listening on " + std::to_string(port)), 1);
  EXPECT_EQ(count("client 1 connected"), 1);
  EXPECT_EQ(count("scene file scene.wrl"), 1);
  EXPECT_EQ(count("names ball,floor,lamp"), 1);
  EXPECT_EQ(count("calibration x 0 65535 y 0 65535 z 0 65535"), 1);
  EXPECT_TRUE(has("ball location -10000 0 10000"));
  EXPECT_TRUE(has("ball location 9998 0 -9999"));
  EXPECT_TRUE(has("sample position 999 500 0 signals 0 0 0 0 0"));
  EXPECT_EQ(viewer.err, "");

  // The top view fits the scene: the ball ends at the top right (x 9998, z -9999), floor and
  // lamp stay in the middle, all of them well inside the picture, and the last sample's cross
  // (x 999, z 0 of their ranges) lies on the ball.
  JCanvas picture(1, 1);
  ASSERT_TRUE(JCanvas::readPNG(png, picture));
  ASSERT_EQ(picture.width(), 400);
  const JColor grey(204, 204, 204), red(210, 0, 0);  // the default diffuse 80 %; the cross
  struct Box {
    int x0 = 1 << 20, y0 = 1 << 20, x1 = -1, y1 = -1;
    void add(int x, int y) { x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y); }
    int cx() const { return (x0 + x1) / 2; }
    int cy() const { return (y0 + y1) / 2; }
  } middle, ball, cross;
  int edgeInk = 0;
  for (int y = 0; y < 400; ++y)
    for (int x = 0; x < 400; ++x) {
      const JColor c = picture.pixel(x, y);
      // A square's face, not a grey pixel of a name's edge: a whole 3 x 3 block of it.
      bool face = true;
      for (int d = 0; d < 9 && face; ++d) face = picture.pixel(x + d % 3, y + d / 3) == grey;
      if (face) (x > 300 ? ball : middle).add(x + 1, y + 1);
      if (c == red) cross.add(x, y);
      if ((x < 3 || y < 3 || x > 396 || y > 396) && !(c == JColor::white)) ++edgeInk;
    }
  EXPECT_EQ(edgeInk, 0) << "something drawn at the picture's edge";
  ASSERT_GE(ball.x1, 0) << "no ball";
  ASSERT_GE(middle.x1, 0) << "no floor";
  EXPECT_NEAR(middle.cx(), 200, 10);
  EXPECT_NEAR(middle.cy(), 200, 10);
  EXPECT_GT(ball.cx(), 320);
  EXPECT_LT(ball.cy(), 80);
  EXPECT_GT(ball.y0, 10);
  EXPECT_LT(ball.x1, 390);
  ASSERT_GE(cross.x1, 0) << "no cross";
  EXPECT_NEAR(cross.cx(), ball.cx(), 3);
  EXPECT_NEAR(cross.cy(), ball.cy(), 3);
  if (std::ifstream(JGraphics::defaultFontPath())) {  // the names, under their squares
    int ink = 0;
    for (int y = ball.y1 + 2; y < ball.y1 + 18; ++y)
      for (int x = ball.cx() - 30; x < ball.cx() + 30; ++x) ink += picture.pixel(x, y).getRed() < 128;
    EXPECT_GT(ink, 10) << "no name under the ball";
  }
}

}  // namespace
