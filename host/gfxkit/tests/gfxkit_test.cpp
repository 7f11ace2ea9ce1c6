#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include <unistd.h>

#include "gfxkit/JCanvas.h"
#include "gfxkit/JColor.h"
#include "gfxkit/JGraphics.h"
#include "gfxkit/JRegion.h"

namespace fs = std::filesystem;

void PrintTo(const JColor& c, std::ostream* os) {
  *os << "JColor(" << c.getRed() << ", " << c.getGreen() << ", " << c.getBlue() << ", " << c.getAlpha() << ")";
}
void PrintTo(const JRect& r, std::ostream* os) {
  *os << "JRect(" << r.x << ", " << r.y << ", " << r.width << ", " << r.height << ")";
}

namespace {
JNode colorNode(std::initializer_list<long long> channels, const char* key = "JColor") {
  JNode list = JNode::list();
  for (long long c : channels) list.push(JNode::integer(c));
  JNode n = JNode::map();
  n.set(key, list);
  return n;
}

fs::path tempDir() {
  fs::path d = fs::temp_directory_path() / ("gfxkit_test_" + std::to_string(::getpid()));
  fs::create_directories(d);
  return d;
}

struct RemoveTempDir : ::testing::Environment {
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(fs::temp_directory_path() / ("gfxkit_test_" + std::to_string(::getpid())), ec);
  }
};
::testing::Environment* const removeTempDir = ::testing::AddGlobalTestEnvironment(new RemoveTempDir);

// Bounding box of the pixels that differ from `background`; empty when none do.
JRect changed(const JCanvas& c, const JColor& background) {
  int x1 = c.width(), y1 = c.height(), x2 = -1, y2 = -1;
  for (int y = 0; y < c.height(); ++y)
    for (int x = 0; x < c.width(); ++x)
      if (c.pixel(x, y) != background) {
        x1 = std::min(x1, x);
        y1 = std::min(y1, y);
        x2 = std::max(x2, x);
        y2 = std::max(y2, y);
      }
  return x2 < 0 ? JRect() : JRect(x1, y1, x2 - x1 + 1, y2 - y1 + 1);
}
}  // namespace

TEST(Color, DarkerTruncatesEachStepAndKeepsAlpha) {
  const JColor c(200, 100, 10, 77);
  EXPECT_EQ(c.darker(), JColor(140, 70, 7, 77));
  EXPECT_EQ(c.darker().darker(), JColor(98, 49, 4, 77));
  EXPECT_EQ(JColor::gray.darker(), JColor(89, 89, 89));
}

TEST(Color, BrighterInvertsDarkerAndProgressesFromBlack) {
  EXPECT_EQ(JColor::gray.brighter(), JColor(182, 182, 182));
  EXPECT_EQ(JColor::black.brighter(), JColor(3, 3, 3));
  EXPECT_EQ(JColor(1, 0, 250, 9).brighter(), JColor(4, 0, 255, 9));
  EXPECT_EQ(JColor::white.brighter(), JColor::white);
}

TEST(Color, ConstructorClampsAndNamedColours) {
  EXPECT_EQ(JColor(-5, 300, 12, 999), JColor(0, 255, 12, 255));
  EXPECT_EQ(JColor(), JColor(0, 0, 0, 255));
  const std::pair<JColor, JColor> named[] = {
      {JColor::black, {0, 0, 0}},      {JColor::white, {255, 255, 255}}, {JColor::red, {255, 0, 0}},
      {JColor::green, {0, 255, 0}},    {JColor::blue, {0, 0, 255}},      {JColor::yellow, {255, 255, 0}},
      {JColor::cyan, {0, 255, 255}},   {JColor::magenta, {255, 0, 255}}, {JColor::orange, {255, 200, 0}},
      {JColor::pink, {255, 175, 175}}, {JColor::gray, {128, 128, 128}},  {JColor::lightGray, {192, 192, 192}},
      {JColor::darkGray, {64, 64, 64}}};
  for (const auto& n : named) EXPECT_EQ(n.first, n.second);
}

TEST(Color, NodeRoundTrip) {
  EXPECT_EQ(JColor::orange.toNode(), colorNode({255, 200, 0}));
  JColor c;
  ASSERT_TRUE(c.fromNode(JColor::orange.toNode()));
  EXPECT_EQ(c, JColor::orange);
  ASSERT_TRUE(c.fromNode(JColor(1, 2, 3, 4).toNode()));
  EXPECT_EQ(c, JColor(1, 2, 3, 4));
  ASSERT_TRUE(c.fromNode(colorNode({300, -4, 7})));
  EXPECT_EQ(c, JColor(255, 0, 7));
}

