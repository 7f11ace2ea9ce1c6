// JToneDigitObj: its ports, settings and face, and the reader on loopback.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "JToneDigitObj.h"
#include "testing/Harness.h"
#include "tone_sender.h"

namespace {

using Sender = ToneSender;

std::string Message(char digit) { return toneMessage(digit); }

// A port the system has just handed out and taken back: free for the module to listen on.
int FreePort() {
  JServerSocket probe(0);
  if (!probe.listen(1)) return -1;
  int port = probe.getLocalPort();
  probe.close();
  return port;
}

// A free port that the "port" property accepts (3000 to 8000); -1 when none of a few is free.
int FreePropertyPort() {
  for (int port = 7391; port < 7391 + 40; ++port) {
    JServerSocket probe(port);
    if (probe.listen(1)) return port;
  }
  return -1;
}

class ToneDigitTest : public ::testing::Test {
protected:
  JTestHarness harness;
  JToneDigitObj& module = harness.place<JToneDigitObj>("dtmf");

  // Starts the reader on `port` (0: a port the system picks) and waits until it listens.
  int listen(int port = 0) {
    module.port = port;
    module.startup();
    EXPECT_TRUE(harness.runUntil([&] { return module.listeningPort() > 0; }, 2000));
    return module.listeningPort();
  }
  bool waitConnected(int want = 1) {
    return harness.runUntil([&] { return module.connected.load() == want; }, 2000);
  }
  bool waitOutputs(size_t n) {
    return harness.runUntil([&] { return harness.outputsOf(module).size() >= n; }, 2000);
  }
  Outputs outputs() { return harness.outputsOf(module); }
  std::vector<int> levels() {
    std::vector<int> v;
    for (int k = 0; k < JToneDigitObj::kKeys; ++k) v.push_back(harness.readInt(module, k));
    return v;
  }
};

TEST(ToneDigitShape, PortsTagsAndGeometry) {
  JToneDigitObj m;
  EXPECT_STREQ(m.className(), "JToneDigitObj");
  EXPECT_EQ(m.inputCount, 1);
  EXPECT_EQ(m.outputCount, 13);
  EXPECT_EQ(m.inputTag(0), JString("enable(logical)"));
  const char* tags[] = {"dtmf_0", "dtmf_1", "dtmf_2", "dtmf_3",    "dtmf_4",     "dtmf_5",    "dtmf_6",
                        "dtmf_7", "dtmf_8", "dtmf_9", "dtmf_STAR", "dtmf_POUND", "dtmf_value"};
  for (int n = 0; n < 13; ++n) {
    EXPECT_EQ(m.outputTag(n), JString(tags[n])) << n;
    EXPECT_EQ(m.outputType(n), JIntegerData::id);
    EXPECT_EQ(m.outputFace(n), 2);
    EXPECT_EQ(m.outputArea(n), m.rightArea(n, 0, 13, 0.25, 0.5, 6));
  }
  EXPECT_EQ(m.inputType(0), JIntegerData::id);
  EXPECT_EQ(m.inputFace(0), 1);
  EXPECT_EQ(m.inputArea(0), m.topArea(0, 0, 1, 0.25, 0.5, 6));
  // Nothing is heard yet: every level 0, no digit.
  JTestHarness h;
  auto& placed = h.place<JToneDigitObj>("t");
  for (int n = 0; n < 12; ++n) EXPECT_EQ(h.readInt(placed, n), 0);
  EXPECT_EQ(h.readInt(placed, 12), -1);
  // One link on the input; values arriving there change nothing.
  h.send(placed, 0, 65535);
  EXPECT_FALSE(placed.inputAllowed(0));
  EXPECT_TRUE(h.outputsOf(placed).empty());
  // Links end where the areas are.
  auto& other = h.place<JToneDigitObj>("u");
  JLinkObj* out = h.link(placed, 12, other, 0);
  EXPECT_EQ(placed.outputPoint(12, *out), placed.rightPoint(12, *out, 0, 13, 0.25, 0.5));
  EXPECT_EQ(other.inputPoint(0, *out), other.topPoint(0, *out, 0, 1, 0.25, 0.5));
}

TEST(ToneDigitShape, PortPropertyPersistenceAndClone) {
  JToneDigitObj m;
  JArray props = m.getProperties();
  ASSERT_EQ(props.size(), 2);
  auto* port = dynamic_cast<JIntegerProperty*>(props.elementAt(0));
  ASSERT_NE(port, nullptr);
  EXPECT_EQ(port->getName(), JString("port"));
  EXPECT_EQ(port->value, 3502);
  EXPECT_EQ(port->minimum, 3000);
  EXPECT_EQ(port->maximum, 8000);

  port->value = 4100;
  EXPECT_TRUE(m.updateProperty(*port));
  EXPECT_EQ(m.port.load(), 4100);
  JIntegerProperty other("prot", 5000, 3000, 8000);
  EXPECT_FALSE(m.updateProperty(other));
  EXPECT_EQ(m.port.load(), 4100);
  // A port outside the property's range is ignored; a text is no port at all.
  for (int bad : {2999, 8001, 0, -1, 70000}) {
    JIntegerProperty outside("port", bad, 3000, 8000);
    EXPECT_TRUE(m.updateProperty(outside)) << bad;
    EXPECT_EQ(m.port.load(), 4100) << bad;
  }
  JStringProperty text("port", JString("5000"));
  EXPECT_FALSE(m.updateProperty(text));
  EXPECT_EQ(m.port.load(), 4100);
  JIntegerProperty edge("port", 8000, 3000, 8000);
  EXPECT_TRUE(m.updateProperty(edge));
  EXPECT_EQ(m.port.load(), 8000);
  edge.value = 4100;
  m.updateProperty(edge);

  // The listen address: a text, empty (every interface) until set.
  auto* address = dynamic_cast<JStringProperty*>(props.elementAt(1));
  ASSERT_NE(address, nullptr);
  EXPECT_EQ(address->getName(), JString("listen address"));
  EXPECT_EQ(address->value, JString(""));
  address->value = JString("127.0.0.1");
  EXPECT_TRUE(m.updateProperty(*address));
  EXPECT_EQ(m.listenAddress.get(), JString("127.0.0.1"));

  JNode saved = JTestHarness::content(m);
  EXPECT_EQ(JTestHarness::keysOf(saved), (std::vector<std::string>{"port", "listenAddress"}));
  auto back = JTestHarness::roundTrip(m);
  EXPECT_EQ(static_cast<JToneDigitObj&>(*back).port.load(), 4100);
  EXPECT_EQ(static_cast<JToneDigitObj&>(*back).listenAddress.get(), JString("127.0.0.1"));
  // A diagram saved without "port" restores port 0, not 3502; one without "listenAddress" (every
  // diagram saved before it existed) listens on every interface.
  JToneDigitObj fresh;
  fresh.listenAddress.set(JString("10.0.0.1"));
  JTestHarness::restore(fresh, JNode::map());
  EXPECT_EQ(fresh.port.load(), 0);
  EXPECT_EQ(fresh.listenAddress.get(), JString(""));

  m.digitLevels[4] = 65535;
  m.lastDigit = '4';
  std::unique_ptr<JToneDigitObj> copy(static_cast<JToneDigitObj*>(m.clone()));
  EXPECT_EQ(copy->port.load(), 4100);
  EXPECT_EQ(copy->listenAddress.get(), JString("127.0.0.1"));
  EXPECT_EQ(copy->digitLevels[4].load(), 65535);
  EXPECT_EQ(copy->lastDigit.load(), '4');
}

// The port's range holds for a diagram file too: a stored port outside 3000..8000 is left out
// with a warning, as by property (a file's was taken as it stood before). A missing one is 0.
TEST(ToneDigitShape, StoredPortOutsideItsRangeIsLeftOut) {
  for (int outside : {2999, 8001, 65535, -1}) {
    JToneDigitObj m;
    JNode stored = JNode::map();
    stored.set("port", JNode::integer(outside));
    JDictionary dict(stored);
    m.readContent(dict);
    EXPECT_EQ(m.port.load(), JToneDigitObj::kDefaultPort) << outside;
    ASSERT_EQ(dict.warnings().size(), 1u) << outside;
    EXPECT_NE(dict.warnings()[0].find("is outside 3000..8000"), std::string::npos) << dict.warnings()[0];
  }
  // 0 is what a missing key gives and what such a module saves: it reads back as it is.
  for (int inside : {3000, 8000, 0}) {
    JToneDigitObj m;
    JNode stored = JNode::map();
    stored.set("port", JNode::integer(inside));
    JTestHarness::restore(m, stored);
    EXPECT_EQ(m.port.load(), inside);
  }
}

// A diagram without "port" reads it as 0: the receiver listens on a port the system picks.
TEST(ToneDigitLifetime, ADiagramWithoutPortListensWhereTheSystemSays) {
  JTestHarness h;
  auto& m = h.place<JToneDigitObj>("dtmf");
  JTestHarness::restore(m, JNode::map());
  m.startup();
  ASSERT_TRUE(h.runUntil([&] { return m.listeningPort() > 0; }, 2000));
  Sender sender(m.listeningPort());
  ASSERT_TRUE(h.runUntil([&] { return m.connected.load() == 1; }, 2000));
  ASSERT_TRUE(sender.send(Message('#')));
  EXPECT_TRUE(h.runUntil([&] { return h.readInt(m, JToneDigitObj::kDigitValue) == '#'; }, 2000));
}

TEST_F(ToneDigitTest, DigitsBecomeOneOfTwelveLevelsAndTheirCode) {
  Sender sender(listen());
  ASSERT_TRUE(sender.connected());

  ASSERT_TRUE(sender.send(Message('7')));
  ASSERT_TRUE(waitOutputs(2));
  EXPECT_EQ(outputs(), (Outputs{{12, 55}, {7, 65535}}));
  std::vector<int> expected(12, 0);
  expected[7] = 65535;
  EXPECT_EQ(levels(), expected);
  EXPECT_EQ(harness.readInt(module, 12), 55);

  // The code first, then the new key up, then the old key down.
  harness.clear();
  ASSERT_TRUE(sender.send(Message('*')));
  ASSERT_TRUE(waitOutputs(3));
  EXPECT_EQ(outputs(), (Outputs{{12, 42}, {10, 65535}, {7, 0}}));

  harness.clear();
  ASSERT_TRUE(sender.send(Message('#')));
  ASSERT_TRUE(waitOutputs(3));
  EXPECT_EQ(outputs(), (Outputs{{12, 35}, {11, 65535}, {10, 0}}));

  // The same key again: broadcast again, nothing else touched.
  harness.clear();
  ASSERT_TRUE(sender.send(Message('#')));
  ASSERT_TRUE(waitOutputs(2));
  EXPECT_EQ(outputs(), (Outputs{{12, 35}, {11, 65535}}));
  expected.assign(12, 0);
  expected[11] = 65535;
  EXPECT_EQ(levels(), expected);
  EXPECT_GT(module.repaintCount(), 0);
}

TEST_F(ToneDigitTest, EveryDigitOfTheStreamCountsHoweverTheReadsCutIt) {
  Sender sender(listen());
  ASSERT_TRUE(sender.connected());

  // Two messages in one read: both keys, in order.
  ASSERT_TRUE(sender.send(Message('1') + Message('2')));
  ASSERT_TRUE(waitOutputs(5));
  EXPECT_EQ(outputs(), (Outputs{{12, 49}, {1, 65535}, {12, 50}, {2, 65535}, {1, 0}}));

  // A message split across reads, and one cut between its neighbours.
  harness.clear();
  ASSERT_TRUE(sender.send("ab"));
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  ASSERT_TRUE(sender.send(std::string("3\0a", 3)));
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  ASSERT_TRUE(sender.send(std::string("b4\0", 3)));
  ASSERT_TRUE(waitOutputs(6));
  EXPECT_EQ(outputs(), (Outputs{{12, 51}, {3, 65535}, {2, 0}, {12, 52}, {4, 65535}, {3, 0}}));

  // More digits than one read takes (ten bytes) arrive whole.
  harness.clear();
  std::string many;
  for (char c : std::string("0123456789*#")) many += Message(c);
  ASSERT_TRUE(sender.send(many));
  ASSERT_TRUE(waitOutputs(12 * 3 - 1));
  Outputs codes;
  for (const auto& o : outputs())
    if (o.output == 12) codes.push_back(o);
  EXPECT_EQ(codes, (Outputs{{12, 48},
                            {12, 49},
                            {12, 50},
                            {12, 51},
                            {12, 52},
                            {12, 53},
                            {12, 54},
                            {12, 55},
                            {12, 56},
                            {12, 57},
                            {12, 42},
                            {12, 35}}));
}

TEST_F(ToneDigitTest, ToneLettersAndOtherBytesChangeNothing) {
  Sender sender(listen());
  ASSERT_TRUE(sender.connected());
  ASSERT_TRUE(sender.send(Message('A') + Message('B') + Message('C') + Message('D') + std::string("xyz\xff\n", 5)));
  ASSERT_TRUE(sender.send(Message('5')));  // heard only after everything before it
  ASSERT_TRUE(waitOutputs(2));
  harness.runFor(50);
  EXPECT_EQ(outputs(), (Outputs{{12, 53}, {5, 65535}}));
}

// A second sender is let connect and waits, unread, until the first leaves; the module says who
// holds it. Its digits then come whole, after the first's.
TEST_F(ToneDigitTest, OneSenderAtATimeTheNextWaitsItsTurn) {
  const int port = FreePort();
  ASSERT_GT(port, 0);
  ASSERT_EQ(listen(port), port);
  auto first = std::make_unique<Sender>(port);
  ASSERT_TRUE(first->connected());
  ASSERT_TRUE(waitConnected());
  ASSERT_TRUE(first->send(Message('8')));
  ASSERT_TRUE(waitOutputs(2));

  Sender next(port);
  ASSERT_TRUE(next.connected());
  ASSERT_TRUE(next.send(Message('9')));
  next.close();  // as `nc -N` does: sent, gone
  const std::string waits = "dtmf: 127.0.0.1:" + std::to_string(next.localPort()) +
                            " waits: 127.0.0.1:" + std::to_string(first->localPort()) + " holds the receiver";
  ASSERT_TRUE(harness.runUntil([&] { return harness.debugLines() == std::vector<std::string>{waits}; }, 2000))
      << ::testing::PrintToString(harness.debugLines());
  harness.runFor(100);
  EXPECT_EQ(outputs().size(), 2u);  // nothing of the second yet

  first.reset();  // the first sender leaves; the second is heard
  ASSERT_TRUE(waitOutputs(5));
  EXPECT_EQ(outputs(), (Outputs{{12, 56}, {8, 65535}, {12, 57}, {9, 65535}, {8, 0}}));
  EXPECT_EQ(module.listeningPort(), port);  // the module listened all along
  // Its turn over, no digit is the last heard; the levels stay.
  ASSERT_TRUE(waitConnected(0));
  EXPECT_EQ(harness.readInt(module, 12), -1);
  EXPECT_EQ(harness.readInt(module, 9), 65535);
}

TEST_F(ToneDigitTest, ANewPortIsTakenWhenTheSenderLeaves) {
  const int before = FreePort(), after = FreePropertyPort();
  ASSERT_GT(after, 0);
  ASSERT_EQ(listen(before), before);
  auto sender = std::make_unique<Sender>(before);
  ASSERT_TRUE(waitConnected());
  JIntegerProperty p("port", after, 3000, 8000);
  EXPECT_TRUE(module.updateProperty(p));
  sender.reset();
  EXPECT_TRUE(harness.runUntil([&] { return module.listeningPort() == after; }, 2000));
}

TEST_F(ToneDigitTest, APortInUseEndsTheReaderUntilTheNextStartup) {
  JServerSocket taken(0);
  ASSERT_TRUE(taken.listen(1));
  const int port = taken.getLocalPort();
  module.port = port;
  module.startup();
  ASSERT_TRUE(harness.runUntil([&] { return !module.reader.isAlive(); }, 2000));
  // The thread ends with one line that says why.
  EXPECT_EQ(harness.debugLines(), std::vector<std::string>{"dtmf: listen: Address already in use"});
  EXPECT_EQ(module.listeningPort(), -1);
  EXPECT_EQ(module.connected.load(), 0);

  taken.close();
  module.startup();
  EXPECT_TRUE(harness.runUntil([&] { return module.listeningPort() == port; }, 2000));
}

TEST_F(ToneDigitTest, TheFaceShowsTheLabelAloneThenTheKeypadWithTheLastKeyLit) {
  auto colourAt = [](const JCanvas& c, int x, int y) { return c.pixel(x, y); };
  const int w = 72, h = 95;  // keys 20 x 20, 3 apart
  JCanvas idle(w, h, JColor::white);
  {
    JGraphics g(idle);
    module.draw(g, 0, 0, w, h);
  }
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) ASSERT_NE(colourAt(idle, x, y), JColor::green);
  }

  Sender sender(listen());
  ASSERT_TRUE(waitConnected());
  ASSERT_TRUE(sender.send(Message('5')));
  ASSERT_TRUE(waitOutputs(2));

  JCanvas face(w, h, JColor::white);
  {
    JGraphics g(face);
    module.draw(g, 0, 0, w, h);
  }
  const char keypad[4][4] = {"123", "456", "789", "*0#"};
  for (int row = 0; row < 4; ++row) {
    for (int col = 0; col < 3; ++col) {
      int x = 1 + col * 23, y = 1 + row * 23;
      JColor want = keypad[row][col] == '5' ? JColor::green : JColor::red;
      EXPECT_EQ(colourAt(face, x, y), want) << keypad[row][col];
      EXPECT_EQ(colourAt(face, x + 19, y + 19), want) << keypad[row][col];
      EXPECT_EQ(colourAt(face, x + 20, y + 10), JColor::white);  // the gap to the right
      EXPECT_EQ(colourAt(face, x + 10, y + 20), JColor::white);  // and below
    }
  }
  // The host's whole face renders too, with the lit key in it.
  JCanvas whole = JTestHarness::render(module);
  bool anyGreen = false;
  for (int y = 0; y < whole.height() && !anyGreen; ++y)
    for (int x = 0; x < whole.width() && !anyGreen; ++x) anyGreen = whole.pixel(x, y) == JColor::green;
  EXPECT_TRUE(anyGreen);
}

