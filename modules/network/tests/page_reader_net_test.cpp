// JPageReaderObj against real HTTP servers on loopback: Python's http.server (the sample page of
// examples/pages, pages without the markers, the request it refuses) and scripted servers of the
// test's own for what well-behaved servers never do (cutting the response anywhere, stalling,
// never closing, resetting, sending without end, being down).
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "JPageReaderObj.h"
#include "page_reader_servers.h"
#include "testing/Harness.h"
#include "testing/Loopback.h"
#include "testing/TempFolder.h"

namespace {

using Values = std::vector<int>;
using Clock = std::chrono::steady_clock;
using Script = ScriptedServer::Script;

long long MsSince(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

// A response whose values lie in its first 100 bytes, followed by small letters only (a tag
// would add values: '<' and '>' count as digits).
std::string LaidOut() {
  std::string r = "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<html><body>\nvalues: aaFF0A1B2C\n";
  for (int i = 0; i < 6; ++i) r += "the rest is small letters and spaces only\n";
  return r;
}
const std::string kLaidOut = LaidOut();
const Values kLaidOutValues{10, 27, 44};

std::string Response(const std::string& body) { return "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n" + body; }

Script Whole(const std::string& bytes) { return {ScriptedServer::send(bytes)}; }

class PageReaderNet : public ::testing::Test {
protected:
  JTestHarness harness;
  JPageReaderObj& module = harness.place<JPageReaderObj>("page");

  void aim(const std::string& address, int port, const std::string& url = "/") {
    {
      JCriticalSection::Lock guard(module.texts.lock);
      module.texts.address = JString(address);
      module.texts.url = JString(url);
    }
    module.port = port;
  }
  void reload(int v) { harness.send(module, 0, v); }
  // Starts a fetch and waits until it has ended by itself; the values it published are then
  // delivered. False when it has not ended within ms.
  bool fetch(int ms = 10000) {
    reload(1);
    const bool ended = harness.runUntil([&] { return !module.fetching(); }, ms);
    harness.runPending();
    return ended;
  }
  // "reload" back to 0 after a fetch: ready for the next one.
  void ready() {
    reload(0);
    EXPECT_EQ(module.fetchState.load(), JPageReaderObj::kIdle);
  }
  bool waitState(int state, int ms = 5000) {
    return harness.runUntil([&] { return module.fetchState.load() == state; }, ms);
  }
  Outputs outputs() { return harness.outputsOf(module); }
  Values values() {
    Values v;
    for (int n = 0; n < JPageReaderObj::kValues; ++n) v.push_back(harness.readInt(module, n));
    return v;
  }
  static Outputs Broadcasts(const Values& v) {
    Outputs o;
    for (size_t i = 0; i < v.size(); ++i) o.emplace_back(static_cast<int>(i), v[i]);
    return o;
  }
  static Values Padded(Values v) {
    v.resize(JPageReaderObj::kValues, 0);
    return v;
  }
};

// --- Python's http.server ---

class PageReaderPython : public PageReaderNet {
protected:
  TempFolder folder{"page-reader"};
};

// A sample page: its values, then small letters only (no closing tags: '<' and '>' are digits).
const char* const kSamplePage =
    "<html>\n<head><title>sample page for the page reader</title></head>\n<body>\n<pre>\n"
    "aaFF1540C8 are the three values, each a pair of hex digits after two\n"
    "small a letters and a pair of capital f letters. every byte after them\n"
    "up to the end of the page is read, so only small letters and spaces\n"
    "follow the values here\n";

TEST_F(PageReaderPython, TheSamplePageGivesItsValuesAtTheEnd) {
  folder.write("page.html", kSamplePage);
  PythonHttpServer server(folder.path(), folder.file("server.log"));
  ASSERT_TRUE(server.running()) << server.failure();
  aim("127.0.0.1", server.port(), "/page.html");
  ASSERT_TRUE(fetch());
  EXPECT_TRUE(module.published.load());
  EXPECT_EQ(module.fetchState.load(), JPageReaderObj::kReceiving);  // received, until reload goes to 0
  EXPECT_EQ(outputs(), Broadcasts({21, 64, 200}));
  EXPECT_EQ(values(), Padded({21, 64, 200}));
  // The server understood the request and answered it with the page.
  EXPECT_TRUE(server.waitForLog("\"GET /page.html HTTP/1.0\" 200", 5000)) << server.log();

  // Again by name, after "reload" went back to 0.
  ready();
  harness.clear();
  aim("localhost", server.port(), "/page.html");
  ASSERT_TRUE(fetch());
  EXPECT_EQ(outputs(), Broadcasts({21, 64, 200}));
}

// The request of the original description, "GET url HTTP / 1.0" with bare line feeds, is not
// HTTP: this server answers it with an error page and no values can come of it.
TEST_F(PageReaderPython, TheOldRequestIsRefusedByARealServer) {
  PythonHttpServer server(LOOMWORK_SOURCE_DIR "/examples/pages", folder.file("server.log"));
  ASSERT_TRUE(server.running()) << server.failure();
  LoopbackClient client(server.port());
  ASSERT_TRUE(client.connected());
  client.send("GET /page.html HTTP / 1.0\n\n");
  const std::string answer = client.read(1 << 16, 5000);
  EXPECT_EQ(answer.find("aaFF"), std::string::npos);
  EXPECT_NE(answer.find("400"), std::string::npos) << answer;
  EXPECT_TRUE(server.waitForLog("\"GET /page.html HTTP / 1.0\" 400", 5000)) << server.log();
  PageDecoder d;
  d.reset();
  d.feed(reinterpret_cast<const uint8_t*>(answer.data()), static_cast<int>(answer.size()));
  d.finish();
  EXPECT_EQ(d.count(), 0);
}

TEST_F(PageReaderPython, PagesWithoutBodyAaOrFFPublishNothing) {
  folder.write("good.html",
               "<html><body>\nsmall letters first, then the values\naaFF0A1B2C   and small letters after them\n"
               "</body></html>\n");
  folder.write("nobody.html", "<html><head>aaFF0A1B2C</head></html>\n");
  folder.write("noaa.html", "<html><body>\na FF0A1B2C   and small letters after them\n</body></html>\n");
  folder.write("noff.html", "<html><body>\naa ff0A1B2C F F0A1B  and small letters after them\n</body></html>\n");
  PythonHttpServer server(folder.path(), folder.file("server.log"));
  ASSERT_TRUE(server.running()) << server.failure();

  aim("127.0.0.1", server.port(), "/good.html");
  ASSERT_TRUE(fetch());
  const Values before = values();
  ASSERT_NE(before, Padded({})) << "the good page gave nothing";
  for (const char* page : {"/nobody.html", "/noaa.html", "/noff.html", "/missing.html"}) {
    ready();
    harness.clear();
    aim("127.0.0.1", server.port(), page);
    ASSERT_TRUE(fetch()) << page;
    EXPECT_TRUE(module.published.load()) << page;
    EXPECT_EQ(outputs(), Outputs{}) << page;
    EXPECT_EQ(values(), before) << page;  // the outputs keep their numbers
  }
}

// --- scripted servers ---

TEST_F(PageReaderNet, TheRequestIsOneValidHttpRequest) {
  ScriptedServer server(Whole(kLaidOut));
  ASSERT_TRUE(server.listening());
  aim("127.0.0.1", server.port(), "/values.html");
  ASSERT_TRUE(fetch());
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0],
            "GET /values.html HTTP/1.0\r\nHost: 127.0.0.1:" + std::to_string(server.port()) + "\r\n\r\n");
}

