// The Player's file reader: values as the Monitor prints them must read back exactly, and every
// malformed line must be refused with its line number rather than played half-way.
#include <gtest/gtest.h>

#include "PlayerFile.h"

namespace {
const int I = JIntegerData::id, S = JStringData::id, B = JBytesData::id;

std::string text(const std::string& literal) {
  std::string out;
  EXPECT_TRUE(parseJsonString(literal, out)) << literal;
  return out;
}

bool acceptsText(const std::string& literal) {
  std::string out;
  return parseJsonString(literal, out);
}

bool accepts(const std::string& v, int type) {
  JWireValue w;
  std::string error;
  return parseWireValue(v, type, w, error);
}

std::string formatted(const std::string& v, int type) {
  JWireValue w;
  std::string error;
  EXPECT_TRUE(parseWireValue(v, type, w, error)) << v << ": " << error;
  return w.format();
}
}  // namespace

TEST(PlayerFile, JsonStringEscapesAndUnicode) {
  EXPECT_EQ(text(R"("")"), "");
  EXPECT_EQ(text(R"("a\"b\\c\/d")"), "a\"b\\c/d");
  EXPECT_EQ(text(R"("\b\f\n\r\t")"), "\b\f\n\r\t");
  EXPECT_EQ(text(R"("\u0041\u00e9\u20AC")"), "A\xC3\xA9\xE2\x82\xAC");
  EXPECT_EQ(text(R"("\u0000")"), std::string(1, '\0'));
  EXPECT_EQ(text(R"("x\ud83d\ude00y")"), "x\xF0\x9F\x98\x80y");  // a surrogate pair is one character
  EXPECT_EQ(text("\"\xC3\xA9\""), "\xC3\xA9");                   // raw UTF-8 passes through

  for (const char* bad : {R"(abc)", R"("abc)", R"(abc")", "\"", R"("a"b")", "\"a\nb\"", "\"a\tb\"", R"("\x41")",
                          R"("\")", R"("abc\")", R"("\u12g4")", R"("\u12")", R"("\u")", R"("\ud83d")", R"("\ud83dx")",
                          R"("\ud83d\u0041")", R"("\ude00")", R"("\ud83d\ud83d")", R"("\ud83d\ude0")"})
    EXPECT_FALSE(acceptsText(bad)) << bad;
}

TEST(PlayerFile, ValuesOfEachType) {
  EXPECT_EQ(formatted("0", I), "0");
  EXPECT_EQ(formatted("-2147483648", I), "-2147483648");
  EXPECT_EQ(formatted("2147483647", I), "2147483647");
  for (const char* bad : {"", "2147483648", "-2147483649", "99999999999999999999999", "+1", " 1", "1 ", "1.5", "0x10",
                          "-", "1-2", "\"1\""})
    EXPECT_FALSE(accepts(bad, I)) << bad;

  EXPECT_EQ(formatted("0x", B), "0x");
  EXPECT_EQ(formatted("0xAbC0ff00", B), "0xabc0ff00");
  for (const char* bad : {"", "0", "ff", "0x1", "0xg0", "0x0g", "0x 1", "\"0x00\""})
    EXPECT_FALSE(accepts(bad, B)) << bad;

  EXPECT_EQ(formatted(R"("a,b \"q\" \\")", S), R"("a,b \"q\" \\")");
  EXPECT_FALSE(accepts("plain", S));
}

TEST(PlayerFile, OutputTypeLetters) {
  std::vector<int> types;
  std::string error;
  ASSERT_TRUE(parseOutputTypes("isbi", types, error));
  EXPECT_EQ(types, (std::vector<int>{I, S, B, I}));
  EXPECT_TRUE(parseOutputTypes(std::string(kMaxPlayerOutputs, 'b'), types, error));
  for (const std::string& bad : std::vector<std::string>{"", "ix", "I", std::string(kMaxPlayerOutputs + 1, 'i')})
    EXPECT_FALSE(parseOutputTypes(bad, types, error)) << bad;
}

TEST(PlayerFile, LinesCommentsAndLineEnds) {
  std::vector<PlayerEvent> events;
  std::string error;
  const std::string file =
      "# time, output, value\r\n"
      "\r\n"
      "0,0,5\r\n"
      "0,1,\"a,b\\r\"\r\n"
      "\n"
      "#0,0,not played\n"
      "250,2,0x\n"
      "250,0,5";  // no line end after the last line
  ASSERT_TRUE(parsePlayerText(file, {I, S, B}, events, error)) << error;
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[0].timeMs, 0);
  EXPECT_EQ(events[1].output, 1);
  EXPECT_EQ(events[1].value.text().str(), "a,b\r");  // commas inside a text and an escaped CR are kept
  EXPECT_EQ(events[2].timeMs, 250);
  EXPECT_EQ(events[2].value.format(), "0x");
  EXPECT_EQ(events[3].value.integer(), 5);  // a repeated value is still an event of its own

  EXPECT_TRUE(parsePlayerText("", {I}, events, error));
  EXPECT_TRUE(events.empty());
}

TEST(PlayerFile, BadLinesNameTheirLineNumber) {
  struct Case {
    std::string file, where;
  };
  const Case cases[] = {
      {"0,0,1\n# note\n\n0,2,1\n", "line 4: bad output \"2\""},  // the player has outputs 0 and 1
      {"0,0,1\n0,-1,1\n", "line 2: bad output"},
      {"0,0,1\r\n-5,0,1\r\n", "line 2: bad time"},
      {"x,0,1\n", "line 1: bad time"},
      {"0,0\n", "line 1: expected TIME_MS,OUTPUT,VALUE"},
      {"0\n", "line 1: expected"},
      {"0,0,1\n0,0,\n", "line 2: an integer"},
      {"0,0,1\n0,1,hello\n", "line 2: a text value"},
      {"0,0,1\n\n\n0,0,2147483648\n", "line 4:"},
      {"0,0,1 \n", "line 1:"},
  };
  for (const auto& c : cases) {
    std::vector<PlayerEvent> events{PlayerEvent{1, 0, JWireValue::ofInteger(1)}};
    std::string error;
    EXPECT_FALSE(parsePlayerText(c.file, {I, S}, events, error)) << c.file;
    EXPECT_EQ(error.rfind(c.where, 0), 0u) << error;
    EXPECT_TRUE(events.empty()) << "nothing of a bad file is played";
  }

  std::vector<PlayerEvent> events;
  std::string error;
  std::string longLine = "0,0,\"" + std::string(kMaxPlayerLine, 'a') + "\"\n";
  EXPECT_FALSE(parsePlayerText("0,0,\"x\"\n" + longLine, {S}, events, error));
  EXPECT_EQ(error.rfind("line 2: line longer than", 0), 0u) << error;
}
