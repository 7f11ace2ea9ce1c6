#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <thread>

#include "base/JClock.h"

#include "TestModules.h"
#include "base/JThread.h"
#include "testing/Harness.h"

LOOMWORK_REGISTER(JTestScaler)
LOOMWORK_REGISTER(JTestRecorder)

TEST(Links, OneLinkPerInputWhileOutputsTakeAny) {
  JTestHarness h;
  auto& a = h.place<JTestScaler>("a");
  auto& b = h.place<JTestScaler>("b");
  auto& c = h.place<JTestScaler>("c");
  h.link(a, 0, c, 0);
  EXPECT_THROW(h.link(b, 0, c, 0), JDiagramError);  // input 0 of c is taken
  h.link(a, 0, c, 1);
  h.link(a, 0, b, 0);  // output 0 of a now feeds three inputs
  EXPECT_EQ(a.outputSet(0).size(), 3);
  EXPECT_EQ(c.inputSet(0).size(), 1);
  EXPECT_THROW(h.link(a, 1, c, 2), JDiagramError);  // no output 1
  EXPECT_THROW(h.link(a, 0, c, 3), JDiagramError);  // no input 3
}

TEST(Persistence, MissingKeysAndRoundTrip) {
  JTestScaler m;
  m.gain = 5;
  m.enabled = true;
  m.label = "box";
  m.tint = JColor(1, 2, 3);
  m.mins[2] = 42;
  JNode saved = JTestHarness::content(m);
  EXPECT_EQ(JTestHarness::keysOf(saved),
            (std::vector<std::string>{"gain", "enabled", "label", "tint", "min0", "min1", "min2"}));

  JTestScaler back;
  JTestHarness::restore(back, saved);
  EXPECT_EQ(back.gain, 5);
  EXPECT_TRUE(back.enabled);
  EXPECT_EQ(back.label, JString("box"));
  EXPECT_EQ(back.tint, JColor(1, 2, 3));
  EXPECT_EQ(back.mins[2], 42);

  // A missing integer key restores 0 (not the constructor's value); a missing object key leaves
  // the field; an integer key holding text that is no number counts as missing (and the loader
  // refuses the file); a number where a text is read is taken as its decimal text.
  JNode sparse = JNode::map();
  sparse.set("label", JNode::integer(3));
  sparse.set("min1", JNode::text("nine"));
  JTestScaler fresh;
  JTestHarness::restore(fresh, sparse);
  EXPECT_EQ(fresh.gain, 0);
  EXPECT_FALSE(fresh.enabled);
  EXPECT_EQ(fresh.label, JString("3"));
  EXPECT_EQ(fresh.tint, JColor::orange);
  EXPECT_EQ(fresh.mins[0], 0);
  EXPECT_EQ(fresh.mins[1], 0);
}

TEST(Modules, UnlistedPortCloneAndProperties) {
  JTestHarness h;
  auto& m = h.place<JTestScaler>("m");
  m.gain = 3;
  h.send(m, 0, 4);
  h.send(m, 1, 1);
  EXPECT_EQ(h.outputsOf(m), (Outputs{{0, 12}, {0, 13}}));
  // A value at an unlisted port changes nothing and broadcasts nothing.
  h.clear();
  JLinkObj stray(&m, 0, &m, 7);
  m.engine(7, stray);
  EXPECT_TRUE(h.broadcasts().empty());
  EXPECT_EQ(h.readInt(m, 0), 13);

  std::unique_ptr<JTestScaler> copy(static_cast<JTestScaler*>(m.clone()));
  EXPECT_EQ(copy->gain, 3);
  EXPECT_EQ(copy->x, 4);
  EXPECT_EQ(copy->inputCount, 3);
  EXPECT_EQ(copy->inputSet(0).size(), 0);  // a clone has no links
  EXPECT_EQ(copy->diagram(), nullptr);

  JArray props = m.getProperties();
  ASSERT_EQ(props.size(), 4);
  auto* gain = static_cast<JIntegerProperty*>(props[0]);
  JString error;
  EXPECT_FALSE(gain->parseValue("101", error));
  EXPECT_NE(error.str().find("0..100"), std::string::npos);
  EXPECT_TRUE(gain->parseValue("17", error));
  EXPECT_TRUE(m.updateProperty(*gain));
  EXPECT_EQ(m.gain, 17);
  auto* tint = static_cast<JColorProperty*>(props[3]);
  EXPECT_FALSE(tint->parseValue("1,2", error));
  EXPECT_TRUE(tint->parseValue("10, 20,30", error));
  EXPECT_TRUE(m.updateProperty(*tint));
  EXPECT_EQ(m.tint, JColor(10, 20, 30));
  auto* enabled = static_cast<JIntegerListProperty*>(props[1]);
  EXPECT_TRUE(enabled->parseValue("false", error));
  EXPECT_EQ(enabled->value, 0);
  JStringProperty unknown("nonsense", "x");
  EXPECT_FALSE(m.updateProperty(unknown));
}