// The values depend only on the page's bytes: whatever pieces the server sends them in.
TEST_F(PageReaderNet, TheSameValuesHoweverTheServerCutsTheResponse) {
  for (size_t piece : {kLaidOut.size(), size_t(1), size_t(7), size_t(49), size_t(50), size_t(51), size_t(120)}) {
    harness.clear();
    ScriptedServer server(ScriptedServer::inPieces(kLaidOut, piece));
    ASSERT_TRUE(server.listening());
    aim("127.0.0.1", server.port());
    ASSERT_TRUE(fetch()) << piece;
    EXPECT_EQ(outputs(), Broadcasts(kLaidOutValues)) << piece;
    EXPECT_EQ(values(), Padded(kLaidOutValues)) << piece;
    ready();
  }
}

TEST_F(PageReaderNet, ValuesArePublishedOnlyWhenTheResponseEnds) {
  // The values are all in the first 150 bytes; the server then waits before it ends.
  const std::string head = kLaidOut.substr(0, 200);
  ScriptedServer server(
      {ScriptedServer::send(head), ScriptedServer::hold(), ScriptedServer::send(kLaidOut.substr(200))});
  ASSERT_TRUE(server.listening());
  aim("127.0.0.1", server.port());
  reload(1);
  ASSERT_TRUE(waitState(JPageReaderObj::kReceiving));
  harness.runUntil([&] { return server.bytesSent() == static_cast<long long>(head.size()); }, 2000);
  harness.runFor(200);
  EXPECT_EQ(outputs(), Outputs{});
  EXPECT_EQ(values(), Padded({}));
  EXPECT_FALSE(module.published.load());
  EXPECT_TRUE(module.fetching());

  server.release();
  ASSERT_TRUE(harness.runUntil([&] { return !module.fetching(); }, 5000));
  harness.runPending();
  EXPECT_TRUE(module.published.load());
  EXPECT_EQ(outputs(), Broadcasts(kLaidOutValues));  // each output once, in order
  EXPECT_EQ(module.fetchState.load(), JPageReaderObj::kReceiving);
  EXPECT_TRUE(server.waitClientGone(2000));  // the module closed its end
}

TEST_F(PageReaderNet, AServerThatNeverClosesIsLeftAtOnceOnClose) {
  ScriptedServer server({ScriptedServer::send(kLaidOut), ScriptedServer::hold()});
  ASSERT_TRUE(server.listening());
  aim("127.0.0.1", server.port());
  reload(1);
  ASSERT_TRUE(waitState(JPageReaderObj::kReceiving));
  harness.runUntil([&] { return server.bytesSent() == static_cast<long long>(kLaidOut.size()); }, 2000);
  harness.runFor(100);
  // "reload" back to 0 before the values are out does not stop the fetch.
  reload(0);
  harness.runFor(50);
  EXPECT_TRUE(module.fetching());
  EXPECT_EQ(module.fetchState.load(), JPageReaderObj::kReceiving);

  const auto t0 = Clock::now();
  module.close();
  const long long took = MsSince(t0);
  EXPECT_LT(took, 100) << "close took " << took << " ms";
  EXPECT_FALSE(module.fetching());
  EXPECT_EQ(module.fetchState.load(), JPageReaderObj::kIdle);
  harness.runFor(50);
  EXPECT_EQ(outputs(), Outputs{});  // a fetch stopped by close publishes nothing
  EXPECT_FALSE(module.published.load());
  EXPECT_TRUE(server.waitClientGone(2000));
}