TEST_F(ToneDigitTest, CloseEndsTheThreadAndFreesThePort) {
  // While waiting for a sender.
  const int port = listen();
  module.close();
  EXPECT_FALSE(module.reader.isAlive());
  EXPECT_EQ(module.listeningPort(), -1);
  EXPECT_FALSE(Sender(port).connected());

  // While reading from one: the sender sees the connection end.
  const int again = listen();
  Sender sender(again);
  ASSERT_TRUE(waitConnected());
  module.reset();
  EXPECT_FALSE(module.reader.isAlive());
  EXPECT_EQ(module.connected.load(), 0);
  EXPECT_TRUE(sender.closedByPeer(2000));

  // startup after close listens again.
  EXPECT_GT(listen(), 0);
}

// A copy taken while the reader listens and takes senders gets the settings and no connection
// (under ThreadSanitizer: without touching the sockets the reader is replacing).
TEST_F(ToneDigitTest, CopiesTakenWhileSendersComeAndGo) {
  const int port = FreePort();
  ASSERT_EQ(listen(port), port);
  for (int round = 0; round < 5; ++round) {
    std::unique_ptr<JToneDigitObj> before(static_cast<JToneDigitObj*>(module.clone()));
    {
      Sender sender(port);
      ASSERT_TRUE(sender.connected());
      std::unique_ptr<JToneDigitObj> during(static_cast<JToneDigitObj*>(module.clone()));
      EXPECT_EQ(during->port.load(), port);
      EXPECT_FALSE(during->reader.isAlive());
      ASSERT_TRUE(waitConnected());
    }
    ASSERT_TRUE(harness.runUntil([&] { return module.listeningPort() == port; }, 2000));
    EXPECT_EQ(before->port.load(), port);
  }
}