TEST(Geometry, PortGroupsPickTheirSide) {
  JTestScaler m;
  m.rect = JRect(0, 0, 100, 200);
  EXPECT_EQ(m.inputFace(1), kSideLeft);
  EXPECT_EQ(m.inputFace(2), kSideTop);
  // Input 1 of two on the left over 0.1 .. 0.9 of the height.
  EXPECT_EQ(m.inputArea(1), JFRect(0, 100, 6, 80));
  JLinkObj l(nullptr, 0, &m, 2);
  EXPECT_EQ(m.inputArea(2), JFRect(25, 0, 50, 6));
  EXPECT_EQ(m.inputPoint(2, l), JFPoint(50, 0));  // the point uses its own fractions 0.3 .. 0.7
  EXPECT_EQ(m.outputPoint(0, l), JFPoint(100, 100));
}

TEST(Delivery, NestedBroadcastsAreDepthFirstInLinkOrder) {
  JTestHarness h;
  auto& src = h.place<JTestRecorder>("src");
  auto& a = h.place<JTestRecorder>("a");
  auto& a1 = h.place<JTestRecorder>("a1");
  auto& b = h.place<JTestRecorder>("b");
  h.link(src, 0, a, 0);
  h.link(src, 0, b, 0);
  h.link(a, 0, a1, 0);
  h.send(src, 0, 5);
  std::vector<std::string> order;
  for (const auto& e : h.broadcasts()) order.push_back(e.module);
  EXPECT_EQ(order, (std::vector<std::string>{"src", "a", "a1", "b"}));
}

TEST(Delivery, CycleStopsAtTheDepthBound) {
  JTestHarness h;
  auto& a = h.place<JTestRecorder>("a");
  auto& b = h.place<JTestRecorder>("b");
  h.link(a, 0, b, 0);
  h.link(b, 0, a, 0);  // recorders keep the host's rule: any number of links per input
  h.send(a, 0, 1);
  // The harness source's delivery is level 1; a and b then alternate until the bound.
  EXPECT_EQ(a.seen.size() + b.seen.size(), static_cast<size_t>(JDiagram::kMaxDepth));
  auto lines = h.debugLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("dropped"), std::string::npos) << lines[0];
  EXPECT_EQ(lines[0].rfind("a: ", 0) == 0 || lines[0].rfind("b: ", 0) == 0, true) << lines[0];
}

// Broadcasts from a module's own thread reach the host thread as queued deliveries.
class JTestCounterThread : public JAddObj {
public:
  JTestCounterThread() {
    inputCount = 0;
    outputCount = 1;
  }
  const char* className() const override { return "JTestCounterThread"; }
  JTestCounterThread(const JTestCounterThread& o) : JAddObj(o), total(o.total) {}
  JObject* clone() const override { return new JTestCounterThread(*this); }
  void run() override {
    for (int i = 1; i <= total; ++i) {
      shared.store(i);
      broadcast(0);
    }
  }
  void access(int n, JLinkObj&, const JDataType& data) override {
    static_cast<const JIntegerData&>(data) = shared.load();
  }
  int total = 10000;
  std::atomic<int> shared{0};
};

