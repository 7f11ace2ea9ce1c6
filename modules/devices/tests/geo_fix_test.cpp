// JGeoFixObj: ports, the line assembler, GLL and GSV, debug printing and the buffer bounds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "JGeoFixObj.h"
#include "LoopBack.h"
#include "testing/Harness.h"

namespace {
using Lines = std::vector<std::string>;

const std::string kGll = "$GPGLL,4916.45,N,12311.12,W,225444,A";
const std::string kGsv = "$GPGSV,2,1,08,01,40,083,46";
const Outputs kGllOutputs{{0, "49 16.45 N"}, {1, "123 11.12 W"}};

struct Rig {
  Rig() : m(h.place<JGeoFixObj>("gps")) {}
  void feed(const std::string& s) { h.send(m, JGeoFixObj::kBytes, JBlock(s.data(), static_cast<int>(s.size()))); }
  Outputs outputs() const { return h.outputsOf(m); }
  JTestHarness h;
  JGeoFixObj& m;
};
}  // namespace

TEST(JGeoFixPorts, TagsTypesSidesGeometryAndColour) {
  JGeoFixObj m;
  EXPECT_STREQ(m.className(), "JGeoFixObj");
  ASSERT_EQ(m.inputCount, 2);
  ASSERT_EQ(m.outputCount, 3);
  EXPECT_EQ(m.inputTag(0).str(), "bytes from COM");
  EXPECT_EQ(m.inputTag(1).str(), "enable DEBUG");
  EXPECT_EQ(m.outputTag(0).str(), "latitude");
  EXPECT_EQ(m.outputTag(1).str(), "longitude");
  EXPECT_EQ(m.outputTag(2).str(), "number satellites");
  EXPECT_EQ(m.inputType(0), JBytesData::id);
  EXPECT_EQ(m.inputType(1), JIntegerData::id);
  EXPECT_EQ(m.outputType(0), JStringData::id);
  EXPECT_EQ(m.outputType(1), JStringData::id);
  EXPECT_EQ(m.outputType(2), JIntegerData::id);
  EXPECT_EQ(m.inputFace(0), 0);
  EXPECT_EQ(m.inputFace(1), 1);
  for (int n = 0; n < 3; ++n) EXPECT_EQ(m.outputFace(n), 2);
  m.rect = JRect(0, 0, 100, 80);
  JLinkObj link(nullptr, 0, &m, 0);
  EXPECT_EQ(m.inputArea(0), m.leftArea(0, 0, 1, 0.1, 0.8, 6));
  EXPECT_EQ(m.inputPoint(0, link), m.leftPoint(0, link, 0, 1, 0.1, 0.8));
  EXPECT_EQ(m.inputArea(1), m.topArea(1, 1, 1, 0.1, 0.8, 6));
  EXPECT_EQ(m.inputPoint(1, link), m.topPoint(1, link, 1, 1, 0.1, 0.8));
  EXPECT_EQ(m.outputArea(2), m.rightArea(2, 0, 3, 0.25, 0.5, 6));
  EXPECT_EQ(m.outputPoint(1, link), m.rightPoint(1, link, 0, 3, 0.25, 0.5));
  EXPECT_EQ(m.color, JStringData::color);
  for (int n = 0; n < 3; ++n) EXPECT_TRUE(m.outputAllowed(n));
  // One property, "any talker", stored as "anyTalker"; nothing else is taken.
  const JArray props = m.getProperties();
  ASSERT_EQ(props.size(), 1);
  auto* anyTalker = dynamic_cast<JIntegerProperty*>(props[0]);
  ASSERT_NE(anyTalker, nullptr);
  EXPECT_EQ(anyTalker->getName().str(), "any talker");
  JStringProperty p("debug", JString("1"));
  EXPECT_FALSE(m.updateProperty(p));
  EXPECT_EQ(JTestHarness::keysOf(JTestHarness::content(m)), (std::vector<std::string>{"anyTalker"}));
  std::unique_ptr<JObject> copy(m.clone());
  EXPECT_EQ(static_cast<JGeoFixObj&>(*copy).color, JStringData::color);
  EXPECT_EQ(JTestHarness::render(m).width(), 100);
}