TEST(Color, BadNodesLeaveColourUnchanged) {
  JNode extraKey = colorNode({1, 2, 3}), textItems = JNode::map(), notList = JNode::map();
  extraKey.set("x", JNode::integer(1));
  JNode texts = JNode::list();
  for (int i = 0; i < 3; ++i) texts.push(JNode::text("1"));
  textItems.set("JColor", texts);
  notList.set("JColor", JNode::integer(5));
  const JNode bad[] = {JNode(),
                       JNode::map(),
                       texts,
                       colorNode({1, 2, 3}, "JColour"),
                       extraKey,
                       textItems,
                       notList,
                       colorNode({1, 2}),
                       colorNode({1, 2, 3, 4, 5})};
  for (const JNode& n : bad) {
    JColor c = JColor::pink;
    EXPECT_FALSE(c.fromNode(n));
    EXPECT_EQ(c, JColor::pink);
  }
}

TEST(Region, SubtractionLeavesAFrameWithExactBoundaries) {
  JRegion r(JRect(0, 0, 10, 10));
  r.subtract(JRect(3, 3, 4, 4));
  EXPECT_EQ(r.area(), 84);
  EXPECT_EQ(r.bounds(), JRect(0, 0, 10, 10));
  EXPECT_TRUE(r.contains(2, 3));
  EXPECT_FALSE(r.contains(3, 3));
  EXPECT_FALSE(r.contains(6, 6));
  EXPECT_TRUE(r.contains(7, 6));
  EXPECT_TRUE(r.contains(6, 7));
  EXPECT_FALSE(r.contains(10, 0));
  // Rectangles are disjoint: their areas add up to the area and no two overlap.
  for (size_t i = 0; i < r.rects().size(); ++i)
    for (size_t j = i + 1; j < r.rects().size(); ++j) EXPECT_TRUE(r.rects()[i].intersection(r.rects()[j]).isEmpty());

  // Two corners off; the top-left one overlaps the hole by 2x2 pixels.
  r.subtract(JRegion(JRect(-5, -5, 10, 10)).unite(JRect(8, 8, 5, 5)));
  EXPECT_EQ(r.area(), 84 - (25 - 4) - 4);
  EXPECT_FALSE(r.contains(4, 0));
  EXPECT_TRUE(r.contains(5, 0));
  r.subtract(JRect(0, 0, 10, 10));
  EXPECT_TRUE(r.isEmpty());
  EXPECT_EQ(r.bounds(), JRect());
}

TEST(Region, UniteAndIntersect) {
  EXPECT_TRUE(JRect(0, 0, 5, 5).intersection(JRect(5, 0, 5, 5)).isEmpty());  // touching edges
  EXPECT_EQ(JRect(0, 0, 5, 5).intersection(JRect(3, -2, 5, 4)), JRect(3, 0, 2, 2));

  JRegion u(JRect(0, 0, 6, 6));
  u.unite(JRect(4, 4, 6, 6)).unite(JRect(1, 1, 2, 2));
  EXPECT_EQ(u.area(), 36 + 36 - 4);
  JRegion other(JRect(5, 0, 10, 10));
  u.intersect(other);  // columns 5..9 of the union: 6 + 5 * 6 pixels, 2 of them shared
  EXPECT_EQ(u.area(), 6 + 30 - 2);
  EXPECT_TRUE(u.contains(5, 0));
  EXPECT_FALSE(u.contains(6, 0));
  EXPECT_TRUE(u.contains(9, 9));
}

TEST(Graphics, FillClippedToCanvasMinusRectLeavesTheRectUntouched) {
  JCanvas canvas(20, 16);
  JGraphics g(canvas);
  g.setClip(JRegion(JRect(-10, -10, 100, 100)).subtract(JRect(5, 4, 6, 3)));
  EXPECT_EQ(g.getClip().area(), 20 * 16 - 18);  // clipped to the canvas
  g.setJColor(JColor::red);
  g.fillRect(-3, -3, 40, 40);
  g.fillRect(0, 0, 0, 5);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 20; ++x)
      ASSERT_EQ(canvas.pixel(x, y), JRect(5, 4, 6, 3).contains(x, y) ? JColor::white : JColor::red) << x << "," << y;
}

TEST(Graphics, LineAndOutlineStayInClip) {
  JCanvas canvas(10, 10);
  JGraphics g(canvas);
  g.setClip(JRect(0, 0, 10, 5));
  g.drawLine(0, 0, 9, 9);
  g.drawLine(-2000000000, 2, 2000000000, 2);  // far-off ends: only the visible part is walked
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(canvas.pixel(i, i), i < 5 ? JColor::black : JColor::white);
    EXPECT_EQ(canvas.pixel(i, 2), JColor::black);
  }
  JCanvas outline(10, 10);
  JGraphics o(outline);
  o.drawRect(1, 1, 4, 3);
  EXPECT_EQ(changed(outline, JColor::white), JRect(1, 1, 4, 3));
  EXPECT_EQ(outline.pixel(2, 2), JColor::white);
  EXPECT_EQ(outline.pixel(4, 3), JColor::black);
}