TEST_F(PageReaderNet, AServerDownIsRetriedUntilItComesUpOrTheFetchIsClosed) {
  const int port = unusedLoopbackPort();
  aim("127.0.0.1", port);
  reload(1);
  ASSERT_TRUE(waitState(JPageReaderObj::kConnecting));
  harness.runFor(350);
  EXPECT_EQ(module.fetchState.load(), JPageReaderObj::kConnecting);
  EXPECT_TRUE(module.fetching());
  {
    // The server comes up: the next attempt, within 100 ms or so, finds it.
    ScriptedServer server(Whole(kLaidOut), port);
    ASSERT_TRUE(server.listening());
    ASSERT_TRUE(harness.runUntil([&] { return !module.fetching(); }, 5000));
    harness.runPending();
    EXPECT_EQ(server.connections(), 1);
    EXPECT_EQ(outputs(), Broadcasts(kLaidOutValues));
  }
  ready();

  // Down again: close ends the retries at once.
  harness.clear();
  reload(1);
  ASSERT_TRUE(waitState(JPageReaderObj::kConnecting));
  harness.runFor(250);
  const auto t0 = Clock::now();
  module.close();
  const long long took = MsSince(t0);
  EXPECT_LT(took, 100) << "close took " << took << " ms";
  EXPECT_FALSE(module.fetching());
  EXPECT_EQ(module.fetchState.load(), JPageReaderObj::kIdle);
  EXPECT_EQ(outputs(), Outputs{});
}

// A text without a letter is a numeric address and is never looked up by name; one with a
// letter is a name, even where it looks like a number to the resolver.
TEST_F(PageReaderNet, ANameVersusANumericAddress) {
  ScriptedServer server(Whole(kLaidOut));
  ASSERT_TRUE(server.listening());
  const std::string port = std::to_string(server.port());

  aim("localhost", server.port());
  ASSERT_TRUE(fetch());
  EXPECT_EQ(outputs(), Broadcasts(kLaidOutValues));
  EXPECT_EQ(module.getAddress(), JString("localhost"));  // a name stays the name
  ready();

  aim("127.0.0.1", server.port());
  ASSERT_TRUE(fetch());
  EXPECT_EQ(module.getAddress(), JString("127.0.0.1"));
  ready();

  // 2130706433 is 127.0.0.1 to a name lookup, but it has no letter: not a dotted numeric
  // address, so the fetch ends idle at once without connecting.
  aim("2130706433", server.port());
  harness.clear();
  ASSERT_TRUE(fetch());
  EXPECT_EQ(module.fetchState.load(), JPageReaderObj::kIdle);
  EXPECT_FALSE(module.published.load());
  EXPECT_EQ(outputs(), Outputs{});
  EXPECT_EQ(module.getAddress(), JString("2130706433"));

  // "0x7f.0.0.1" has letters: it goes to the name lookup, which takes it for 127.0.0.1.
  aim("0x7f.0.0.1", server.port());
  ASSERT_TRUE(fetch());
  EXPECT_EQ(outputs(), Broadcasts(kLaidOutValues));
  EXPECT_EQ(module.getAddress(), JString("0x7f.0.0.1"));
  ready();

  ASSERT_EQ(server.requests().size(), 3u);
  EXPECT_NE(server.requests()[0].find("Host: localhost:" + port + "\r\n"), std::string::npos);
  EXPECT_NE(server.requests()[1].find("Host: 127.0.0.1:" + port + "\r\n"), std::string::npos);
  EXPECT_NE(server.requests()[2].find("Host: 0x7f.0.0.1:" + port + "\r\n"), std::string::npos);
}

TEST_F(PageReaderNet, ReloadWhileAFetchRunsDoesNothing) {
  ScriptedServer server({ScriptedServer::send(kLaidOut.substr(0, 120)), ScriptedServer::hold(),
                         ScriptedServer::send(kLaidOut.substr(120))});
  ASSERT_TRUE(server.listening());
  aim("127.0.0.1", server.port());
  reload(1);
  ASSERT_TRUE(waitState(JPageReaderObj::kReceiving));
  for (int v : {65535, 0, 1, 0, 7}) {
    reload(v);
    harness.runFor(30);
    EXPECT_TRUE(module.fetching()) << v;
    EXPECT_EQ(module.fetchState.load(), JPageReaderObj::kReceiving) << v;
  }
  EXPECT_EQ(server.connections(), 1);
  server.release();
  ASSERT_TRUE(harness.runUntil([&] { return !module.fetching(); }, 5000));
  harness.runPending();
  EXPECT_EQ(outputs(), Broadcasts(kLaidOutValues));
  EXPECT_EQ(server.connections(), 1);

  // "reload" up after the values came: still nothing until it returns to 0.
  reload(9);
  harness.runFor(50);
  EXPECT_EQ(server.connections(), 1);
  ready();
  reload(1);
  EXPECT_TRUE(server.waitConnections(2, 5000));
  module.close();
}