TEST(JGeoFixSentences, GllAndGsvExamplesAndOtherSentences) {
  Rig r;
  // Before any sentence: empty texts and no satellites.
  EXPECT_EQ(r.h.readText(r.m, 0).str(), "");
  EXPECT_EQ(r.h.readInt(r.m, 2), 0);

  r.feed(kGll + "\r\n");
  EXPECT_EQ(r.outputs(), kGllOutputs);
  EXPECT_EQ(r.h.readText(r.m, JGeoFixObj::kLatitude).str(), "49 16.45 N");
  EXPECT_EQ(r.h.readText(r.m, JGeoFixObj::kLongitude).str(), "123 11.12 W");
  r.h.clear();
  r.feed(kGsv + "*4E\r\n");
  EXPECT_EQ(r.outputs(), (Outputs{{2, 8}}));
  EXPECT_EQ(r.h.readInt(r.m, JGeoFixObj::kSatellites), 8);

  // Unchanged values are broadcast again; the status is not looked at.
  r.h.clear();
  r.feed(kGsv + "*4E\r\n" + kGll + ",V*4B\r\n");
  EXPECT_EQ(r.outputs(), (Outputs{{2, 8}, kGllOutputs[0], kGllOutputs[1]}));

  // Another talker, other sentence types and stray text are ignored; "$GP" alone is skipped,
  // so a sentence without it is taken whole.
  r.h.clear();
  r.feed("$GNGLL,5000.00,N,00100.00,E\r\n$GPRMC,225446,A,4916.45,N\r\n$GPGGA,1,2,3\r\nhello\r\n$GNGSV,1,1,12\r\n");
  EXPECT_TRUE(r.h.broadcasts().empty());
  r.feed("GSV,3,1,11,03\n");
  r.feed("GLL,0102.5,S,00304.25,E\n");
  EXPECT_EQ(r.outputs(), (Outputs{{2, 11}, {0, "01 02.5 S"}, {1, "003 04.25 E"}}));

  // The number is read at index 8 as atoi reads it: a two-digit message count moves it.
  r.h.clear();
  r.feed("$GPGSV,10,1,40,01\r\n");  // index 8 is the ',' after the sentence number
  r.feed("$GPGSV,3,1, -7x\r\n");
  r.feed("$GPGSV,3,1,99999999999999999999\r\n");
  r.feed("$GPGSV,3\r\n");  // ends before index 8
  EXPECT_EQ(r.outputs(), (Outputs{{2, 0}, {2, -7}, {2, 2147483647}, {2, 0}}));
}

TEST(JGeoFixAssembler, BlocksLineEndsAndSplits) {
  // Two sentences in one block, in order.
  {
    Rig r;
    r.feed(kGsv + "\r\n" + kGll + "\r\n");
    EXPECT_EQ(r.outputs(), (Outputs{{2, 8}, kGllOutputs[0], kGllOutputs[1]}));
  }
  // A sentence split over two blocks at every position is handled once, at its line end.
  const std::string both = kGll + "\r\n";
  for (size_t cut = 0; cut <= both.size(); ++cut) {
    Rig r;
    r.feed(both.substr(0, cut));
    if (cut < kGll.size() + 1) { EXPECT_TRUE(r.h.broadcasts().empty()) << cut; }
    r.feed(both.substr(cut));
    EXPECT_EQ(r.outputs(), kGllOutputs) << "cut at " << cut;
  }
  // CR, LF and CR LF each end a line; empty lines are skipped; a line without its end waits.
  {
    Rig r;
    r.feed("\r\n\n\r" + kGsv + "\r" + kGsv + "\n\n\n" + kGsv);
    EXPECT_EQ(r.outputs(), (Outputs{{2, 8}, {2, 8}}));
    r.feed("\n");
    EXPECT_EQ(r.outputs().size(), 3u);
  }
}

TEST(JGeoFixAssembler, DebugPrintsEveryCompleteLine) {
  Rig r;
  r.feed("$GPZDA,1\r\n");
  EXPECT_TRUE(r.h.debugLines().empty());
  r.h.send(r.m, JGeoFixObj::kDebug, 1);
  EXPECT_EQ(r.m.debug, 1);
  r.feed("$GPZDA,2\r\n" + kGsv + "\r\n\r\n" + "$GNGLL,x\n");
  EXPECT_EQ(r.h.debugLines(), (Lines{"gps: $GPZDA,2", "gps: " + kGsv, "gps: $GNGLL,x"}));
  // Each line is printed before it is handled.
  r.h.clear();
  r.feed(kGsv + "\n");
  EXPECT_EQ(r.h.debugLines().size(), 1u);
  EXPECT_EQ(r.outputs(), (Outputs{{2, 8}}));
  r.h.send(r.m, JGeoFixObj::kDebug, 0);
  r.h.clear();
  r.feed(kGsv + "\n");
  EXPECT_TRUE(r.h.debugLines().empty());
}