// A clone of a running receiver placed beside it listens on its own once started; removing the
// original from the diagram ends the original's reader, not the clone's.
TEST(ToneDigitLifetime, ACloneRunsBesideTheOriginalAndOutlivesIt) {
  JTestHarness h;
  auto& m = h.place<JToneDigitObj>("dtmf");
  m.port = 0;
  m.startup();
  ASSERT_TRUE(h.runUntil([&] { return m.listeningPort() > 0; }, 2000));
  auto& c = h.place(static_cast<JToneDigitObj*>(m.clone()), "copy");
  EXPECT_FALSE(c.reader.isAlive());
  c.startup();
  ASSERT_TRUE(h.runUntil([&] { return c.listeningPort() > 0; }, 2000));
  EXPECT_NE(c.listeningPort(), m.listeningPort());
  h.diagram().remove(&m);
  Sender sender(c.listeningPort());
  ASSERT_TRUE(h.runUntil([&] { return c.connected.load() == 1; }, 2000));
  ASSERT_TRUE(sender.send(Message('5')));
  EXPECT_TRUE(h.runUntil([&] { return h.readInt(c, 12) == '5'; }, 2000));
}

// The destructor stops the reader by itself, whether it waits for a sender or reads from one.
TEST(ToneDigitLifetime, DeletingAModuleStopsItsThread) {
  for (bool withSender : {false, true}) {
    auto m = std::make_unique<JToneDigitObj>();
    m->port = 0;
    m->startup();
    for (int i = 0; i < 400 && m->listeningPort() <= 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_GT(m->listeningPort(), 0);
    std::unique_ptr<Sender> sender;
    if (withSender) {
      sender = std::make_unique<Sender>(m->listeningPort());
      for (int i = 0; i < 400 && m->connected.load() == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      ASSERT_EQ(m->connected.load(), 1);
      ASSERT_TRUE(sender->send(Message('3')));
    }
    m.reset();
    if (withSender) { EXPECT_TRUE(sender->closedByPeer(2000)); }
  }
}

// The host closes a module before it removes it from a diagram.
TEST(ToneDigitLifetime, ClosedThenRemovedFromADiagram) {
  JTestHarness h;
  auto& m = h.place<JToneDigitObj>("dtmf");
  m.port = 0;
  m.startup();
  ASSERT_TRUE(h.runUntil([&] { return m.listeningPort() > 0; }, 2000));
  Sender sender(m.listeningPort());
  ASSERT_TRUE(h.runUntil([&] { return m.connected.load() == 1; }, 2000));
  ASSERT_TRUE(sender.send(Message('3') + Message('4')));
  m.close();
  h.diagram().remove(&m);
  h.runPending();
  EXPECT_TRUE(sender.closedByPeer(2000));
}

}  // namespace
