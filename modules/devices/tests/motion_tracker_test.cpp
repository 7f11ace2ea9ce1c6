// JMotionTrackerObj: ports, the record parser and its decoding, the profile and the commands.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <string>
#include <vector>

#include "JMotionTrackerObj.h"
#include "LoopBack.h"
#include "testing/Harness.h"
#include "testing/TempFolder.h"

namespace {
using Lines = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;

JBlock blockOf(const Bytes& b) { return JBlock(b.data(), static_cast<int>(b.size())); }
JBlock blockOf(const std::string& s) { return JBlock(s.data(), static_cast<int>(s.size())); }

// A POSITION/ANGLES record as the device sends it: six words of 14 data bits, each as a low byte
// (7 bits, bit 7 set only in the record's first byte) and a high byte (7 bits).
Bytes record(const int (&data14)[6]) {
  Bytes r;
  for (int k = 0; k < 6; ++k) {
    const int d = data14[k] & 0x3FFF;
    r.push_back(static_cast<uint8_t>((d & 0x7F) | (k == 0 ? 0x80 : 0)));
    r.push_back(static_cast<uint8_t>(d >> 7));
  }
  return r;
}

// The 14 data bits of a signed 16-bit raw value (its low two bits fall away).
int dataOf(int raw) { return (raw >> 2) & 0x3FFF; }

// The exact decoding: raw × full scale / 32768 × 100, truncated toward zero.
int exactScaled(int raw, int word) {
  const long long full = word < 3 ? 3600 : 18000;
  return static_cast<int>(static_cast<long long>(raw) * full / 32768);
}

struct Rig {
  Rig() : m(h.place<JMotionTrackerObj>("tracker")) {}
  void feed(const Bytes& b) { h.send(m, JMotionTrackerObj::kData, blockOf(b)); }
  Outputs outputs() const { return h.outputsOf(m); }
  std::vector<int> values() { return {m.values[0], m.values[1], m.values[2], m.values[3], m.values[4], m.values[5]}; }
  JTestHarness h;
  JMotionTrackerObj& m;
};

const int kSample[6] = {dataOf(16384), dataOf(-8192), dataOf(4000), dataOf(32764), dataOf(-32768), dataOf(1000)};
const Outputs kSampleOutputs{{1, 1800}, {2, -900}, {3, 439}, {4, 17997}, {5, -18000}, {6, 549}};
}  // namespace

TEST(JMotionTrackerPorts, TagsTypesSidesAndGeometry) {
  JMotionTrackerObj m;
  EXPECT_STREQ(m.className(), "JMotionTrackerObj");
  ASSERT_EQ(m.inputCount, 3);
  ASSERT_EQ(m.outputCount, 7);
  const Lines inTags{"data", "continuous", "timer_sampled"};
  const Lines outTags{"command", "x", "y", "z", "azimuth", "elevation", "roll"};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(m.inputTag(i).str(), inTags[i]);
    EXPECT_EQ(m.inputType(i), i == 0 ? JBytesData::id : JIntegerData::id);
    EXPECT_EQ(m.inputFace(i), i == 0 ? 0 : 1);
  }
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(m.outputTag(i).str(), outTags[i]);
    EXPECT_EQ(m.outputType(i), i == 0 ? JBytesData::id : JIntegerData::id);
    EXPECT_EQ(m.outputFace(i), i == 0 ? 3 : 2);
  }
  m.rect = JRect(0, 0, 120, 90);
  JLinkObj link(nullptr, 0, &m, 0);
  EXPECT_EQ(m.inputArea(0), m.leftArea(0, 0, 1, 0.1, 0.8, 6));
  EXPECT_EQ(m.inputPoint(0, link), m.leftPoint(0, link, 0, 1, 0.1, 0.8));
  EXPECT_EQ(m.inputArea(2), m.topArea(2, 1, 2, 0.25, 0.5, 6));
  EXPECT_EQ(m.inputPoint(1, link), m.topPoint(1, link, 1, 2, 0.25, 0.5));
  EXPECT_EQ(m.outputArea(0), m.bottomArea(0, 0, 1, 0.25, 0.5, 6));
  EXPECT_EQ(m.outputPoint(0, link), m.bottomPoint(0, link, 0, 1, 0.25, 0.5));
  EXPECT_EQ(m.outputArea(6), m.rightArea(6, 1, 6, 0.1, 0.8, 6));
  EXPECT_EQ(m.outputPoint(3, link), m.rightPoint(3, link, 1, 6, 0.1, 0.8));

  // One link per input; outputs take any number.
  Rig r;
  r.h.send(r.m, 1, 0);
  EXPECT_FALSE(r.m.inputAllowed(1));
  EXPECT_TRUE(r.m.inputAllowed(2));
  EXPECT_TRUE(r.m.outputAllowed(1));
  // The label alone is drawn; the face renders without failing.
  EXPECT_EQ(JTestHarness::render(r.m).width(), 160);
}