TEST(JGeoFixPosition, FieldLimitsAndShortFields) {
  Rig r;
  // A latitude of more than 50 characters abandons the sentence: nothing changes.
  r.feed(kGll + "\n");
  r.h.clear();
  r.feed("$GPGLL," + std::string(51, '1') + ",N,12311.12,W\n");
  EXPECT_TRUE(r.h.broadcasts().empty());
  EXPECT_EQ(r.m.latitude.str(), "49 16.45 N");
  // 50 characters still fit.
  r.feed("$GPGLL," + std::string(50, '2') + ",N,1.5,W\n");
  EXPECT_EQ(r.outputs(), (Outputs{{0, std::string(50, '2') + " N"}, {1, " 1.5 W"}}));

  // Only the longitude too long: the latitude is published, the longitude kept.
  r.h.clear();
  r.feed("$GPGLL,4000.00,S," + std::string(60, '3') + ",E\n");
  EXPECT_EQ(r.outputs(), (Outputs{{0, "40 00.00 S"}}));
  EXPECT_EQ(r.m.longitude.str(), " 1.5 W");
  // A longitude that runs past index 100 of the sentence, though under 50 characters.
  r.h.clear();
  r.feed("$GPGLL," + std::string(48, '4') + ",N," + std::string(49, '5') + ",E\n");
  EXPECT_EQ(r.outputs(), (Outputs{{0, std::string(48, '4') + " N"}}));
  EXPECT_EQ(r.m.longitude.str(), " 1.5 W");

  // Fewer than two characters before the '.': published within the buffers.
  r.h.clear();
  r.feed("$GPGLL,.5,N,7.25,E\n");
  r.feed("$GPGLL,12.3.4,N,5..6,W\n");
  EXPECT_EQ(r.outputs(), (Outputs{{0, " .5 N"}, {1, " 7.25 E"}, {0, " 12 .3.4 N"}, {1, "  5..6 W"}}));
  // An empty (or missing) latitude or longitude publishes neither: a receiver without a fix.
  r.h.clear();
  r.feed("$GPGLL,,,,,\n");
  r.feed("$GPGLL,,,,,,V,N*64\r\n");
  r.feed("$GPGLL,,N,12311.12,W\n");
  r.feed("$GPGLL,4916.45,N,,W,225444,A\n");
  r.feed("$GPGLL,4916.45,N\n");
  r.feed("$GPGLL,4916.45,N,\n");
  r.feed("$GPGLL\n");
  EXPECT_TRUE(r.h.broadcasts().empty());
  EXPECT_EQ(r.m.latitude.str(), " 12 .3.4 N");
  EXPECT_EQ(r.m.longitude.str(), "  5..6 W");
  // A sentence that ends inside a field: the rest of it is abandoned.
  r.h.clear();
  r.feed("$GPGLL,4916.45\n");
  r.feed("$GPGLL,4916.45,N,12311.12\n");
  EXPECT_EQ(r.outputs(), (Outputs{{0, "49 16.45 N"}}));
}

// Mended: the description lost the rest of the block after an overlong line, and the next block
// too unless it began with a line end.
TEST(JGeoFixAssembler, AnOverlongLineIsDroppedAlone) {
  Rig r;
  const std::string noise(450, 'n');
  r.feed(kGsv + "\r\n" + noise + "\r\n" + kGll + "\r\n");
  EXPECT_EQ(r.outputs(), (Outputs{{2, 8}, kGllOutputs[0], kGllOutputs[1]}));

  // An overlong line over several blocks, its end in a block with a sentence after it.
  r.h.clear();
  r.feed(std::string(150, 'a'));
  r.feed(std::string(150, 'b'));
  r.feed(std::string(30, 'c') + "\n" + kGsv + "\n");
  EXPECT_EQ(r.outputs(), (Outputs{{2, 8}}));
  EXPECT_EQ(r.m.lineLength, 0);

  // With debug on, the dropped line is not printed; a line of exactly 199 characters fits and
  // is handled, one of 200 does not.
  r.h.send(r.m, JGeoFixObj::kDebug, 1);
  r.h.clear();
  const std::string fits = "$GPGSV,3,1,05" + std::string(199 - 13, ',');
  ASSERT_EQ(fits.size(), 199u);
  r.feed(fits);
  r.feed("\r\n" + fits + "x\r\n");
  EXPECT_EQ(r.outputs(), (Outputs{{2, 5}}));
  EXPECT_EQ(r.h.debugLines(), (Lines{"gps: " + fits}));

  // A NUL inside a line ends its sentence text there.
  r.h.clear();
  r.feed(std::string("$GPGSV,3,1,07\0,99\r\n", 19));
  EXPECT_EQ(r.outputs(), (Outputs{{2, 7}}));
}

// A delivery that arrives from within the module's own broadcast (a wire looping back) follows
// the block being assembled.
TEST(JGeoFixAssembler, BytesLoopedBackFollowTheBlockBeingAssembled) {
  JTestHarness h;
  auto& loop = h.place<JLoopBack>("loop");
  auto& m = h.place<JGeoFixObj>("gps");
  h.link(loop, 0, m, JGeoFixObj::kBytes);
  h.link(m, JGeoFixObj::kSatellites, loop, 1);
  const std::string reply = "$GPGSV,1,1,05\r\n$GPGSV,1,1,04\r\n";
  loop.reply = JBlock(reply.data(), static_cast<int>(reply.size()));
  loop.replies = 2;
  const std::string sent = kGsv + "\r\n" + kGll + "\r\n";
  h.send(loop, 0, JBlock(sent.data(), static_cast<int>(sent.size())));
  EXPECT_EQ(h.outputsOf(m), (Outputs{{2, 8}, kGllOutputs[0], kGllOutputs[1], {2, 5}, {2, 4}, {2, 5}, {2, 4}}));
}