TEST(Delivery, ThreadBroadcastsArriveAllInOrderWithTheirOwnValues) {
  JTestHarness h;
  auto* sender = new JTestCounterThread();
  h.place(sender, "sender");
  auto& rec = h.place<JTestRecorder>("rec");
  h.link(*sender, 0, rec, 0);
  JThread t(sender);
  t.start();
  EXPECT_TRUE(h.runUntil([&] { return rec.seen.size() == 10000u; }, 20000));
  t.waitFor();
  h.runPending();
  ASSERT_EQ(rec.seen.size(), 10000u);
  for (int i = 0; i < 10000; ++i) ASSERT_EQ(rec.seen[static_cast<size_t>(i)], i + 1) << "at " << i;
  // The trace saw each value too, before its delivery.
  auto events = h.broadcastsOf(*sender);
  ASSERT_EQ(events.size(), 10000u);
  EXPECT_EQ(events.back().value.integer(), 10000);
}

TEST(Files, SaveLoadIsIdentical) {
  JTestHarness h;
  auto& a = h.place<JTestScaler>("a", JRect(10, 20, 100, 50));
  auto& b = h.place<JTestScaler>("b", JRect(200, 20, 100, 50));
  a.gain = 9;
  a.label = "quote \" and \\ and \xc3\xa9";
  b.tint = JColor::cyan;
  h.link(a, 0, b, 1);
  std::string text = h.diagram().saveText();
  auto back = JDiagram::loadText(text, "x.lwd");
  EXPECT_EQ(back->saveText(), text);
  auto* a2 = static_cast<JTestScaler*>(back->find("a"));
  ASSERT_NE(a2, nullptr);
  EXPECT_EQ(a2->gain, 9);
  EXPECT_EQ(a2->label, a.label);
  EXPECT_EQ(a2->rect, JRect(10, 20, 100, 50));
  ASSERT_EQ(back->links().size(), 1u);
  EXPECT_EQ(back->links()[0]->toPort, 1);
}

// Saved diagrams keep the layout people write by hand: short lists on one line, each module and
// each setting on lines of their own, so that changing one value changes one line of the file.
TEST(Files, SavedLayoutKeepsAChangeToOneLine) {
  JTestHarness h;
  auto& a = h.place<JTestScaler>("a", JRect(10, 20, 100, 50));
  h.place<JTestScaler>("b", JRect(200, 20, 100, 50));
  h.link(a, 0, *static_cast<JTestScaler*>(h.diagram().find("b")), 1);
  auto lines = [](const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
  };
  const std::string before = h.diagram().saveText();
  EXPECT_NE(before.find("\n      \"rect\": [10, 20, 100, 50],\n"), std::string::npos) << before;
  EXPECT_NE(before.find("\n        \"tint\": { \"JColor\": [255, 200, 0] },\n"), std::string::npos) << before;
  EXPECT_NE(before.find("\n    { \"from\": \"a:0\", \"to\": \"b:1\" }\n"), std::string::npos) << before;
  for (const auto& l : lines(before)) EXPECT_LE(l.size(), 100u) << l;

  for (int gain : {12345, 7}) {
    a.gain = gain;
    a.label = gain == 7 ? std::string(200, 'x') : "scaler";
    const auto was = lines(before), now = lines(h.diagram().saveText());
    ASSERT_EQ(was.size(), now.size()) << h.diagram().saveText();
    int changed = 0;
    for (size_t i = 0; i < was.size(); ++i) changed += was[i] != now[i];
    EXPECT_EQ(changed, gain == 7 ? 2 : 1) << h.diagram().saveText();
    auto back = JDiagram::loadText(h.diagram().saveText(), "x.lwd");
    EXPECT_EQ(back->saveText(), h.diagram().saveText());
  }
}