TEST_F(PageReaderNet, AStallingOrResettingServerNeverHoldsTheHost) {
  {
    // Half a response, then nothing: close wakes the read.
    ScriptedServer server({ScriptedServer::send(kLaidOut.substr(0, 75)), ScriptedServer::hold()});
    aim("127.0.0.1", server.port());
    reload(1);
    ASSERT_TRUE(waitState(JPageReaderObj::kReceiving));
    harness.runFor(100);
    const auto t0 = Clock::now();
    module.close();
    EXPECT_LT(MsSince(t0), 100);
    EXPECT_FALSE(module.fetching());
    EXPECT_TRUE(server.waitClientGone(2000));
    EXPECT_EQ(outputs(), Outputs{});
  }
  {
    // A reset mid-response ends it like a close by the server: what was decoded is published.
    ScriptedServer server(
        {ScriptedServer::send(kLaidOut.substr(0, 120)), ScriptedServer::pause(200), ScriptedServer::reset()});
    aim("127.0.0.1", server.port());
    ASSERT_TRUE(fetch());
    EXPECT_TRUE(module.published.load());
    EXPECT_EQ(outputs(), Broadcasts(kLaidOutValues));
    ready();
  }
  {
    // Reset before a byte of the response.
    harness.clear();
    ScriptedServer server({ScriptedServer::reset()});
    aim("127.0.0.1", server.port());
    ASSERT_TRUE(fetch());
    EXPECT_EQ(outputs(), Outputs{});
    ready();
  }
}

TEST_F(PageReaderNet, AHugePageIsReadInBoundedMemoryAndAnEndlessOneUntilClose) {
  {
    // 16 MiB after the values: read through in 50-byte chunks, then published.
    ScriptedServer server({ScriptedServer::send(Response("<body>aaFF0A1B  ")),
                           ScriptedServer::sendForever(std::string(64 * 1024, '.'), 16LL << 20)});
    aim("127.0.0.1", server.port());
    ASSERT_TRUE(fetch(60000));
    EXPECT_GE(server.bytesSent(), 16LL << 20);
    EXPECT_EQ(outputs(), Broadcasts({10, 27}));
    ready();
  }
  {
    // A page without end: read until close, which stops it at once.
    harness.clear();
    ScriptedServer server({ScriptedServer::send(Response("<body>aaFF0A1B  ")),
                           ScriptedServer::sendForever(std::string(64 * 1024, 'x'), 1LL << 40)});
    aim("127.0.0.1", server.port());
    reload(1);
    ASSERT_TRUE(harness.runUntil([&] { return server.bytesSent() > (4LL << 20); }, 20000));
    EXPECT_TRUE(module.fetching());
    const auto t0 = Clock::now();
    module.close();
    EXPECT_LT(MsSince(t0), 100);
    EXPECT_FALSE(module.fetching());
    EXPECT_TRUE(server.waitClientGone(5000));
    EXPECT_EQ(outputs(), Outputs{});
  }
}

// A property edit restarts a running fetch at the new place when "reload" is up.
TEST_F(PageReaderNet, AnEditDuringAFetchGoesToTheNewPlace) {
  ScriptedServer stalled({ScriptedServer::hold()});
  ScriptedServer good(Whole(kLaidOut));
  aim("127.0.0.1", stalled.port());
  reload(1);
  ASSERT_TRUE(stalled.waitRequests(1, 5000));
  JStringProperty path("url", JString("/other.html"));
  module.port = good.port();  // (outside the property's range)
  ASSERT_TRUE(module.updateProperty(path));
  EXPECT_TRUE(stalled.waitClientGone(2000));
  ASSERT_TRUE(harness.runUntil([&] { return !module.fetching(); }, 5000));
  harness.runPending();
  EXPECT_EQ(outputs(), Broadcasts(kLaidOutValues));
  ASSERT_EQ(good.requests().size(), 1u);
  EXPECT_EQ(good.requests()[0].rfind("GET /other.html HTTP/1.0\r\n", 0), 0u);
}

// A new address by property during a fetch: the fetch starts over there, and resolving keeps the
// edited address (the edit stores it before it stops the fetch).
TEST_F(PageReaderNet, AnAddressEditDuringAFetchGoesToTheNewAddress) {
  ScriptedServer stalled({ScriptedServer::hold()});
  ScriptedServer good(Whole(kLaidOut));
  aim("localhost", stalled.port());
  reload(1);
  ASSERT_TRUE(stalled.waitRequests(1, 5000));
  JStringProperty address("hostName/IPaddress", JString("127.0.0.1"));
  module.port = good.port();  // (outside the property's range)
  ASSERT_TRUE(module.updateProperty(address));
  EXPECT_TRUE(stalled.waitClientGone(2000));
  ASSERT_TRUE(harness.runUntil([&] { return !module.fetching(); }, 5000));
  harness.runPending();
  EXPECT_EQ(outputs(), Broadcasts(kLaidOutValues));
  EXPECT_EQ(good.requests().size(), 1u);
  EXPECT_EQ(module.getAddress(), JString("127.0.0.1"));
}

