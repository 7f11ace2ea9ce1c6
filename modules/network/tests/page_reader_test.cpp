// JPageReaderObj without a network: its ports, settings, keys and face, and the page decoder
// with the traps the description warns of.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "JPageReaderObj.h"
#include "testing/Harness.h"

namespace {

using Values = std::vector<int>;

// Decodes each text as one chunk, in order, from a fresh decoder; the values it holds.
Values DecodeChunks(const std::vector<std::string>& chunks) {
  PageDecoder d;
  d.reset();
  for (const auto& c : chunks) d.decodeChunk(reinterpret_cast<const uint8_t*>(c.data()), static_cast<int>(c.size()));
  return Values(d.values, d.values + d.count());
}

Values Decode(const std::string& chunk) { return DecodeChunks({chunk}); }

// The page as the module reads it: fed in pieces of the given sizes (cycled), then finished.
Values Feed(const std::string& page, const std::vector<size_t>& pieces) {
  PageDecoder d;
  d.reset();
  size_t at = 0, k = 0;
  while (at < page.size()) {
    size_t n = std::min(pieces[k++ % pieces.size()], page.size() - at);
    d.feed(reinterpret_cast<const uint8_t*>(page.data() + at), n);
    at += n;
  }
  d.finish();
  return Values(d.values, d.values + d.count());
}

std::string Joined(const std::vector<std::string>& pieces) {
  std::string all;
  for (const auto& p : pieces) all += p;
  return all;
}

TEST(PageDecoder, TheDescribedExample) {
  // The final FF, the last two bytes, is a pair of the first run and starts none.
  EXPECT_EQ(Decode("<body>aaFF0A1BFF"), (Values{10, 27, 255}));
  EXPECT_EQ(Feed("<body>aaFF0A1BFF", {1}), (Values{10, 27, 255}));
  EXPECT_EQ(Feed("HTTP/1.0 200 OK\r\n\r\n<body>aaFF0A1BFF", {7}), (Values{10, 27, 255}));
  // Two bytes more and it starts a run of its own: the digits after it decode a second time.
  EXPECT_EQ(Decode("<body>aaFF0A1BFF12"), (Values{10, 27, 255, 18, 18}));
  EXPECT_EQ(Decode("<body aaFF12FF34"), (Values{18, 255, 52, 52}));
  // Headers and tags before it are skipped; after it, '<' and '>' are digits (12 and 14) like
  // the other characters between '9' and 'A', so a tag closing the run adds a value.
  EXPECT_EQ(Decode("HTTP/1.0 200 OK\r\n\r\n<html><body>\n<p>aa FF 0A 1B</p>"), (Values{10, 27, 0xCE}));
  EXPECT_EQ(Decode("HTTP/1.0 200 OK\r\n\r\n<html><body>\n<p>aa FF 0A 1B</p"), (Values{10, 27}));
}

TEST(PageDecoder, PagesWithoutBodyAaOrFFGiveNothing) {
  for (const char* page : {"<html>aaFF0A1B</html>",  // no "<body"
                           "<BODY>aaFF0A1B",         // the marker is case-sensitive
                           "<<body>aaFF0A1B",        // a doubled '<' hides it
                           "<body>a FF0A1B",         // no "aa"
                           "<body>AAFF0A1B",         // nor "AA"
                           "<body>aa ff0A1B F F0A",  // no "FF"
                           "aaFF0A<body>", ""}) {    // all of it before the body
    EXPECT_EQ(Decode(page), Values{}) << page;
    EXPECT_EQ(Feed(page, {1}), Values{}) << page;
  }
  EXPECT_EQ(Decode("<<body><body>aaFF0A1B"), (Values{10, 27}));  // a later one counts
  EXPECT_EQ(Feed("<<body><body>aaFF0A1B", {3}), (Values{10, 27}));
}

TEST(PageDecoder, DigitsPairsAndWhatIsSkipped) {
  // Lowercase letters and other bytes are skipped without breaking a pair.
  EXPECT_EQ(Decode("<body>aaFF1x2 3f\n4."), (Values{0x12, 0x34}));
  // The seven characters between '9' and 'A' count as 10 to 16: pairs can go past 255.
  EXPECT_EQ(Decode("<body>aaFF:0@@9:?;<=>"), (Values{160, 272, 154, 15 * 16 + 11, 12 * 16 + 13}));
  for (int c = 0; c < 256; ++c) {
    int want = -1;
    if (c >= '0' && c <= '9') want = c - '0';
    if (c >= ':' && c <= '@') want = 10 + (c - ':');
    if (c >= 'A' && c <= 'F') want = 10 + (c - 'A');
    EXPECT_EQ(PageDecoder::digitValue(static_cast<uint8_t>(c)), want) << c;
  }
  // An odd digit at the end is left pending: no value.
  EXPECT_EQ(Decode("<body>aaFF0A1"), (Values{10}));
}

TEST(PageDecoder, ARunStopsPastSevenValuesAndTenAreKept) {
  // One run stops once more than seven values are in.
  EXPECT_EQ(Decode("<body>aaFF01020304050607080910"), (Values{1, 2, 3, 4, 5, 6, 7, 8}));
  // Past that each later run takes one digit; values after the tenth are not stored.
  const std::string page = "<body>aaFF0102030405060708aaFF1FF2FF3FF4FF5FF6FF7FF8 ";
  EXPECT_EQ(Decode(page), (Values{1, 2, 3, 4, 5, 6, 7, 8, 0x12, 0x34}));
  for (size_t piece : {size_t(1), size_t(2), size_t(5), size_t(17), page.size()})
    EXPECT_EQ(Feed(page, {piece}), Decode(page)) << piece;
  // The first run's sixteen digits, then later runs whose "FF" lay inside it.
  const std::string inside = "<body>aaFF0FF1FF2FF3FF4FF5FF6FF7FF8FF9";
  EXPECT_EQ(Feed(inside, {1}), Decode(inside));
  EXPECT_EQ(Decode(inside).size(), 10u);
}

// What the network cuts is no boundary: an "aa", an "FF" or a run cut between two pieces reads
// as in one piece (each 50-byte chunk of the old reader lost them).
TEST(PageDecoder, PiecesAreNoBoundaries) {
  const std::vector<std::vector<std::string>> cases = {{"<html><bo", "dy>aaFF0A"},
                                                       {"<body>xa", "aFF0A1B"},
                                                       {"<body>aaFF0A1", "B2C"},
                                                       {"<body>aaF", "F0A"},
                                                       {"<body>aaFF01", "aaFF02", "xxFF03", "aaFF04"}};
  const std::vector<Values> whole = {{10}, {10, 27}, {10, 0x1B, 0x2C}, {10}, {1, 255, 2, 255, 3, 255, 4, 2, 0}};
  for (size_t i = 0; i < cases.size(); ++i) {
    const std::string page = Joined(cases[i]);
    std::vector<size_t> sizes;
    for (const auto& p : cases[i]) sizes.push_back(p.size());
    EXPECT_EQ(Decode(page), whole[i]) << page;
    EXPECT_EQ(Feed(page, sizes), whole[i]) << page;
  }
}

// The streaming decoder against the rules on the whole response, over pages made of the
// characters that matter (marker pieces, a, F, digits, the seven between '9' and 'A', others),
// fed whole, byte by byte and in random pieces.
TEST(PageDecoder, AnyCuttingOfAnyPageGivesTheValuesOfTheWholePage) {
  const std::vector<std::string> parts = {"<body", "<bo", "dy", "a", "aa", "F",  "FF", "FFF", "0",  "9", "A",
                                          "E",     ":",   "@",  "x", " ",  "\n", "f",  "<",   "1B", "C3"};
  std::mt19937 rng(23);
  int withValues = 0;
  for (int round = 0; round < 3000; ++round) {
    std::string page = round % 3 == 0 ? "HTTP/1.1 200 OK\r\n\r\n<body>aa" : "";
    const int count = 1 + static_cast<int>(rng() % 80);
    for (int i = 0; i < count; ++i) page += parts[rng() % parts.size()];
    const Values want = Decode(page);
    withValues += !want.empty();
    ASSERT_EQ(Feed(page, {page.size()}), want) << page;
    ASSERT_EQ(Feed(page, {1}), want) << page;
    std::vector<size_t> pieces;
    for (int i = 0; i < 5; ++i) pieces.push_back(1 + rng() % 12);
    ASSERT_EQ(Feed(page, pieces), want) << page;
  }
  EXPECT_GT(withValues, 1000);  // the pages exercise the runs, not only the skipping
  // A long page: the values in its first bytes, then megabytes of text with digits and F's.
  std::string longPage = "HTTP/1.0 200 OK\r\n\r\n<body>\n<pre>aaFF1540C8 ";
  while (longPage.size() < (2u << 20)) longPage += "text with 1 digit, FF and a few more F0 F1 FF 22\n";
  EXPECT_EQ(Feed(longPage, {65536}), Decode(longPage));
  EXPECT_EQ(Feed(longPage, {1, 7, 4096}), Decode(longPage));
}

// --- the response head ---

ResponseHead HeadOf(const std::string& response, size_t piece = 0) {
  ResponseHead h;
  h.reset();
  size_t at = 0;
  while (at < response.size() && !h.complete()) {
    const size_t n = piece ? std::min(piece, response.size() - at) : response.size() - at;
    at += h.take(reinterpret_cast<const uint8_t*>(response.data() + at), n);
  }
  return h;
}

TEST(PageResponseHead, WhereTheResponseEndsAndWhatFailed) {
  const std::string ok = "HTTP/1.1 200 OK\r\nContent-Length: 42\r\nContent-Type: text/html\r\n\r\n<body>";
  for (size_t piece : {size_t(0), size_t(1), size_t(5), size_t(13)}) {
    ResponseHead h = HeadOf(ok, piece);
    EXPECT_TRUE(h.complete() && h.isHttp()) << piece;
    EXPECT_EQ(h.status(), 200);
    EXPECT_EQ(h.bodyLength(), 42);
    EXPECT_EQ(h.failureLine(), "");
  }
  // take() keeps to the head: what follows it is body.
  ResponseHead split;
  split.reset();
  EXPECT_EQ(split.take(reinterpret_cast<const uint8_t*>(ok.data()), ok.size()), ok.size() - 6);

  EXPECT_EQ(HeadOf("HTTP/1.0 404 Not Found\r\n\r\n").failureLine(), "HTTP 404 Not Found");
  EXPECT_EQ(HeadOf("HTTP/1.1 500 Internal Server Error\nServer: x\n\n").failureLine(),
            "HTTP 500 Internal Server Error");
  EXPECT_EQ(HeadOf("HTTP/1.1 503\r\n\r\n").failureLine(), "HTTP 503");
  EXPECT_EQ(HeadOf("HTTP/1.1 301 Moved Permanently\r\nlocation: http://elsewhere/p.html\r\n\r\n").failureLine(),
            "redirected to http://elsewhere/p.html (not followed)");
  EXPECT_EQ(HeadOf("HTTP/1.1 302 Found\r\nLocation:/new.html \r\n\r\n").failureLine(),
            "redirected to /new.html (not followed)");
  EXPECT_EQ(HeadOf("HTTP/1.1 300 Multiple Choices\r\n\r\n").failureLine(), "HTTP 300 Multiple Choices");
  // A control character in a reason cannot break the debug line.
  EXPECT_EQ(HeadOf("HTTP/1.1 404 Not\x01"
                   "Found\r\n\r\n")
                .failureLine(),
            "HTTP 404 Not?Found");
  EXPECT_EQ(HeadOf("HTTP/1.1 404 " + std::string(1000, 'x') + "\r\n\r\n").failureLine().size(),
            std::string("HTTP 404 ").size() + ResponseHead::kMaxText);

  // No length, or one that cannot be trusted: the body runs to the close.
  EXPECT_EQ(HeadOf("HTTP/1.0 200 OK\r\n\r\n").bodyLength(), -1);
  EXPECT_EQ(HeadOf("HTTP/1.0 200 OK\r\nContent-Length: 12x\r\n\r\n").bodyLength(), -1);
  EXPECT_EQ(HeadOf("HTTP/1.0 200 OK\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\n").bodyLength(), -1);
  EXPECT_EQ(HeadOf("HTTP/1.0 200 OK\r\nContent-Length: 5\r\ncontent-length:5\r\n\r\n").bodyLength(), 5);
  EXPECT_EQ(HeadOf("HTTP/1.0 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\n").bodyLength(), -1);
  EXPECT_EQ(HeadOf("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Length: 5\r\n\r\n").bodyLength(), -1);
  EXPECT_TRUE(HeadOf("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n").chunked());
  EXPECT_EQ(HeadOf("HTTP/1.1 204 No Content\r\n\r\n").bodyLength(), 0);
  EXPECT_EQ(HeadOf("HTTP/1.1 304 Not Modified\r\n\r\n").bodyLength(), 0);

  // Not HTTP: no head; decided at the first byte that cannot start a status line.
  ResponseHead bare = HeadOf("<html><body>aaFF01");
  EXPECT_TRUE(bare.complete());
  EXPECT_FALSE(bare.isHttp());
  EXPECT_EQ(bare.bodyLength(), -1);
  EXPECT_EQ(bare.failureLine(), "");
  EXPECT_FALSE(HeadOf("HTTP/1.1 2x0 OK\r\n\r\n").isHttp());
  // A head without end is given up at its bound, not gathered for ever.
  ResponseHead endless = HeadOf("HTTP/1.1 200 OK\r\nX: " + std::string(ResponseHead::kMaxHead * 2, 'y'), 4096);
  EXPECT_TRUE(endless.complete());
  EXPECT_FALSE(endless.isHttp());
}

TEST(PageReaderShape, TimesInTheDebugLines) {
  EXPECT_EQ(JPageReaderObj::secondsText(10000), "10");
  EXPECT_EQ(JPageReaderObj::secondsText(1500), "1.5");
  EXPECT_EQ(JPageReaderObj::secondsText(250), "0.25");
  EXPECT_EQ(JPageReaderObj::secondsText(1), "0.001");
  EXPECT_EQ(JPageReaderObj::hostAndPort("::1", 80), JString("[::1]:80"));
  EXPECT_EQ(JPageReaderObj::hostAndPort("[::1]", 80), JString("[::1]:80"));
  EXPECT_EQ(JPageReaderObj::hostAndPort("localhost", 4080), JString("localhost:4080"));
}

// --- the module ---

TEST(PageReaderShape, PortsTagsAndGeometry) {
  JPageReaderObj m;
  EXPECT_STREQ(m.className(), "JPageReaderObj");
  EXPECT_EQ(m.inputCount, 1);
  EXPECT_EQ(m.outputCount, 10);
  EXPECT_EQ(m.inputTag(0), JString("reload"));
  EXPECT_EQ(m.inputType(0), JIntegerData::id);
  EXPECT_EQ(m.inputFace(0), 1);
  EXPECT_EQ(m.inputArea(0), m.topArea(0, 0, 1, 0.25, 0.5, 6));
  for (int n = 0; n < 10; ++n) {
    EXPECT_EQ(m.outputTag(n), JString("mvalue_" + std::to_string(n + 1))) << n;
    EXPECT_EQ(m.outputType(n), JIntegerData::id);
    EXPECT_EQ(m.outputFace(n), 2);
    EXPECT_EQ(m.outputArea(n), m.rightArea(n, 0, 10, 0.25, 0.5, 6));
  }

  JTestHarness h;
  auto& placed = h.place<JPageReaderObj>("page");
  for (int n = 0; n < 10; ++n) EXPECT_EQ(h.readInt(placed, n), 0);
  // One link on the input; 0 there (nothing fetched yet) changes nothing.
  h.send(placed, 0, 0);
  EXPECT_FALSE(placed.inputAllowed(0));
  EXPECT_TRUE(placed.outputAllowed(0));
  EXPECT_EQ(placed.fetchState.load(), JPageReaderObj::kIdle);
  EXPECT_FALSE(placed.fetching());
  auto& other = h.place<JPageReaderObj>("other");
  JLinkObj* out = h.link(placed, 9, other, 0);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(placed.outputPoint(9, *out), placed.rightPoint(9, *out, 0, 10, 0.25, 0.5));
  EXPECT_EQ(other.inputPoint(0, *out), other.topPoint(0, *out, 0, 1, 0.25, 0.5));
  EXPECT_TRUE(h.outputsOf(placed).empty());
}

TEST(PageReaderShape, PropertiesInTheirOrderAndRanges) {
  JPageReaderObj m;
  JArray props = m.getProperties();
  ASSERT_EQ(props.size(), 4);
  auto* address = dynamic_cast<JStringProperty*>(props.elementAt(0));
  auto* port = dynamic_cast<JIntegerProperty*>(props.elementAt(1));
  auto* url = dynamic_cast<JStringProperty*>(props.elementAt(2));
  auto* timeout = dynamic_cast<JIntegerProperty*>(props.elementAt(3));
  ASSERT_TRUE(address && port && url && timeout);
  EXPECT_EQ(timeout->getName(), JString("timeout ms"));
  EXPECT_EQ(timeout->value, 10000);
  EXPECT_EQ(timeout->minimum, 0);
  EXPECT_EQ(timeout->maximum, JPageReaderObj::kMaxTimeoutMs);
  EXPECT_EQ(address->getName(), JString("hostName/IPaddress"));
  EXPECT_EQ(address->value, JString("localhost"));
  EXPECT_EQ(port->getName(), JString("port"));
  EXPECT_EQ(port->value, 80);
  EXPECT_EQ(port->minimum, 80);
  EXPECT_EQ(port->maximum, 5000);
  EXPECT_EQ(url->getName(), JString("url"));
  EXPECT_EQ(url->value, JString("/"));

  JIntegerProperty p("port", 4080, 80, 5000);
  EXPECT_TRUE(m.updateProperty(p));
  EXPECT_EQ(m.port.load(), 4080);
  for (int bad : {79, 5001, 0, -1, 65535}) {  // outside the range: taken as the property, ignored
    JIntegerProperty outside("port", bad, 80, 5000);
    EXPECT_TRUE(m.updateProperty(outside)) << bad;
    EXPECT_EQ(m.port.load(), 4080) << bad;
  }
  JIntegerProperty none("timeout ms", 0, 0, JPageReaderObj::kMaxTimeoutMs);  // 0: no limit
  EXPECT_TRUE(m.updateProperty(none));
  EXPECT_EQ(m.timeoutMs.load(), 0);
  JIntegerProperty negative("timeout ms", -5, 0, JPageReaderObj::kMaxTimeoutMs);
  EXPECT_TRUE(m.updateProperty(negative));
  EXPECT_EQ(m.timeoutMs.load(), 0);
  JStringProperty text("port", JString("81"));  // the wrong kind is no port at all
  EXPECT_FALSE(m.updateProperty(text));
  JStringProperty host("hostName/IPaddress", JString("127.0.0.1"));
  EXPECT_TRUE(m.updateProperty(host));
  EXPECT_EQ(m.getAddress(), JString("127.0.0.1"));
  JStringProperty path("url", JString("/values.html"));
  EXPECT_TRUE(m.updateProperty(path));
  EXPECT_EQ(m.getUrl(), JString("/values.html"));
  JStringProperty address2("address", JString("elsewhere"));  // the key, not the property name
  EXPECT_FALSE(m.updateProperty(address2));
  EXPECT_EQ(m.getAddress(), JString("127.0.0.1"));
  EXPECT_GT(m.repaintCount(), 0);

  props = m.getProperties();
  EXPECT_EQ(props.elementAt(0)->className(), std::string("JStringProperty"));
  EXPECT_EQ(static_cast<JStringProperty*>(props.elementAt(0))->value, JString("127.0.0.1"));
  EXPECT_EQ(static_cast<JIntegerProperty*>(props.elementAt(1))->value, 4080);
  EXPECT_EQ(static_cast<JStringProperty*>(props.elementAt(2))->value, JString("/values.html"));
}

TEST(PageReaderShape, PersistenceAndClone) {
  JPageReaderObj m;
  JStringProperty host("hostName/IPaddress", JString("pages.example"));
  JIntegerProperty port("port", 4080, 80, 5000);
  JStringProperty url("url", JString("/v.html"));
  m.updateProperty(host);
  m.updateProperty(port);
  m.updateProperty(url);

  const JNode saved = JTestHarness::content(m);
  EXPECT_EQ(JTestHarness::keysOf(saved), (std::vector<std::string>{"address", "port", "url", "timeoutMs"}));
  m.timeoutMs = 2500;
  auto back = JTestHarness::roundTrip(m);
  auto& restored = static_cast<JPageReaderObj&>(*back);
  EXPECT_EQ(restored.timeoutMs.load(), 2500);
  EXPECT_EQ(restored.getAddress(), JString("pages.example"));
  EXPECT_EQ(restored.port.load(), 4080);
  EXPECT_EQ(restored.getUrl(), JString("/v.html"));

  // Missing keys: "port" reads as 0 (not 80); "address" and "url" keep what the module had; a
  // diagram from before "timeoutMs" waits 10 s like a new module, not for ever.
  JPageReaderObj fresh;
  fresh.timeoutMs = 7;
  JTestHarness::restore(fresh, JNode::map());
  EXPECT_EQ(fresh.port.load(), 0);
  EXPECT_EQ(fresh.timeoutMs.load(), 10000);
  EXPECT_EQ(fresh.getAddress(), JString("localhost"));
  EXPECT_EQ(fresh.getUrl(), JString("/"));

  m.values[3] = 77;
  m.reloadValue = 1;
  std::unique_ptr<JPageReaderObj> copy(static_cast<JPageReaderObj*>(m.clone()));
  EXPECT_EQ(copy->getAddress(), JString("pages.example"));
  EXPECT_EQ(copy->port.load(), 4080);
  EXPECT_EQ(copy->getUrl(), JString("/v.html"));
  EXPECT_EQ(copy->values[3].load(), 77);
  EXPECT_EQ(copy->reloadValue, 1);
  EXPECT_EQ(copy->timeoutMs.load(), 2500);
  EXPECT_EQ(copy->fetchState.load(), JPageReaderObj::kIdle);

  JPageReaderObj assigned;
  assigned = m;
  EXPECT_EQ(assigned.getAddress(), JString("pages.example"));
  EXPECT_EQ(assigned.values[3].load(), 77);
}

// The port's range holds for a diagram file too: a stored port outside 80..5000 is left out with
// a warning, as by property (a file's was taken as it stood before). A missing one is 0.
TEST(PageReaderShape, StoredPortOutsideItsRangeIsLeftOut) {
  for (int outside : {79, 5001, 65535}) {  // a stored 0 is what a missing key gives: taken as it is
    JPageReaderObj m;
    JNode stored = JNode::map();
    stored.set("port", JNode::integer(outside));
    stored.set("url", JNode::text("/v.html"));
    JDictionary dict(stored);
    m.readContent(dict);
    EXPECT_EQ(m.port.load(), JPageReaderObj::kDefaultPort) << outside;
    EXPECT_EQ(m.getUrl(), JString("/v.html")) << "the other keys are read";
    ASSERT_EQ(dict.warnings().size(), 1u) << outside;
    EXPECT_NE(dict.warnings()[0].find("is outside 80..5000"), std::string::npos) << dict.warnings()[0];
  }
  JPageReaderObj m;
  JNode stored = JNode::map();
  stored.set("port", JNode::integer(5000));
  JTestHarness::restore(m, stored);
  EXPECT_EQ(m.port.load(), 5000);
}

TEST(PageReaderShape, RequestIsValidHttp) {
  EXPECT_EQ(JPageReaderObj::requestFor("/page.html", "localhost", 4080),
            JString("GET /page.html HTTP/1.0\r\nHost: localhost:4080\r\n\r\n"));
}

TEST(PageReaderShape, FaceShowsTheServerAndTheFetchState) {
  JPageReaderObj m;
  m.rect = JRect(0, 0, 160, 120);
  // The square's place: inside the frame (3) and the margin (8).
  auto squareColour = [&] {
    JCanvas c = JTestHarness::render(m);
    return std::make_pair(c.pixel(11, 11), c.pixel(18, 18));
  };
  const JColor darkRed = JColor::red.darker();
  EXPECT_EQ(squareColour(), std::make_pair(darkRed, darkRed));
  m.fetchState = JPageReaderObj::kConnecting;
  EXPECT_EQ(squareColour(), std::make_pair(JColor::yellow, JColor::yellow));
  m.fetchState = JPageReaderObj::kReceiving;
  EXPECT_EQ(squareColour(), std::make_pair(JColor::red, JColor::red));
  {
    JCanvas c = JTestHarness::render(m);
    EXPECT_NE(c.pixel(19, 19), JColor::red);  // 8 x 8, no more
  }
  m.fetchState = JPageReaderObj::kIdle;

  // Too small for the square: the face alone.
  m.rect = JRect(0, 0, 30, 30);
  JCanvas small = JTestHarness::render(m);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 30; ++x) ASSERT_NE(small.pixel(x, y), darkRed) << x << "," << y;

  // The three lines: something is drawn in each third of the module.
  JCanvas face(120, 96, JColor::white);
  {
    JGraphics g(face);
    g.setJColor(JColor::black);
    m.draw(g, 0, 0, 120, 96);
  }
  auto inkBetween = [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y)
      for (int x = 0; x < 120; ++x)
        if (face.pixel(x, y) != JColor::white) return true;
    return false;
  };
  EXPECT_TRUE(inkBetween(8, 40));   // "WEB" at h/12
  EXPECT_TRUE(inkBetween(32, 64));  // "READ" at h/3
  EXPECT_TRUE(inkBetween(56, 88));  // "localhost:80" at 2h/3 - h/12
}

}  // namespace
