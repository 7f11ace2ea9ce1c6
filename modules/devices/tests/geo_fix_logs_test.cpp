// JGeoFixObj against what receivers send: logs of three kinds of receiver (tests/data, written by
// make_logs.py from the receivers' manuals, with the values each should give), damaged copies of
// them, checksums, receivers without a fix, and the "any talker" setting.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "JGeoFixObj.h"
#include "testing/Harness.h"
#include "testing/TempFolder.h"

namespace {
using Lines = std::vector<std::string>;

const std::string kData = std::string(LOOMWORK_SOURCE_DIR) + "/modules/devices/tests/data/";
const char* const kLogs[] = {"single-gps", "multi-gnss", "one-sequence"};

Lines linesOf(const std::string& text) {
  Lines out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

std::string sentence(const std::string& body) {
  unsigned sum = 0;
  for (char c : body) sum ^= static_cast<unsigned char>(c);
  static const char hex[] = "0123456789ABCDEF";
  return "$" + body + "*" + hex[sum >> 4] + hex[sum & 15] + "\r\n";
}

struct Gps {
  explicit Gps(int anyTalker = 0) : m(h.place<JGeoFixObj>("gps")) {
    JIntegerProperty p("any talker", anyTalker, 0, 1);
    EXPECT_TRUE(m.updateProperty(p));
  }
  void feed(const std::string& s) { h.send(m, JGeoFixObj::kBytes, JBlock(s.data(), static_cast<int>(s.size()))); }
  // As a serial reader delivers them: blocks of 1 to 64 bytes, cut anywhere.
  void feedInPieces(const std::string& s, unsigned seed) {
    std::mt19937 rnd(seed);
    for (size_t at = 0; at < s.size();) {
      const size_t n = std::min(s.size() - at, size_t(1 + rnd() % 64));
      feed(s.substr(at, n));
      at += n;
    }
  }
  Outputs outputs() const { return h.outputsOf(m); }
  // The broadcasts as the .expect files write them: "OUTPUT VALUE".
  Lines written() const {
    Lines out;
    for (const auto& o : outputs()) out.push_back(std::to_string(o.output) + " " + o.value.format());
    return out;
  }
  JTestHarness h;
  JGeoFixObj& m;
};

// A copy of a log with one line in five damaged as a noisy line damages it: a bit flipped, a byte
// dropped, or a run of 2 to 6 bytes dropped (not a run whose bytes XOR to zero, such as "00":
// NMEA's checksum cannot see that). Also the reference: the damaged copy without the damaged
// pieces that carry a '*', which the module must drop whole, and how many those are. Pieces of
// a damaged line without a '*' (its '*' was hit, or a flip made a line end) are handled as any
// sentence without a checksum.
struct Damaged {
  std::string bytes, reference;
  int dropped = 0;
};

Damaged damage(const std::string& log, unsigned seed) {
  std::mt19937 rnd(seed);
  std::string damaged;
  std::set<std::string> intact;
  for (size_t at = 0; at < log.size();) {
    size_t end = log.find('\n', at);
    end = end == std::string::npos ? log.size() : end + 1;
    std::string line = log.substr(at, end - at);
    at = end;
    intact.insert(line.substr(0, line.find_first_of("\r\n")));
    if (rnd() % 5 == 0) {
      const size_t pos = rnd() % line.size();
      switch (rnd() % 3) {
        case 0: line[pos] = static_cast<char>(line[pos] ^ (1 << (rnd() % 8))); break;
        case 1: line.erase(pos, 1); break;
        default: {
          const size_t n = std::min(line.size() - pos, size_t(2 + rnd() % 5));
          unsigned x = 0;
          for (size_t i = pos; i < pos + n; ++i) x ^= static_cast<unsigned char>(line[i]);
          if (x != 0) line.erase(pos, n);
        }
      }
    }
    damaged += line;
  }
  Damaged d;
  d.bytes = damaged;
  // Split as the module splits: at every CR and LF.
  std::string piece;
  auto endPiece = [&]() {
    if (piece.empty()) return;
    if (intact.count(piece) == 0 && piece.find('*') != std::string::npos) {
      ++d.dropped;
    } else {
      d.reference += piece + "\r\n";
    }
    piece.clear();
  };
  for (char c : damaged) {
    if (c == '\r' || c == '\n') {
      endPiece();
    } else {
      piece += c;
    }
  }
  endPiece();
  return d;
}
}  // namespace

// Every log, fed as a serial reader delivers it, gives what the receiver sent: positions and
// satellites in view, with "any talker" 0 (as before: $GP only, GSV read at index 8) and 1.
TEST(JGeoFixLogs, ReceiversLogsGiveWhatTheReceiverSent) {
  for (const char* log : kLogs) {
    const std::string text = TempFolder::read(kData + log + ".nmea");
    ASSERT_FALSE(text.empty()) << log;
    for (int anyTalker : {0, 1}) {
      const std::string expect = kData + log + ".anytalker" + std::to_string(anyTalker) + ".expect";
      const Lines expected = linesOf(TempFolder::read(expect));
      ASSERT_FALSE(expected.empty()) << expect;
      for (unsigned seed : {1u, 2u, 3u}) {
        Gps g(anyTalker);
        g.feedInPieces(text, seed);
        EXPECT_EQ(g.written(), expected) << log << " any talker " << anyTalker << " seed " << seed;
        EXPECT_EQ(g.m.droppedSentences, 0) << log;  // every checksum in the logs is right
      }
    }
  }
  // What the logs hold, as their receivers' manuals show it: a receiver without a fix first.
  const std::string single = TempFolder::read(kData + "single-gps.nmea");
  EXPECT_NE(single.find("$GPGLL,,,,,,V,N*64\r\n"), std::string::npos);
  const std::string multi = TempFolder::read(kData + "multi-gnss.nmea");
  for (const char* talker : {"$GNGLL,", "$GPGSV,", "$GLGSV,", "$GAGSV,", "$GBGSV,"})
    EXPECT_NE(multi.find(talker), std::string::npos) << talker;
  EXPECT_NE(TempFolder::read(kData + "one-sequence.nmea").find("$GBGSV,11,11,"), std::string::npos);
}

// Damaged copies: no value of a damaged sentence that carries a checksum is ever published. The
// module gives exactly what it gives for the copy without those sentences, and counts them.
TEST(JGeoFixLogs, DamagedCopiesPublishNothingOfADamagedSentence) {
  int droppedInAll = 0;
  for (const char* log : kLogs) {
    const std::string text = TempFolder::read(kData + log + ".nmea");
    for (int anyTalker : {0, 1}) {
      Gps clean(anyTalker);
      clean.feed(text);
      std::set<std::string> cleanPositions;
      for (const auto& o : clean.outputs())
        if (o.output != JGeoFixObj::kSatellites) cleanPositions.insert(o.value.format());
      for (unsigned seed = 1; seed <= 12; ++seed) {
        const Damaged d = damage(text, seed * 7919u + static_cast<unsigned>(anyTalker));
        ASSERT_NE(d.bytes, text);
        Gps damaged(anyTalker), reference(anyTalker);
        damaged.feedInPieces(d.bytes, seed);
        reference.feed(d.reference);
        EXPECT_EQ(damaged.outputs(), reference.outputs()) << log << " seed " << seed;
        EXPECT_EQ(damaged.m.droppedSentences, d.dropped) << log << " seed " << seed;
        EXPECT_GT(d.dropped, 0);
        droppedInAll += d.dropped;
        // Every position published is one the receiver sent.
        for (const auto& o : damaged.outputs()) {
          if (o.output != JGeoFixObj::kSatellites) {
            EXPECT_EQ(cleanPositions.count(o.value.format()), 1u) << log << " seed " << seed << ": " << o;
          }
        }
        if (anyTalker == 0) {
          // Each GSV counts on its own: every number published is one the receiver sent.
          std::set<std::string> all;
          for (const auto& o : clean.outputs()) all.insert(std::to_string(o.output) + o.value.format());
          for (const auto& o : damaged.outputs()) {
            EXPECT_EQ(all.count(std::to_string(o.output) + o.value.format()), 1u) << log << ": " << o;
          }
        }
      }
    }
  }
  EXPECT_GT(droppedInAll, 300);
}

// With "enable DEBUG" on, a dropped sentence is printed as "bad checksum: LINE", its control and
// other bytes outside printable ASCII (and the backslash) written as \xNN; nothing else of it.
TEST(JGeoFixChecksum, DroppedSentencesAreCountedAndPrintedWithDebug) {
  Gps g;
  const std::string gsv = sentence("GPGSV,3,1,11,03,49,306,35");
  g.feed(gsv);
  EXPECT_EQ(g.outputs(), (Outputs{{2, 11}}));
  g.h.clear();
  std::string flipped = gsv;
  flipped[12] = '2';  // 11 became 12: the checksum no longer matches
  g.feed(flipped);
  EXPECT_TRUE(g.h.broadcasts().empty());
  EXPECT_TRUE(g.h.debugLines().empty());  // debug is off: counted only
  EXPECT_EQ(g.m.droppedSentences, 1);

  g.h.send(g.m, JGeoFixObj::kDebug, 1);
  g.feed(flipped);
  g.feed(std::string("$GPGLL,49\x01") + "16.45,N\\,\xB1\x7F*00\r\n");
  g.feed(gsv);
  EXPECT_EQ(g.h.debugLines(), (Lines{"gps: bad checksum: " + flipped.substr(0, flipped.size() - 2),
                                     "gps: bad checksum: $GPGLL,49\\x0116.45,N\\x5C,\\xB1\\x7F*00",
                                     "gps: " + gsv.substr(0, gsv.size() - 2)}));
  EXPECT_EQ(g.outputs(), (Outputs{{2, 11}}));
  EXPECT_EQ(g.m.droppedSentences, 3);
  // A NUL inside a checked sentence is printed too, and the count survives a copy.
  g.h.clear();
  g.feed(std::string("$GPGSV,1,1,0\0\x7*00\r\n", 19));
  EXPECT_EQ(g.h.debugLines(), (Lines{"gps: bad checksum: $GPGSV,1,1,0\\x00\\x07*00"}));
  std::unique_ptr<JObject> copy(g.m.clone());
  EXPECT_EQ(static_cast<JGeoFixObj&>(*copy).droppedSentences, 4);
}

TEST(JGeoFixChecksum, WhatCountsAsARightChecksum) {
  Gps g;
  // Right: over the characters between '$' (or '!') and '*'. (Neither "$GSV" nor "!GPGSV" is a
  // sentence the module reads: right, and passed over.)
  g.feed(sentence("GPGSV,1,1,04"));
  g.feed(sentence("GSV,1,1,06"));
  g.feed("!" + sentence("GPGSV,1,1,07").substr(1));
  // A NUL inside counts as a byte (and ends the sentence's text, as without a checksum).
  g.feed(sentence(std::string("GPGSV,3,1,08\0,99", 16)));
  EXPECT_EQ(g.outputs(), (Outputs{{2, 4}, {2, 8}}));
  EXPECT_EQ(g.m.droppedSentences, 0);

  // Wrong: another value, one digit, three, no digit, not hexadecimal, a small letter (NMEA
  // writes capitals: 'a' is 'A' with a bit flipped), anything after them, a line that starts
  // mid-sentence or lost its '$' (the XOR does not cover it), two sentences run together.
  g.h.clear();
  const std::string right = sentence("GPGSV,1,1,04");  // "...*7D\r\n"
  const std::string body = right.substr(0, right.find('*'));
  const std::string sum = right.substr(right.find('*') + 1, 2);
  ASSERT_EQ(sum, "7D");
  for (const std::string& wrong :
       {body + "*00", body + "*" + sum.substr(0, 1), body + "*" + sum + "0", body + "*", body + "*G" + sum.substr(1),
        body + "*7a", body + "*" + sum + " ", body.substr(3) + "*" + sum, body.substr(1) + "*" + sum,
        body + "*" + sum + body + "*" + sum})
    g.feed(wrong + "\r\n");
  EXPECT_TRUE(g.h.broadcasts().empty());
  EXPECT_EQ(g.m.droppedSentences, 10);
  // Without a '*', handled as it stands.
  g.feed(body + "\r\n");
  EXPECT_EQ(g.outputs(), (Outputs{{2, 4}}));
}

// No fix: the receiver sends the position fields empty; neither output is broadcast, and the
// last position stays.
TEST(JGeoFixNoFix, EmptyPositionFieldsPublishNothing) {
  for (int anyTalker : {0, 1}) {
    Gps g(anyTalker);
    g.feed(sentence("GPGLL,4916.45,N,12311.12,W,225444,A"));
    g.h.clear();
    g.feed("$GPGLL,,,,,,V,N*64\r\n");
    g.feed(sentence("GPGLL,,,,,225445.00,V,N"));
    g.feed(sentence("GPGLL,4916.46,N,,,225446.00,V,N"));
    g.feed(sentence("GPGLL,,,12311.13,W,225447.00,V,N"));
    g.feed(sentence("GNGLL,,,,,225448.00,V,N"));
    EXPECT_TRUE(g.h.broadcasts().empty()) << anyTalker;
    EXPECT_EQ(g.m.latitude.str(), "49 16.45 N");
    EXPECT_EQ(g.m.longitude.str(), "123 11.12 W");
    EXPECT_EQ(g.m.droppedSentences, 0);
  }
}

// "any talker": 0 reads $GP only (a diagram saved before the setting behaves as before); 1 reads
// GLL and GSV of every satellite system's talker.
TEST(JGeoFixAnyTalker, TalkersReadWithTheSettingOffAndOn) {
  const std::string talkers[] = {"GP", "GN", "GL", "GA", "GB", "GQ", "BD"};
  {
    Gps off;
    EXPECT_EQ(off.m.anyTalker, 0);
    for (const auto& t : talkers) off.feed(sentence(t + "GLL,5231.21053,N,01324.61525,E,091512.00,A,A"));
    off.feed(sentence("GLGSV,1,1,03,65,10,279,20"));
    off.feed(sentence("GPGSV,10,1,40,01,40,175,21"));  // index 8: the comma after the number
    EXPECT_EQ(off.outputs(), (Outputs{{0, "52 31.21053 N"}, {1, "013 24.61525 E"}, {2, 0}}));
  }
  Gps on(1);
  for (const auto& t : talkers) on.feed(sentence(t + "GLL,5231.21053,N,01324.61525,E,091512.00,A,A"));
  Outputs expected;
  for (size_t i = 0; i < std::size(talkers); ++i) {
    expected.push_back({0, "52 31.21053 N"});
    expected.push_back({1, "013 24.61525 E"});
  }
  EXPECT_EQ(on.outputs(), expected);
  // Another talker, or a GLL without its '$' talker, is read as before.
  on.h.clear();
  on.feed(sentence("XXGLL,5231.21053,N,01324.61525,E"));
  on.feed(sentence("GNGLLX,5231.21053,N,01324.61525,E"));
  on.feed("GLL,0102.5,S,00304.25,E\n");
  EXPECT_EQ(on.outputs(), (Outputs{{0, "01 02.5 S"}, {1, "003 04.25 E"}}));
}

TEST(JGeoFixAnyTalker, SatellitesInViewOverTheSequencesOfACycle) {
  // One sequence per system, each with that system's count: summed, published once at the first
  // other sentence.
  Gps g(1);
  const std::string other = sentence("GNGLL,,,,,091512.00,V,N");
  g.feed(sentence("GPGSV,3,1,11,01,70,132,20") + sentence("GPGSV,3,2,11,05,39,255,21") +
         sentence("GPGSV,3,3,11,09,06,047,22"));
  g.feed(sentence("GLGSV,2,1,07,65,10,279,20") + sentence("GLGSV,2,2,07,69,79,294,20"));
  g.feed(sentence("GAGSV,1,1,04,01,26,078,30"));
  g.feed(sentence("GBGSV,1,1,00"));
  EXPECT_TRUE(g.h.broadcasts().empty());
  g.feed(other);
  EXPECT_EQ(g.outputs(), (Outputs{{2, 22}}));

  // One sequence whose numbers run on across the talkers, each message with the total (two
  // digits of message count): taken once.
  g.h.clear();
  std::string running;
  const char* order[] = {"GP", "GP", "GP", "GL", "GL", "GL", "GA", "GA", "GB", "GB"};
  for (int k = 0; k < 10; ++k)
    running += sentence(std::string(order[k]) + "GSV,10," + std::to_string(k + 1) + ",38,01,40,175,21");
  g.feed(running + other);
  EXPECT_EQ(g.outputs(), (Outputs{{2, 38}}));

  // Cycles back to back with no other sentence between: a talker that begins a second sequence
  // begins the next cycle. A lost message (here the GP's second) does not split its sequence; a
  // sequence whose first message was lost still counts.
  g.h.clear();
  g.feed(sentence("GPGSV,3,1,09,01,70,132,20") + sentence("GPGSV,3,3,09,09,06,047,22") +
         sentence("GLGSV,2,2,06,69,79,294,20"));
  g.feed(sentence("GPGSV,2,1,08,01,70,132,20") + sentence("GPGSV,2,2,08,05,39,255,21") +
         sentence("GLGSV,1,1,04,65,10,279,20"));
  g.feed(other + other);  // a second other sentence has no cycle to end
  EXPECT_EQ(g.outputs(), (Outputs{{2, 15}, {2, 12}}));

  // NMEA 4.10 signals: one sequence per signal of a system; a satellite seen on two signals is
  // one satellite, so a system counts with its largest.
  g.h.clear();
  g.feed(sentence("GPGSV,3,1,10,01,70,132,20,1") + sentence("GPGSV,3,2,10,05,39,255,21,1") +
         sentence("GPGSV,3,3,10,09,06,047,22,1"));
  g.feed(sentence("GPGSV,2,1,06,01,70,132,20,8") + sentence("GPGSV,2,2,06,05,39,255,21,8"));
  g.feed(sentence("GAGSV,1,1,03,01,26,078,30,7") + sentence("GAGSV,1,1,04,01,26,078,30,2"));
  g.feed(other);
  EXPECT_EQ(g.outputs(), (Outputs{{2, 14}}));

  // Messages that say nothing of their sequence are passed over; a cycle of nothing publishes
  // nothing.
  g.h.clear();
  for (const char* bad :
       {"GPGSV", "GPGSV,", "GPGSV,x,1,05", "GPGSV,2,3,05", "GPGSV,0,0,05", "GPGSV,2,1", "GPGSVX,1,1,04"})
    g.feed(sentence(bad));
  g.feed(other);
  EXPECT_TRUE(g.h.broadcasts().empty());
  // An empty count is 0. At most 16 sequences make a cycle: 20 sequences of four systems on
  // five signals each (one satellite each) give two cycles.
  std::string many;
  const char* systems[] = {"GP", "GL", "GA", "GB"};
  for (int k = 0; k < 20; ++k)
    many += sentence(std::string(systems[k % 4]) + "GSV,1,1,01,01,70,132,20," + std::to_string(1 + k / 4));
  g.feed(sentence("GPGSV,1,1,,") + other + many + other);
  EXPECT_EQ(g.outputs(), (Outputs{{2, 0}, {2, 4}, {2, 4}}));
}

// The setting: kept under "anyTalker", copied, 0 when the key is missing, and a value other than
// 0 or 1 is left out.
TEST(JGeoFixAnyTalker, TheSettingIsStoredCopiedAndBounded) {
  Gps g(1);
  EXPECT_EQ(g.m.anyTalker, 1);
  const JNode content = JTestHarness::content(g.m);
  auto back = JTestHarness::roundTrip(g.m);
  EXPECT_EQ(static_cast<JGeoFixObj&>(*back).anyTalker, 1);
  std::unique_ptr<JObject> copy(g.m.clone());
  EXPECT_EQ(static_cast<JGeoFixObj&>(*copy).anyTalker, 1);
  JGeoFixObj older;
  older.anyTalker = 1;
  JTestHarness::restore(older, JTestHarness::without(content, "anyTalker"));
  EXPECT_EQ(older.anyTalker, 0);
  JIntegerProperty two("any talker", 2, 0, 1);
  g.m.updateProperty(two);
  EXPECT_EQ(g.m.anyTalker, 1);
  JIntegerProperty off("any talker", 0, 0, 1);
  EXPECT_TRUE(g.m.updateProperty(off));
  EXPECT_EQ(g.m.anyTalker, 0);
}