// Copies taken while the fetch runs get the settings and no fetch (under ThreadSanitizer:
// without touching the connection the fetch is installing).
TEST_F(PageReaderNet, CopiesTakenWhileFetching) {
  ScriptedServer server(ScriptedServer::inPieces(kLaidOut, 20, 3));
  aim("127.0.0.1", server.port());
  for (int round = 0; round < 4; ++round) {
    reload(1);
    while (module.fetching()) {
      std::unique_ptr<JPageReaderObj> copy(static_cast<JPageReaderObj*>(module.clone()));
      EXPECT_FALSE(copy->fetching());
      EXPECT_EQ(copy->fetchState.load(), JPageReaderObj::kIdle);
      EXPECT_EQ(copy->port.load(), server.port());
      JCanvas face = JTestHarness::render(module);  // the face reads the address as it changes
      harness.runFor(2);
    }
    harness.runPending();
    ready();
  }
  EXPECT_EQ(server.connections(), 4);
}

// The destructor stops the fetch by itself, wherever it is.
TEST(PageReaderLifetime, DeletingAModuleStopsItsFetch) {
  ScriptedServer server({ScriptedServer::send("HTTP/1.0 200 OK\r\n\r\n<body>"), ScriptedServer::hold()});
  const int down = unusedLoopbackPort();
  for (int port : {server.port(), down}) {
    auto m = std::make_unique<JPageReaderObj>();
    {
      JCriticalSection::Lock guard(m->texts.lock);
      m->texts.address = JString("127.0.0.1");
    }
    m->port = port;
    m->open();
    const int want = port == down ? JPageReaderObj::kConnecting : JPageReaderObj::kReceiving;
    for (int i = 0; i < 1000 && m->fetchState.load() != want; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(m->fetchState.load(), want);
    const auto t0 = Clock::now();
    m.reset();
    EXPECT_LT(MsSince(t0), 100);
  }
  EXPECT_TRUE(server.waitClientGone(2000));
}

// --- where the response ends, what failed, where it goes ---

// An HTML page with its tags: '<' and '>' count as digits 12 and 14, so each closing tag after
// the values adds to them. After "aa": FF0A1BFF</p>\n</body></html>\n. The first run reads
// 0A 1B FF, then the tags' < > three times: 10, 27, 255, 206, 206, 206. The run of the second FF
// reads < > < > and stops once eight values are in: 206, 206.
const std::string kTaggedBody = "<html><body>\n<p>values aaFF0A1BFF</p>\n</body></html>\n";
const Values kTaggedValues{10, 27, 255, 206, 206, 206, 206, 206};

// A head whose part before the body is n bytes longer than the shortest ("HTTP/1.0 200 OK\r\n\r\n"):
// a header line of n bytes, or for n < 5 (too short for one) a longer reason phrase.
std::string HeadOfLength(int n, bool withLength, size_t bodySize) {
  std::string head = "HTTP/1.0 200 OK";
  if (n < 5) head += std::string(static_cast<size_t>(n), '!');
  head += "\r\n";
  if (n >= 5) head += "X:" + std::string(static_cast<size_t>(n - 4), 'p') + "\r\n";
  if (withLength) head += "Content-Length: " + std::to_string(bodySize) + "\r\n";
  return head + "\r\n";
}

class PageReaderHeads : public PageReaderNet {
protected:
  // Fetches the tagged page behind heads of lengths first..last: whole, or (every tenth length)
  // in pieces of 7 bytes that land on every part of it; with a Content-Length at even lengths.
  void fetchEachLength(int first, int last) {
    for (int n = first; n <= last; ++n) {
      harness.clear();
      const std::string response = HeadOfLength(n, n % 2 == 0, kTaggedBody.size()) + kTaggedBody;
      ScriptedServer server(n % 10 == 0 ? ScriptedServer::inPieces(response, 7, 1) : Whole(response));
      ASSERT_TRUE(server.listening());
      aim("127.0.0.1", server.port());
      ASSERT_TRUE(fetch()) << n;
      ASSERT_EQ(outputs(), Broadcasts(kTaggedValues)) << "header length " << n;
      EXPECT_TRUE(harness.debugLines().empty());
      ready();
    }
  }
};

TEST_F(PageReaderHeads, NoHeadAndHeadersUpTo60Bytes) {
  // No head at all (a server of the oldest kind sends the page alone).
  ScriptedServer server(Whole(kTaggedBody));
  aim("127.0.0.1", server.port());
  ASSERT_TRUE(fetch());
  EXPECT_EQ(outputs(), Broadcasts(kTaggedValues));
  ready();
  fetchEachLength(0, 60);
}

TEST_F(PageReaderHeads, HeadersOf61To120Bytes) { fetchEachLength(61, 120); }

// One line for each failure the user needs to see, once (the host writes the module's id, here
// "page", before each line: the example diagram's reader is called "page" too).
TEST_F(PageReaderNet, EachFailureSaysWhatWentWrong) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot here\n", "page: HTTP 404 Not Found"},
      {"HTTP/1.0 500 Internal Server Error\r\n\r\n<body>aaFF01", "page: HTTP 500 Internal Server Error"},
      {"HTTP/1.1 301 Moved Permanently\r\nLocation: http://127.0.0.1/moved.html\r\nContent-Length: 0\r\n\r\n",
       "page: redirected to http://127.0.0.1/moved.html (not followed)"},
  };
  for (const auto& c : cases) {
    harness.clear();
    ScriptedServer server(Whole(c.first));
    aim("127.0.0.1", server.port());
    ASSERT_TRUE(fetch());
    EXPECT_EQ(harness.debugLines(), std::vector<std::string>{c.second});
    EXPECT_TRUE(module.published.load());  // an ended fetch: the next reload starts afresh
    ready();
  }
  // The error page is decoded like any response: its values are the page's.
  harness.clear();
  {
    ScriptedServer server(Whole("HTTP/1.0 500 Internal Server Error\r\n\r\n<body>aaFF01"));
    aim("127.0.0.1", server.port());
    ASSERT_TRUE(fetch());
    EXPECT_EQ(outputs(), Broadcasts({1}));
    ready();
  }
  harness.clear();
  aim("no-such-host.invalid", 4080);
  ASSERT_TRUE(fetch());
  EXPECT_EQ(harness.debugLines(), std::vector<std::string>{"page: cannot resolve no-such-host.invalid"});
  EXPECT_EQ(module.fetchState.load(), JPageReaderObj::kIdle);
}