TEST(Canvas, DrawingSurvivesPngRoundTrip) {
  JCanvas canvas(16, 12, JColor(255, 255, 255, 0));
  JGraphics g(canvas);
  g.setJColor(JColor::gray);
  g.fill3DJRect(JRect(1, 1, 8, 8), true, 2);
  g.fill3DJRect(JRect(10, 1, 5, 5), false, 1);
  g.setJColor(JColor(0, 0, 255, 128));
  g.fillRect(0, 10, 4, 2);  // half blue over transparent white
  g.setJColor(JColor::white);
  g.fillRect(4, 10, 4, 2);
  g.setJColor(JColor(0, 0, 255, 128));
  g.fillRect(6, 10, 4, 2);  // half blue over opaque white

  const fs::path file = tempDir() / "drawn.png";
  std::string error;
  ASSERT_TRUE(canvas.writePNG(file.string(), &error)) << error;
  JCanvas back(1, 1);
  ASSERT_TRUE(JCanvas::readPNG(file.string(), back, &error)) << error;
  ASSERT_EQ(back.width(), 16);
  ASSERT_EQ(back.height(), 12);
  EXPECT_EQ(back.rgba(), canvas.rgba());

  const JColor light(182, 182, 182), dark(89, 89, 89);
  EXPECT_EQ(back.pixel(1, 1), light);  // outer ring, top-left corner
  EXPECT_EQ(back.pixel(7, 1), light);  // top row
  EXPECT_EQ(back.pixel(8, 1), dark);   // top-right corner belongs to the right column
  EXPECT_EQ(back.pixel(1, 8), dark);   // bottom-left corner belongs to the bottom row
  EXPECT_EQ(back.pixel(2, 6), light);  // inner ring, left column
  EXPECT_EQ(back.pixel(2, 7), dark);   // inner ring, bottom-left corner
  EXPECT_EQ(back.pixel(7, 7), dark);   // inner ring, bottom-right
  EXPECT_EQ(back.pixel(3, 3), JColor::gray);
  EXPECT_EQ(back.pixel(6, 6), JColor::gray);
  EXPECT_EQ(back.pixel(10, 1), dark);  // sunken: swapped
  EXPECT_EQ(back.pixel(14, 5), light);
  EXPECT_EQ(back.pixel(12, 3), JColor::gray);
  EXPECT_EQ(back.pixel(9, 5), JColor(255, 255, 255, 0));
  EXPECT_EQ(back.pixel(0, 10), JColor(0, 0, 255, 128));
  EXPECT_EQ(back.pixel(7, 11), JColor(127, 127, 255));
}