TEST(JMotionTrackerDecoding, WorkedExamplesAndEveryDataWord) {
  Rig r;
  // Outputs read 0 before the first record.
  for (int n = 1; n <= 6; ++n) EXPECT_EQ(r.h.readInt(r.m, n), 0);

  // Twelve bytes of zero data: six zero outputs, broadcast in the order x .. roll.
  r.feed({0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(r.outputs(), (Outputs{{1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}, {6, 0}}));

  // 0x80 0x20 starts a record with raw 16384 in x: 18 inches.
  r.h.clear();
  r.feed({0x80, 0x20});
  EXPECT_EQ(r.outputs(), (Outputs{{1, 1800}}));
  EXPECT_EQ(r.h.readInt(r.m, JMotionTrackerObj::kX), 1800);

  // Data bits 0x7F under the phasing bit and a high byte 0x3F: raw 32764.
  EXPECT_EQ(JMotionTrackerObj::rawOf(0xFF, 0x3F), 32764);
  EXPECT_EQ(JMotionTrackerObj::scaled(32764, 0), 3599);
  EXPECT_EQ(JMotionTrackerObj::scaled(32764, 3), 17997);
  // Low data bits 0 and a high byte 0x40: raw -32768.
  EXPECT_EQ(JMotionTrackerObj::rawOf(0x80, 0x40), -32768);
  EXPECT_EQ(JMotionTrackerObj::scaled(-32768, 0), -3600);
  EXPECT_EQ(JMotionTrackerObj::scaled(-32768, 5), -18000);

  // Every one of the 16384 data words, as each of the six outputs: the single-precision
  // product truncates exactly as the exact quotient does (toward zero, negatives included).
  for (int d = 0; d < 0x4000; ++d) {
    const int raw = JMotionTrackerObj::rawOf(static_cast<uint8_t>(d & 0x7F), static_cast<uint8_t>(d >> 7));
    ASSERT_EQ(raw, static_cast<int16_t>(d << 2));
    ASSERT_EQ(JMotionTrackerObj::rawOf(static_cast<uint8_t>((d & 0x7F) | 0x80), static_cast<uint8_t>(d >> 7)), raw);
    for (int k = 0; k < 6; ++k) ASSERT_EQ(JMotionTrackerObj::scaled(raw, k), exactScaled(raw, k)) << d << " " << k;
  }

  // A whole record through the module.
  r.h.clear();
  r.feed(record(kSample));
  EXPECT_EQ(r.outputs(), kSampleOutputs);
  EXPECT_EQ(r.values(), (std::vector<int>{1800, -900, 439, 17997, -18000, 549}));
  for (int n = 1; n <= 6; ++n) EXPECT_EQ(r.h.readInt(r.m, n), r.m.values[n - 1]);
}

TEST(JMotionTrackerParser, RecordsSplitAnywhereRestartedAndNoise) {
  const Bytes rec = record(kSample);
  // Split at every position, and into single bytes: the same six broadcasts.
  for (size_t cut = 1; cut < rec.size(); ++cut) {
    Rig r;
    r.feed(Bytes(rec.begin(), rec.begin() + static_cast<long>(cut)));
    r.feed(Bytes(rec.begin() + static_cast<long>(cut), rec.end()));
    EXPECT_EQ(r.outputs(), kSampleOutputs) << "cut at " << cut;
  }
  {
    Rig r;
    for (uint8_t b : rec) r.feed({b});
    EXPECT_EQ(r.outputs(), kSampleOutputs);
    // An empty delivery changes nothing.
    r.h.clear();
    r.feed({});
    EXPECT_TRUE(r.h.broadcasts().empty());
  }

  // Noise before the first record changes no output: no phasing byte, no record.
  {
    Rig r;
    r.feed({0x01, 0x02, 0x7F, 0x00, 0x33, 0x44, 0x55, 0x66, 0x10, 0x20, 0x30, 0x40, 0x50});
    EXPECT_TRUE(r.h.broadcasts().empty());
    r.feed(rec);
    EXPECT_EQ(r.outputs(), kSampleOutputs);
    // Bytes after the twelfth, up to the next phasing byte, decode nothing.
    r.h.clear();
    r.feed({0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07});
    EXPECT_TRUE(r.h.broadcasts().empty());
  }

  // A phasing byte in mid-record restarts the record at x.
  {
    Rig r;
    Bytes b(rec.begin(), rec.begin() + 5);  // x, y and half of z
    b.insert(b.end(), rec.begin(), rec.end());
    r.feed(b);
    Outputs expected{{1, 1800}, {2, -900}};
    expected.insert(expected.end(), kSampleOutputs.begin(), kSampleOutputs.end());
    EXPECT_EQ(r.outputs(), expected);
  }
}

// Mended: the description copied at most 199 bytes of a delivery and dropped the rest.
TEST(JMotionTrackerParser, ABurstOfRecordsIsDecodedWhole) {
  Rig r;
  Bytes burst;
  std::vector<int> xs;
  const int records = 4096 / 12;  // 341 records, 4092 bytes in one delivery
  for (int i = 0; i < records; ++i) {
    const int data[6] = {i * 40, (i * 7) & 0x3FFF, 0x3FFF - i, i, 0x2000 + i, i * 3};
    const Bytes rec = record(data);
    burst.insert(burst.end(), rec.begin(), rec.end());
    xs.push_back(exactScaled(static_cast<int16_t>(((i * 40) & 0x3FFF) << 2), 0));
  }
  r.feed(burst);
  const auto all = r.h.broadcastsOf(r.m);
  ASSERT_EQ(all.size(), static_cast<size_t>(records * 6));
  for (int i = 0; i < records; ++i) {
    for (int k = 0; k < 6; ++k) ASSERT_EQ(all[static_cast<size_t>(i * 6 + k)].output, k + 1);
    EXPECT_EQ(all[static_cast<size_t>(i * 6)].value.integer(), xs[static_cast<size_t>(i)]) << "record " << i;
  }
  EXPECT_EQ(r.m.receiveBlock.size(), 0);
  EXPECT_EQ(r.m.byteIndex, 12);
}

TEST(JMotionTrackerProfile, LineEndsShortProfilesAndMissingFiles) {
  TempFolder dir;
  ASSERT_TRUE(dir.ok());
  const std::string crlf = dir.write("crlf.profile", "Y@\r\nY\r\nB\r\n");
  const std::string lf = dir.write("lf.profile", "Y@\nY\nB\n");
  Rig r;
  auto commands = [&] {
    auto text = [](const std::optional<std::string>& c) { return c ? *c : std::string("<absent>"); };
    return Lines{text(r.m.continuousOnCommand), text(r.m.continuousOffCommand), text(r.m.sampleCommand)};
  };
  EXPECT_EQ(commands(), (Lines{"<absent>", "<absent>", "<absent>"}));

  JStringProperty name("profileName", JString(crlf));
  EXPECT_TRUE(r.m.updateProperty(name));
  EXPECT_EQ(r.m.profileName.str(), crlf);
  EXPECT_EQ(commands(), (Lines{"Y@", "Y", "B"}));
  name.value = JString(lf);  // Unix line ends: the same commands, no byte lost
  EXPECT_TRUE(r.m.updateProperty(name));
  EXPECT_EQ(commands(), (Lines{"Y@", "Y", "B"}));

  // A two-character line with CR LF is sent as its two bytes.
  name.value = JString(dir.write("ab.profile", "AB\r\nC\nD"));
  EXPECT_TRUE(r.m.updateProperty(name));
  EXPECT_EQ(commands(), (Lines{"AB", "C", "D"}));  // the last line needs no line end
  r.h.send(r.m, JMotionTrackerObj::kContinuous, 1);
  EXPECT_EQ(r.h.readBytes(r.m, 0), blockOf(Bytes{0x41, 0x42}));

  // Fewer than three lines: the missing ones are absent; a bare line end is an empty command.
  name.value = JString(dir.write("short.profile", "\r\nQ\n"));
  EXPECT_TRUE(r.m.updateProperty(name));
  EXPECT_EQ(commands(), (Lines{"", "Q", "<absent>"}));
  name.value = JString(dir.write("empty.profile", ""));
  EXPECT_TRUE(r.m.updateProperty(name));
  EXPECT_EQ(commands(), (Lines{"<absent>", "<absent>", "<absent>"}));

  // A line longer than the reader's 99 characters continues as the next line.
  name.value = JString(dir.write("long.profile", std::string(120, 'x') + "\nZ\n"));
  EXPECT_TRUE(r.m.updateProperty(name));
  EXPECT_EQ(commands(), (Lines{std::string(99, 'x'), std::string(21, 'x'), "Z"}));

  // A file that does not exist keeps the commands; the name is stored all the same.
  name.value = JString(crlf);
  r.m.updateProperty(name);
  name.value = JString(dir.file("missing.profile"));
  EXPECT_TRUE(r.m.updateProperty(name));
  EXPECT_EQ(r.m.profileName.str(), dir.file("missing.profile"));
  EXPECT_EQ(commands(), (Lines{"Y@", "Y", "B"}));

  // Another property name is refused and changes nothing.
  JStringProperty other("profile", JString(lf));
  EXPECT_FALSE(r.m.updateProperty(other));
  JIntegerProperty wrongKind("profileName", 3, 0, 10);
  EXPECT_FALSE(r.m.updateProperty(wrongKind));
  EXPECT_EQ(r.m.profileName.str(), dir.file("missing.profile"));

  // startup reads flockOfBirds.profile from the current folder, whatever profileName holds.
  dir.write("flockOfBirds.profile", "on\r\noff\r\nsample\r\n");
  char here[4096];
  ASSERT_NE(getcwd(here, sizeof here), nullptr);
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  r.m.startup();
  ASSERT_EQ(chdir(here), 0);
  EXPECT_EQ(commands(), (Lines{"on", "off", "sample"}));
}

TEST(JMotionTrackerCommands, ContinuousAndSampledModes) {
  TempFolder dir;
  Rig r;
  // No profile loaded: nothing is sent.
  r.h.send(r.m, JMotionTrackerObj::kContinuous, 1);
  r.h.send(r.m, JMotionTrackerObj::kContinuous, 0);
  r.h.send(r.m, JMotionTrackerObj::kTimerSampled, 1);
  EXPECT_TRUE(r.h.broadcasts().empty());

  JStringProperty name("profileName", JString(dir.write("p", "Y@\r\nY\r\nB\r\n")));
  ASSERT_TRUE(r.m.updateProperty(name));
  // Continuous on: line 1; a tick while continuous sends nothing.
  r.h.send(r.m, JMotionTrackerObj::kContinuous, 1);
  r.h.send(r.m, JMotionTrackerObj::kTimerSampled, 1);
  EXPECT_EQ(r.outputs(), (Outputs{{0, blockOf(std::string("Y@"))}}));
  // Every value at input 1 sends, a repeated one too.
  r.h.send(r.m, JMotionTrackerObj::kContinuous, 65535);
  // Continuous off: line 2, then each nonzero tick line 3; a zero tick nothing.
  r.h.send(r.m, JMotionTrackerObj::kContinuous, 0);
  r.h.send(r.m, JMotionTrackerObj::kTimerSampled, 1);
  r.h.send(r.m, JMotionTrackerObj::kTimerSampled, 0);
  r.h.send(r.m, JMotionTrackerObj::kTimerSampled, 7);
  EXPECT_EQ(r.outputs(), (Outputs{{0, blockOf(std::string("Y@"))},
                                  {0, blockOf(std::string("Y@"))},
                                  {0, blockOf(std::string("Y"))},
                                  {0, blockOf(std::string("B"))},
                                  {0, blockOf(std::string("B"))}}));
  EXPECT_EQ(r.m.continuous, 0);
  EXPECT_EQ(r.m.timerSampled, 7);
  EXPECT_EQ(r.h.readBytes(r.m, JMotionTrackerObj::kCommand), blockOf(std::string("B")));
  // An unlisted input changes nothing.
  r.h.clear();
  JLinkObj stray(nullptr, 0, &r.m, 5);
  r.m.engine(5, stray);
  EXPECT_TRUE(r.h.broadcasts().empty());
}

TEST(JMotionTrackerPersistence, NameOnlyAndClonesCarryEverything) {
  TempFolder dir;
  Rig r;
  JStringProperty name("profileName", JString(dir.write("p", "on\noff\nsample\n")));
  ASSERT_TRUE(r.m.updateProperty(name));
  r.feed(record(kSample));

  const JNode saved = JTestHarness::content(r.m);
  EXPECT_EQ(JTestHarness::keysOf(saved), (Lines{"profileName"}));
  auto back = JTestHarness::roundTrip(r.m);
  auto& b = static_cast<JMotionTrackerObj&>(*back);
  EXPECT_EQ(b.profileName, r.m.profileName);
  EXPECT_FALSE(b.continuousOnCommand.has_value()) << "reading the name loads no profile";

  JMotionTrackerObj missing;
  missing.profileName = JString("kept");
  JTestHarness::restore(missing, JNode::map());
  EXPECT_EQ(missing.profileName.str(), "kept");

  std::unique_ptr<JObject> copy(r.m.clone());
  auto& c = static_cast<JMotionTrackerObj&>(*copy);
  EXPECT_EQ(c.profileName, r.m.profileName);
  EXPECT_EQ(c.continuousOnCommand, std::optional<std::string>("on"));
  EXPECT_EQ(c.sampleCommand, std::optional<std::string>("sample"));
  EXPECT_EQ(c.values[0], 1800);
  EXPECT_EQ(c.inputCount, 3);
  EXPECT_EQ(c.outputCount, 7);

  const JArray props = r.m.getProperties();
  ASSERT_EQ(props.size(), 1);
  auto* p = dynamic_cast<JStringProperty*>(props[0]);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->getName().str(), "profileName");
  EXPECT_EQ(p->value, r.m.profileName);
}

// A delivery that arrives from within the module's own broadcast (a wire looping back) is parsed
// after the rest of the block being parsed, never over it.
TEST(JMotionTrackerParser, BytesLoopedBackFollowTheBlockBeingParsed) {
  JTestHarness h;
  auto& loop = h.place<JLoopBack>("loop");
  auto& m = h.place<JMotionTrackerObj>("tracker");
  h.link(loop, 0, m, JMotionTrackerObj::kData);
  h.link(m, JMotionTrackerObj::kX, loop, 1);
  const int second[6] = {dataOf(-16384), 0, 0, 0, 0, dataOf(8192)};
  loop.reply = blockOf(record(second));
  loop.replies = 1;
  h.send(loop, 0, blockOf(record(kSample)));
  Outputs expected = kSampleOutputs;
  for (const auto& o : Outputs{{1, -1800}, {2, 0}, {3, 0}, {4, 0}, {5, 0}, {6, 4500}}) expected.push_back(o);
  EXPECT_EQ(h.outputsOf(m), expected);
  EXPECT_EQ(m.receiveBlock.size(), 0);
}

// A profile that cannot be read is named in one debug line, with its full path and why; the
// commands loaded before stay.
TEST(JMotionTrackerProfile, AProfileThatCannotBeReadIsNamed) {
  TempFolder dir;
  Rig r;
  JComponent::Scope scope(&r.m);  // as the host runs the module's operations
  const std::string good = dir.write("good.profile", "Y@\r\nY\r\nB\r\n");
  JStringProperty name("profileName", JString(good));
  ASSERT_TRUE(r.m.updateProperty(name));
  EXPECT_TRUE(r.h.debugLines().empty());

  name.value = JString(dir.file("missing.profile"));
  EXPECT_TRUE(r.m.updateProperty(name));
  // A folder opens but cannot be read.
  name.value = JString(dir.path());
  EXPECT_TRUE(r.m.updateProperty(name));
  // A relative name is read from the current folder, and named from there.
  char here[4096];
  ASSERT_NE(getcwd(here, sizeof here), nullptr);
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  name.value = JString("typo.profile");
  EXPECT_TRUE(r.m.updateProperty(name));
  ASSERT_EQ(chdir(here), 0);
  EXPECT_EQ(r.h.debugLines(),
            (Lines{"tracker: cannot read profile " + dir.file("missing.profile") + ": No such file or directory",
                   "tracker: cannot read profile " + dir.path() + ": Is a directory",
                   "tracker: cannot read profile " + dir.file("typo.profile") + ": No such file or directory"}));
  r.h.send(r.m, JMotionTrackerObj::kContinuous, 1);
  EXPECT_EQ(r.outputs(), (Outputs{{0, blockOf(std::string("Y@"))}}));
  // An empty name asks for no profile: nothing is said.
  r.h.clear();
  name.value = JString("");
  EXPECT_TRUE(r.m.updateProperty(name));
  EXPECT_TRUE(r.h.debugLines().empty());
}

// startup without flockOfBirds.profile in the current folder says so when a wire will ask for
// commands and none are loaded; a diagram that only reads records hears nothing of it.
TEST(JMotionTrackerProfile, StartupWithoutItsProfileSaysSoWhenCommandsAreWanted) {
  TempFolder dir;
  char here[4096];
  ASSERT_NE(getcwd(here, sizeof here), nullptr);
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  const std::string expected =
      "tracker: cannot read profile " + dir.file("flockOfBirds.profile") + ": No such file or directory";
  {
    Rig readsOnly;
    readsOnly.h.sourceFor(readsOnly.m, JMotionTrackerObj::kData);
    JComponent::Scope scope(&readsOnly.m);
    readsOnly.m.startup();
    EXPECT_TRUE(readsOnly.h.debugLines().empty());
  }
  for (int input : {JMotionTrackerObj::kContinuous, JMotionTrackerObj::kTimerSampled}) {
    Rig wired;
    wired.h.sourceFor(wired.m, input);
    JComponent::Scope scope(&wired.m);
    wired.m.startup();
    EXPECT_EQ(wired.h.debugLines(), (Lines{expected})) << input;
  }
  {
    // Commands loaded before (a profileName set first) stay, and nothing is missing.
    Rig loaded;
    loaded.h.sourceFor(loaded.m, JMotionTrackerObj::kContinuous);
    JComponent::Scope scope(&loaded.m);
    JStringProperty name("profileName", JString(dir.write("mine.profile", "Y@\r\nY\r\nB\r\n")));
    ASSERT_TRUE(loaded.m.updateProperty(name));
    loaded.m.startup();
    EXPECT_TRUE(loaded.h.debugLines().empty());
  }
  ASSERT_EQ(chdir(here), 0);
}