// A server that takes the request and never answers: the fetch ends after "timeout ms" with one
// line, as a fetch that received nothing; reload 0 and then 1 starts a fresh one.
TEST_F(PageReaderNet, AServerThatNeverAnswersIsEndedByTheTimeout) {
  ScriptedServer server({ScriptedServer::hold()});
  aim("127.0.0.1", server.port());
  module.timeoutMs = 300;
  ASSERT_TRUE(fetch(5000));
  EXPECT_EQ(harness.debugLines(), std::vector<std::string>{"page: no answer in 0.3 s"});
  EXPECT_TRUE(module.published.load());
  EXPECT_EQ(outputs(), Outputs{});
  EXPECT_EQ(module.fetchState.load(), JPageReaderObj::kReceiving);
  EXPECT_TRUE(server.waitClientGone(2000));

  // A 0 and then a nonzero value: a fresh fetch, ended the same way.
  ready();
  harness.clear();
  ASSERT_TRUE(fetch(5000));
  EXPECT_TRUE(server.waitConnections(2, 2000));
  EXPECT_EQ(harness.debugLines(), std::vector<std::string>{"page: no answer in 0.3 s"});

  // Without a limit it waits until closed.
  ready();
  harness.clear();
  module.timeoutMs = 0;
  reload(1);
  ASSERT_TRUE(server.waitConnections(3, 2000));
  harness.runFor(500);
  EXPECT_TRUE(module.fetching());
  // The timed-out fetch before it had published; this one has not: a 0 does not stop it.
  reload(0);
  harness.runFor(50);
  EXPECT_TRUE(module.fetching());
  module.close();
  EXPECT_FALSE(module.fetching());
  EXPECT_TRUE(harness.debugLines().empty());
}

// A complete response with its Content-Length, the connection kept open: it ends at the body's
// end, with no timeout at all; bytes after the body are not the page's.
TEST_F(PageReaderNet, AKeptOpenConnectionEndsWithItsContentLength) {
  const std::string body = "<body>aaFF0A1B2C small letters only";
  ScriptedServer server({ScriptedServer::send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                                              "\r\nConnection: keep-alive\r\n\r\n" + body + "FF33"),
                         ScriptedServer::hold()});
  aim("127.0.0.1", server.port());
  module.timeoutMs = 0;
  ASSERT_TRUE(fetch(5000));
  EXPECT_EQ(outputs(), Broadcasts({10, 27, 44}));
  EXPECT_TRUE(harness.debugLines().empty());
  EXPECT_TRUE(server.waitClientGone(2000));  // the module left the kept connection
  ready();

  // Half of a body, then silence: what came is published after the timeout.
  harness.clear();
  ScriptedServer stalling(
      {ScriptedServer::send("HTTP/1.1 200 OK\r\nContent-Length: 500\r\n\r\n" + body), ScriptedServer::hold()});
  aim("127.0.0.1", stalling.port());
  module.timeoutMs = 250;
  ASSERT_TRUE(fetch(5000));
  EXPECT_EQ(outputs(), Broadcasts({10, 27, 44}));
  EXPECT_EQ(harness.debugLines(), std::vector<std::string>{"page: no answer in 0.25 s"});
}

// The whole response is what is decoded, as raw bytes: a chunked body's size lines are bytes of
// it like any other (our HTTP/1.0 request keeps servers from chunking; one that does anyway is
// read to its close or the timeout). Here the size line "2" between 0A and 1B is a digit.
TEST_F(PageReaderNet, AChunkedResponseIsDecodedAsTheBytesItIs) {
  ScriptedServer server(
      Whole("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
            "c\r\n<body>aaFF0A\r\n2\r\n1B\r\n0\r\n\r\n"));
  aim("127.0.0.1", server.port());
  ASSERT_TRUE(fetch());
  EXPECT_EQ(outputs(), Broadcasts({0x0A, 0x21, 0xB0}));
  EXPECT_TRUE(harness.debugLines().empty());
}