TEST(Canvas, PngErrorsAreReported) {
  std::string error;
  EXPECT_FALSE(JCanvas(4, 4).writePNG((tempDir() / "no" / "such" / "dir.png").string(), &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(JCanvas(0, 3).writePNG((tempDir() / "empty.png").string(), &error));

  const fs::path junk = tempDir() / "junk.png";
  std::ofstream(junk) << "\x89PNG\r\n\x1a\n not really";
  JCanvas out(2, 2, JColor::red);
  error.clear();
  EXPECT_FALSE(JCanvas::readPNG(junk.string(), out, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(JCanvas::readPNG((tempDir() / "missing.png").string(), out));
  EXPECT_EQ(out.width(), 2);
  EXPECT_EQ(out.pixel(1, 1), JColor::red);
}

class Text : public ::testing::Test {
protected:
  void SetUp() override {
    if (!fs::exists(JGraphics::defaultFontPath())) GTEST_SKIP() << "no font at " << JGraphics::defaultFontPath();
  }
};

TEST_F(Text, InkOfTheTextColourOnlyInsideTheRectAndCentred) {
  JCanvas canvas(120, 50);
  JGraphics g(canvas);
  g.setJColor(JColor::blue);
  const JRect r(10, 8, 100, 30);
  ASSERT_TRUE(g.drawText("Hello, Loom", r));
  const JRect ink = changed(canvas, JColor::white);
  ASSERT_FALSE(ink.isEmpty());
  EXPECT_EQ(ink.intersection(r), ink);
  EXPECT_NEAR(ink.x + ink.width / 2.0, r.x + r.width / 2.0, 3);
  EXPECT_NEAR(ink.y + ink.height / 2.0, r.y + r.height / 2.0, 4);
  int solid = 0;
  for (int y = r.y; y < r.y + r.height; ++y)
    for (int x = r.x; x < r.x + r.width; ++x) solid += canvas.pixel(x, y) == JColor::blue;
  EXPECT_GT(solid, 20);
}

TEST_F(Text, LongTextShrinksAndIsCutToRectAndClip) {
  JCanvas wide(300, 40), narrow(300, 40);
  JGraphics gw(wide), gn(narrow);
  ASSERT_TRUE(gw.drawText("Wide text here", JRect(0, 0, 300, 40)));
  gn.setClip(JRegion(narrow.bounds()).subtract(JRect(0, 0, 50, 40)));
  ASSERT_TRUE(gn.drawText("Wide text here", JRect(20, 5, 60, 30)));
  const JRect inkWide = changed(wide, JColor::white), inkNarrow = changed(narrow, JColor::white);
  ASSERT_FALSE(inkNarrow.isEmpty());
  EXPECT_EQ(inkNarrow.intersection(JRect(50, 5, 30, 30)), inkNarrow);
  EXPECT_LT(inkNarrow.height * 2, inkWide.height);  // fitted to the width, not just cut

  JCanvas cut(100, 30);  // too long even at the smallest size: cut to the rect
  JGraphics gc(cut);
  ASSERT_TRUE(gc.drawText("Wide text here", JRect(40, 12, 20, 4)));
  const JRect inkCut = changed(cut, JColor::white);
  ASSERT_FALSE(inkCut.isEmpty());
  EXPECT_EQ(inkCut.intersection(JRect(40, 12, 20, 4)), inkCut);
}

TEST_F(Text, SameResultFromConcurrentThreads) {
  auto draw = [](JCanvas* c) {
    JGraphics g(*c);
    for (int i = 0; i < 20; ++i) g.drawText("Thread " + std::to_string(i % 3), JRect(0, i % 4, 80, 20));
  };
  JCanvas a(80, 24), b(80, 24), reference(80, 24);
  std::thread ta(draw, &a), tb(draw, &b);
  ta.join();
  tb.join();
  draw(&reference);
  EXPECT_EQ(a.rgba(), reference.rgba());
  EXPECT_EQ(b.rgba(), reference.rgba());
}

// Glyphs drawn once are kept; a text drawn again, after the kept glyphs were all forgotten for
// thousands of others, comes out pixel for pixel the same.
TEST_F(Text, SameInkAfterManyOtherGlyphsAndSizes) {
  auto draw = [](const std::string& text, int height, int width) {
    JCanvas c(160, 60);
    JGraphics g(c);
    g.drawText(text, JRect(2, 2, width, height));
    return c.rgba();
  };
  const auto first = draw("Value 12345 \xC3\xA9t\xC3\xA9", 40, 156);
  std::string many;
  for (char32_t cp = 0x21; cp < 0x250; ++cp) {
    if (cp >= 0x7F && cp < 0xA1) continue;
    if (cp < 0x80) many += static_cast<char>(cp);
    else many += {static_cast<char>(0xC0 | (cp >> 6)), static_cast<char>(0x80 | (cp & 0x3F))};
    if (many.size() >= 40) {
      for (int h = 8; h <= 60; ++h) draw(many, h, 100000);  // wide enough for the size to follow h
      many.clear();
    }
  }
  EXPECT_EQ(draw("Value 12345 \xC3\xA9t\xC3\xA9", 40, 156), first);
}

TEST(TextFont, MissingOrBrokenFontDrawsNothing) {
  JCanvas canvas(40, 20);
  JGraphics g(canvas);
  const JCanvas blank(40, 20);
  g.setFontPath((tempDir() / "missing.ttf").string());
  EXPECT_FALSE(g.drawText("abc", canvas.bounds()));
  const fs::path broken = tempDir() / "broken.ttf";
  std::ofstream(broken) << "not a font";
  g.setFontPath(broken.string());
  EXPECT_FALSE(g.drawText("abc", canvas.bounds()));

  // The environment override is read at each call, so it applies even after the default face
  // was loaded and cached.
  g.setFontPath("");
  JCanvas other(40, 20);
  if (fs::exists(JGraphics::defaultFontPath())) { EXPECT_TRUE(JGraphics(other).drawText("abc", other.bounds())); }
  const char* old = std::getenv("LOOMWORK_FONT");
  const std::string saved = old ? old : "";
  ::setenv("LOOMWORK_FONT", (tempDir() / "missing.ttf").c_str(), 1);
  EXPECT_FALSE(g.drawText("abc", canvas.bounds()));
  if (old) ::setenv("LOOMWORK_FONT", saved.c_str(), 1);
  else ::unsetenv("LOOMWORK_FONT");
  EXPECT_EQ(canvas.rgba(), blank.rgba());
}