TEST(Files, BadDiagramsGiveOneClearLine) {
  struct Case {
    const char* text;
    const char* expected;
  };
  const Case cases[] = {
      {"{\n  \"loomwork\": 1,\n  \"modules\": [ x ]\n}", "bad.lwd: error: line 3, column 16"},
      {"[1]", "bad.lwd: error: a diagram is a JSON object"},
      {"{\"modules\": []}", "not a diagram file"},
      {R"({"loomwork":1,"modules":[{"id":"a","class":"JNoSuchThing"}]})",
       "module \"a\": unknown class \"JNoSuchThing\""},
      {R"({"loomwork":1,"modules":[{"id":"a","class":"JTestScaler"},{"id":"a","class":"JTestScaler"}]})",
       "is there twice"},
      {R"({"loomwork":1,"modules":[{"id":"a","class":"JTestScaler","rect":[1,2,3]}]})", "\"rect\""},
      {R"({"loomwork":1,"modules":[{"id":"a","class":"JTestScaler"}],"links":[{"from":"a:0","to":"zz:0"}]})",
       "unknown module id \"zz\""},
      {R"({"loomwork":1,"modules":[{"id":"a","class":"JTestScaler"}],"links":[{"from":"a:0","to":"a:9"}]})",
       "input 9 of \"a\" does not exist"},
      {R"({"loomwork":1,"modules":[{"id":"a","class":"JTestScaler"},{"id":"b","class":"JTestScaler"}],
          "links":[{"from":"a:0","to":"b:0"},{"from":"b:0","to":"b:0"}]})",
       "input 0 of \"b\" takes no further link"},
      {R"({"loomwork":1,"modules":[{"id":"a","class":"JTestScaler"}],"links":[{"from":"a","to":"a:0"}]})",
       "\"id:port\""},
  };
  for (const auto& c : cases) {
    try {
      JDiagram::loadText(c.text, "bad.lwd");
      ADD_FAILURE() << "loaded: " << c.text;
    } catch (const JDiagramError& e) {
      std::string what = e.what();
      EXPECT_NE(what.find(c.expected), std::string::npos) << what;
      EXPECT_EQ(what.rfind("bad.lwd: error: ", 0), 0u) << what;
      EXPECT_EQ(what.find('\n'), std::string::npos) << what;
    }
  }
  EXPECT_THROW(JDiagram::loadFile("/nonexistent/dir/x.lwd"), JDiagramError);
}

TEST(Files, RelativePathsFollowTheDiagram) {
  std::string dir = ::testing::TempDir() + "/relpaths";
  std::string cmd = "mkdir -p " + dir;
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  std::ofstream(dir + "/d.lwd") << R"({"loomwork": 1, "modules": [], "links": []})";
  auto d = JDiagram::loadFile(dir + "/d.lwd");
  EXPECT_EQ(d->resolvePath("data.csv"), dir + "/data.csv");
  EXPECT_EQ(d->resolvePath("/abs.csv"), "/abs.csv");
}

TEST(Host, TimedTasksRunInTimeOrderOnTheManualClock) {
  JClock::Manual clock(1000);
  JTestHarness h;
  std::vector<int> ran;
  h.diagram().postAt(1020, [&] { ran.push_back(2); });
  h.diagram().postAt(1010, [&] { ran.push_back(1); });
  h.diagram().postAt(1010, [&] { ran.push_back(11); });
  h.runPending();
  EXPECT_TRUE(ran.empty());
  clock.set(1015);
  h.runPending();
  EXPECT_EQ(ran, (std::vector<int>{1, 11}));
  clock.set(1020);
  EXPECT_TRUE(h.runUntil([&] { return ran.size() == 3; }, 1000));
  EXPECT_TRUE(h.diagram().nothingScheduled());
}