// A connection attempt that gets no answer ends like a read that gets none; close() does not
// wait for an attempt under way.
TEST_F(PageReaderNet, AConnectionAttemptWithoutAnswerTimesOut) {
  UnansweredPort silent;
  ASSERT_TRUE(silent.ready());
  aim("127.0.0.1", silent.port());
  module.timeoutMs = 300;
  ASSERT_TRUE(fetch(5000));
  EXPECT_EQ(harness.debugLines(), std::vector<std::string>{"page: no answer in 0.3 s"});
  EXPECT_TRUE(module.published.load());
  ready();

  harness.clear();
  module.timeoutMs = 0;
  reload(1);
  ASSERT_TRUE(waitState(JPageReaderObj::kConnecting));
  harness.runFor(200);
  EXPECT_TRUE(module.fetching());
  const auto t0 = Clock::now();
  module.close();
  EXPECT_LT(MsSince(t0), 1000);
  EXPECT_FALSE(module.fetching());
}

// A server that is down: one line when it cannot be reached, however often the module tries,
// and one when it can again.
TEST_F(PageReaderNet, OneLineWhenTheServerGoesAndOneWhenItComesBack) {
  const int port = unusedLoopbackPort();
  aim("127.0.0.1", port);
  reload(1);
  ASSERT_TRUE(waitState(JPageReaderObj::kConnecting));
  harness.runFor(450);  // several attempts
  const std::string where = "127.0.0.1:" + std::to_string(port);
  const std::string down = "page: cannot connect to " + where + "; trying again";
  EXPECT_EQ(harness.debugLines(), std::vector<std::string>{down});
  {
    ScriptedServer server(Whole(kLaidOut), port);
    ASSERT_TRUE(server.listening());
    ASSERT_TRUE(harness.runUntil([&] { return !module.fetching(); }, 5000));
    harness.runPending();
    EXPECT_EQ(outputs(), Broadcasts(kLaidOutValues));
    EXPECT_EQ(harness.debugLines(), (std::vector<std::string>{down, "page: connected to " + where + " again"}));
    // Up all along: nothing more to say.
    ready();
    harness.clear();
    ASSERT_TRUE(fetch());
    EXPECT_TRUE(harness.debugLines().empty());
  }
  ready();
}

// IPv6 literals, bare and in brackets; the Host header carries the brackets.
TEST_F(PageReaderNet, IPv6LiteralAddresses) {
  ScriptedServer server(Whole(kLaidOut), 0, true);
  if (!server.listening()) GTEST_SKIP() << "no IPv6 loopback here";
  for (const char* address : {"::1", "[::1]"}) {
    harness.clear();
    aim(address, server.port());
    ASSERT_TRUE(fetch()) << address;
    EXPECT_EQ(outputs(), Broadcasts(kLaidOutValues)) << address;
    EXPECT_TRUE(harness.debugLines().empty()) << address;
    EXPECT_EQ(module.getAddress(), JString(address));
    ready();
  }
  ASSERT_EQ(server.requests().size(), 2u);
  for (const auto& r : server.requests())
    EXPECT_NE(r.find("Host: [::1]:" + std::to_string(server.port()) + "\r\n"), std::string::npos) << r;
}

// --- Debian's web servers ---

// The same pages through each of Debian's web servers (those installed) and Python's: the same
// values from every one, the missing page's line, and a redirect named.
class PageReaderDebianServer : public PageReaderNet, public ::testing::WithParamInterface<std::string> {
protected:
  TempFolder folder{"page-servers"};
  void SetUp() override {
    std::filesystem::create_directories(folder.file("www/dir"));
    folder.write("www/page.html", kSamplePage);
    folder.write("www/tagged.html", kTaggedBody);
    folder.write("www/dir/index.html", kTaggedBody);
  }
  void expectPage(int port, const std::string& url, const Values& want) {
    harness.clear();
    aim("127.0.0.1", port, url);
    ASSERT_TRUE(fetch()) << url;
    EXPECT_EQ(outputs(), Broadcasts(want)) << url;
    EXPECT_TRUE(harness.debugLines().empty()) << url << ": " << ::testing::PrintToString(harness.debugLines());
    ready();
  }
  void expectFailures(int port, bool redirects) {
    harness.clear();
    aim("127.0.0.1", port, "/missing.html");
    ASSERT_TRUE(fetch());
    ASSERT_EQ(harness.debugLines().size(), 1u);
    EXPECT_EQ(harness.debugLines()[0].rfind("page: HTTP 404", 0), 0u) << harness.debugLines()[0];
    ready();
    if (!redirects) return;
    harness.clear();
    aim("127.0.0.1", port, "/dir");
    ASSERT_TRUE(fetch());
    ASSERT_EQ(harness.debugLines().size(), 1u);
    const std::string line = harness.debugLines()[0];
    EXPECT_EQ(line.rfind("page: redirected to ", 0), 0u) << line;
    EXPECT_NE(line.find("/dir/ (not followed)"), std::string::npos) << line;
    ready();
  }
};

TEST_P(PageReaderDebianServer, ServesTheSameValues) {
  const std::string name = GetParam();
  std::unique_ptr<PythonHttpServer> python;
  std::unique_ptr<DebianWebServer> debian;
  int port = -1;
  if (name == "python3") {
    python = std::make_unique<PythonHttpServer>(folder.file("www"), folder.file("python.log"));
    if (!python->running()) GTEST_SKIP() << python->failure();
    port = python->port();
  } else {
    if (DebianWebServer::binaryOf(name).empty()) GTEST_SKIP() << name << " is not installed (apt-get install it)";
    debian = std::make_unique<DebianWebServer>(name, folder.file("www"), folder.path());
    ASSERT_TRUE(debian->running()) << debian->failure();
    port = debian->port();
  }
  expectPage(port, "/page.html", {21, 64, 200});
  expectPage(port, "/tagged.html", kTaggedValues);
  // busybox and webfsd answer a folder without its slash by serving it: no redirect to name.
  expectFailures(port, name != "busybox" && name != "webfsd");
}

INSTANTIATE_TEST_SUITE_P(Servers, PageReaderDebianServer,
                         ::testing::Values("lighttpd", "nginx", "busybox", "mini_httpd", "webfsd", "python3"),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

// The example's own page: its values first, whatever follows them.
TEST_F(PageReaderPython, TheExamplePageStartsWithItsValues) {
  PythonHttpServer server(LOOMWORK_SOURCE_DIR "/examples/pages", folder.file("server.log"));
  ASSERT_TRUE(server.running()) << server.failure();
  aim("127.0.0.1", server.port(), "/page.html");
  ASSERT_TRUE(fetch());
  const Outputs out = outputs();
  ASSERT_GE(out.size(), 3u);
  EXPECT_EQ(Outputs(out.begin(), out.begin() + 3), Broadcasts({21, 64, 200}));
}

// --- what the fetch asks of the host's sockets ---

TEST(PageReaderSockets, NumericAddressesOfBothFamilies) {
  EXPECT_FALSE(JInetAddress::getNumericAddress("127.0.0.1").isIPv6());
  EXPECT_EQ(JInetAddress::getNumericAddress("127.0.0.1").getAddressJString(), JString("127.0.0.1"));
  for (const char* six : {"::1", "[::1]", "0:0:0:0:0:0:0:1"}) {
    const JInetAddress a = JInetAddress::getNumericAddress(six);
    EXPECT_TRUE(a.isIPv6()) << six;
    EXPECT_EQ(a.getAddressJString(), JString("::1")) << six;
    EXPECT_EQ(a.networkOrder(), 0u) << six;
  }
  EXPECT_NE(JInetAddress::getNumericAddress("::1"), JInetAddress::getNumericAddress("::2"));
  for (const char* bad : {"", "2130706433", "::g", "[::1", "1.2.3", "localhost", "[127.0.0.1]x"})
    EXPECT_THROW(JInetAddress::getNumericAddress(bad), JSocketException) << bad;
  // A name: its IPv4 address first, as the IPv4-only lookup gave it.
  EXPECT_EQ(JInetAddress::getAnyByName("localhost"), JInetAddress("localhost"));
  EXPECT_TRUE(JInetAddress::getAnyByName("::1").isIPv6());
  EXPECT_THROW(JInetAddress::getAnyByName("no-such-host.invalid"), JSocketException);
}

TEST(PageReaderSockets, HowAConnectionAttemptEnds) {
  const JInetAddress loopback = JInetAddress::getAddrByJString("127.0.0.1");
  {
    JSocket refused(loopback, unusedLoopbackPort(), true);
    EXPECT_EQ(refused.connectFor(1000), JSocket::kRefused);
  }
  UnansweredPort silent;
  ASSERT_TRUE(silent.ready());
  {
    JSocket s(loopback, silent.port(), true);
    const auto t0 = Clock::now();
    EXPECT_EQ(s.connectFor(200), JSocket::kNoAnswer);
    EXPECT_GE(MsSince(t0), 190);
  }
  {
    // No limit of its own, called off by the one who asked.
    JSocket s(loopback, silent.port(), true);
    const auto until = Clock::now() + std::chrono::milliseconds(150);
    EXPECT_EQ(s.connectFor(0, [&] { return Clock::now() < until; }), JSocket::kGivenUp);
    EXPECT_FALSE(s.isConnected());
  }
  ScriptedServer six({ScriptedServer::send("hello")}, 0, true);
  if (six.listening()) {
    JSocket s(JInetAddress::getNumericAddress("::1"), six.port(), true);
    ASSERT_EQ(s.connectFor(1000), JSocket::kConnected);
    JSocketOutputStream out(s);
    out.write(JString("\n\n"));
    JSocketInputStream in(s);
    EXPECT_EQ(in.readLine(), JString("hello"));
    EXPECT_GT(s.getLocalPort(), 0);
  }
}

TEST(PageReaderSockets, WaitingForInput) {
  ScriptedServer server({ScriptedServer::pause(300), ScriptedServer::send("late"), ScriptedServer::hold()});
  JSocket s(JInetAddress::getAddrByJString("127.0.0.1"), server.port(), true);
  ASSERT_TRUE(s.connect());
  JSocketOutputStream out(s);
  out.write(JString("GET / HTTP/1.0\r\n\r\n"));
  JSocketInputStream in(s);
  EXPECT_FALSE(in.waitForInput(50));  // nothing yet
  EXPECT_TRUE(in.waitForInput(5000));
  EXPECT_EQ(in.read(), 'l');
  EXPECT_TRUE(in.waitForInput(0));  // buffered
  EXPECT_EQ(in.readFully(3).size(), 3);
  // A close from another thread ends a wait without limit.
  std::thread closer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    s.close();
  });
  EXPECT_THROW(in.waitForInput(-1), JIOException);
  closer.join();
}

}  // namespace
