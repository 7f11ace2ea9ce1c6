// loomwork run --serve, spoken to over HTTP as the browser's page does: the real program on an
// ephemeral loopback port, every route, the event stream, every edit and its refusal, and the
// token and origin rules.
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "testing/Process.h"
#include "testing/TempFolder.h"

namespace fs = std::filesystem;
using Json = nlohmann::json;

namespace {

const char* kDiagram = R"({ "loomwork": 1,
  "modules": [
    { "id": "player", "class": "Player", "rect": [20, 20, 100, 80],
      "content": { "file": "values.csv", "outputs": "isb" } },
    { "id": "clock", "class": "Timer", "rect": [20, 130, 100, 60], "content": { "periodMs": 50 } },
    { "id": "monitor", "class": "Monitor", "rect": [200, 20, 160, 170], "content": { "inputs": 4 } } ],
  "links": [
    { "from": "player:0", "to": "monitor:0" }, { "from": "player:1", "to": "monitor:1" },
    { "from": "player:2", "to": "monitor:2" }, { "from": "clock:0", "to": "monitor:3" } ] })";

const char* kValues = "0,0,100\n40,1,\"hello\"\n80,2,0x0102ff\n";

struct Event {
  std::string name, data;
};

// A served run of a diagram in a folder of its own, ended by SIGINT at the end of the test.
class Served {
public:
  explicit Served(const std::string& diagram = kDiagram, const std::string& values = kValues,
                  const std::string& address = "127.0.0.1:0", std::vector<std::string> more = {}) {
    fs::create_directories(dir.file("no-modules"));
    dir.write("values.csv", values);
    path = dir.write("d.lwd", diagram);
    std::vector<std::string> args{"run", path, "--modules", dir.file("no-modules"), "--serve", address};
    args.insert(args.end(), more.begin(), more.end());
    p = std::make_unique<RunningProcess>(LOOMWORK_BIN, args);
    // "serving http://HOST:PORT/" and "?token=T" after it when one is needed.
    auto line = [](const std::string& err) {
      const size_t at = err.find("serving http://");
      const size_t end = at == std::string::npos ? at : err.find('\n', at);
      return end == std::string::npos ? std::string() : err.substr(at, end - at);
    };
    p->readUntil([&](const ProcessResult& r) { return !line(r.err).empty(); }, 10000);
    const std::string serving = line(p->soFar().err);
    const size_t slash = serving.find('/', 15), colon = serving.rfind(':', slash);
    if (slash != std::string::npos && colon != std::string::npos) {
      port = std::atoi(serving.substr(colon + 1, slash - colon - 1).c_str());
      const size_t t = serving.find("?token=");
      if (t != std::string::npos) token = serving.substr(t + 7);
    }
  }
  ~Served() {
    if (p->started()) p->signal(SIGINT);
  }

  httplib::Client client() const {
    httplib::Client c("127.0.0.1", port);
    c.set_read_timeout(10, 0);
    c.set_connection_timeout(5, 0);
    return c;
  }
  httplib::Result get(const std::string& path) const { return client().Get(path.c_str()); }
  httplib::Result post(const std::string& path, const std::string& body) const {
    return client().Post(path.c_str(), body, "application/json");
  }
  httplib::Result del(const std::string& path, const std::string& body = "") const {
    return client().Delete(path.c_str(), body, "application/json");
  }
  Json diagram() const {
    auto r = get("/api/diagram");
    return r && r->status == 200 ? Json::parse(r->body) : Json();
  }
  // The event stream until `done` says so or ms pass.
  std::vector<Event> events(const std::function<bool(const std::vector<Event>&)>& done, int ms,
                            const std::string& query = "") const {
    std::vector<Event> got;
    std::string pending;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    httplib::Client c = client();
    c.set_read_timeout(ms / 1000 + 1, 0);
    c.Get(("/api/events" + query).c_str(), [&](const char* data, size_t size) {
      pending.append(data, size);
      size_t end;
      while ((end = pending.find("\n\n")) != std::string::npos) {
        Event e;
        std::istringstream block(pending.substr(0, end));
        pending.erase(0, end + 2);
        for (std::string line; std::getline(block, line);) {
          if (line.rfind("event: ", 0) == 0) e.name = line.substr(7);
          else if (line.rfind("data: ", 0) == 0) e.data += line.substr(6);
        }
        if (!e.name.empty()) got.push_back(e);
      }
      return !done(got) && std::chrono::steady_clock::now() < until;
    });
    return got;
  }
  ProcessResult finish() {
    p->signal(SIGINT);
    return p->finish(10000);
  }

  TempFolder dir;
  std::string path;
  std::unique_ptr<RunningProcess> p;
  int port = 0;
  std::string token;
};

bool has(const std::vector<Event>& events, const std::string& name, const std::string& data) {
  for (const auto& e : events)
    if (e.name == name && e.data == data) return true;
  return false;
}

// PNG width and height from its header.
bool pngSize(const std::string& png, int& w, int& h) {
  if (png.size() < 24 || png.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) return false;
  auto be = [&](size_t at) {
    return (static_cast<unsigned char>(png[at]) << 24) | (static_cast<unsigned char>(png[at + 1]) << 16) |
           (static_cast<unsigned char>(png[at + 2]) << 8) | static_cast<unsigned char>(png[at + 3]);
  };
  w = be(16);
  h = be(20);
  return true;
}

}  // namespace

TEST(Serve, TheRoutesShowTheRunningDiagram) {
  Served s;
  ASSERT_GT(s.port, 0) << s.p->soFar().err;
  EXPECT_TRUE(s.token.empty());  // loopback: no token

  // The page and its files, as built into the program.
  auto page = s.get("/");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_EQ(page->get_header_value("Content-Type"), "text/html; charset=utf-8");
  EXPECT_NE(page->body.find("<html"), std::string::npos);
  for (const char* f : {"/canvas.js", "/canvas.css"}) {
    auto r = s.get(f);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200) << f;
    EXPECT_FALSE(r->body.empty()) << f;
  }
  EXPECT_EQ(s.get("/nothing.js")->status, 404);

  // The diagram as --save would write it.
  Json d = s.diagram();
  ASSERT_TRUE(d.is_object());
  ASSERT_EQ(d["modules"].size(), 3u);
  EXPECT_EQ(d["modules"][0]["id"], "player");
  EXPECT_EQ(d["modules"][2]["content"]["inputs"], 4);
  EXPECT_EQ(d["links"].size(), 4u);

  // The classes exactly as `loomwork modules --json` lists them.
  const ProcessResult listed =
      runProcess(LOOMWORK_BIN, {"modules", "--json", "--modules", s.dir.file("no-modules")}, 20000);
  auto classes = s.get("/api/classes");
  ASSERT_TRUE(classes);
  EXPECT_EQ(classes->body, listed.out);
  EXPECT_EQ(classes->get_header_value("Content-Type"), "application/json");

  // Ports at their link points, in canvas coordinates: a wire's two ends.
  auto ports = s.get("/api/ports");
  ASSERT_TRUE(ports);
  Json pj = Json::parse(ports->body);
  ASSERT_EQ(pj["player"]["outputs"].size(), 3u);
  EXPECT_EQ(pj["player"]["outputs"][1]["type"], "text");
  EXPECT_EQ(pj["monitor"]["inputs"].size(), 4u);
  EXPECT_EQ(pj["monitor"]["inputs"][0]["type"], "any");
  EXPECT_EQ(pj["monitor"]["inputs"][3]["tag"], "in 3");
  const double outX = pj["player"]["outputs"][0]["point"][0], inX = pj["monitor"]["inputs"][0]["point"][0];
  EXPECT_EQ(outX, 120);  // the player's right side: 20 + 100
  EXPECT_EQ(inX, 200);   // the monitor's left side
  EXPECT_EQ(pj["clock"]["inputs"].size(), 0u);

  // A face: a PNG of the module's size.
  auto face = s.get("/api/modules/monitor/face.png");
  ASSERT_TRUE(face);
  EXPECT_EQ(face->status, 200);
  EXPECT_EQ(face->get_header_value("Content-Type"), "image/png");
  int w = 0, h = 0;
  ASSERT_TRUE(pngSize(face->body, w, h));
  EXPECT_EQ(w, 160);
  EXPECT_EQ(h, 170);
  auto none = s.get("/api/modules/ghost/face.png");
  EXPECT_EQ(none->status, 404);
  EXPECT_EQ(none->body, "unknown module id \"ghost\"");

  // The run goes on meanwhile, and ends as a live run does.
  s.p->readUntil([](const ProcessResult& r) { return r.out.find("M monitor.3 2\n") != std::string::npos; }, 10000);
  const ProcessResult r = s.finish();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("M monitor.3 "), std::string::npos);
  EXPECT_NE(r.out.find("M monitor.1 \"hello\""), std::string::npos);
}

TEST(Serve, TheEventStreamCarriesValuesMonitorLinesAndRepaints) {
  // Forty values a millisecond apart: far more than 30 a second.
  std::string values;
  for (int i = 1; i <= 40; ++i) values += std::to_string(300 + i) + ",0," + std::to_string(i) + "\n";
  values += "600,1,\"done\\nthere\"\n";
  // The Player holds still until the stream is open (a page sees only the M lines that come
  // while it watches, and a loaded machine may take long to connect); then it is given the burst,
  // which it plays from that moment.
  Served s(kDiagram, "100000,0,0\n");
  ASSERT_GT(s.port, 0);
  const std::string burst = s.dir.write("burst.csv", values);
  bool given = false;
  const auto events = s.events(
      [&](const std::vector<Event>& e) {
        if (!given && !e.empty()) {
          given = true;
          const Json edit = {{"file", burst}, {"outputs", "isb"}};
          auto r = s.post("/api/modules/player/properties", edit.dump());
          EXPECT_TRUE(r && r->status == 200) << (r ? r->body : "no answer");
        }
        return has(e, "monitor", "M monitor.1 \"done\\nthere\"");
      },
      10000);
  std::vector<int> player0;
  int monitor0 = 0;
  bool repainted = false;
  for (const auto& e : events) {
    if (e.name == "value") {
      Json j = Json::parse(e.data);
      if (j["module"] == "player" && j["output"] == 0) player0.push_back(j["value"]);
    }
    if (e.name == "monitor" && e.data.rfind("M monitor.0 ", 0) == 0) ++monitor0;
    if (e.name == "repaint" && e.data == R"({"module": "monitor"})") repainted = true;
  }
  // Values are coalesced, in order, and the last of the burst is always sent.
  ASSERT_FALSE(player0.empty());
  EXPECT_EQ(player0.back(), 40);
  EXPECT_LT(player0.size(), 20u);
  EXPECT_TRUE(std::is_sorted(player0.begin(), player0.end()));
  // Every M line is sent, as the trace shows it.
  EXPECT_EQ(monitor0, 40);
  EXPECT_TRUE(has(events, "value", R"({"module": "player", "output": 1, "value": "done\nthere"})"));
  EXPECT_TRUE(repainted);
  EXPECT_TRUE(std::any_of(events.begin(), events.end(), [](const Event& e) {
    return e.name == "value" && e.data.rfind(R"({"module": "clock", "output": 0, "value": )", 0) == 0;
  }));

  // A page that joins later gets every output's latest value at once.
  const auto later = s.events(
      [](const std::vector<Event>& e) { return has(e, "value", R"({"module": "player", "output": 0, "value": 40})"); },
      5000);
  EXPECT_TRUE(has(later, "value", R"({"module": "player", "output": 0, "value": 40})"));
  EXPECT_TRUE(has(later, "value", R"({"module": "player", "output": 1, "value": "done\nthere"})"));
}

TEST(Serve, EditsApplyLiveOrAnswerTheCommandLinesError) {
  Served s;
  ASSERT_GT(s.port, 0);
  auto expectRefused = [&](const httplib::Result& r, const std::string& text) {
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 400);
    EXPECT_EQ(r->body, text);
    EXPECT_EQ(r->get_header_value("Content-Type"), "text/plain; charset=utf-8");
  };
  // Properties, as --set takes them; the answer is the diagram as it now stands.
  auto r = s.post("/api/modules/clock/properties", R"({"periodMs": 20})");
  ASSERT_TRUE(r);
  ASSERT_EQ(r->status, 200) << r->body;
  EXPECT_EQ(Json::parse(r->body)["modules"][1]["content"]["periodMs"], 20);
  expectRefused(s.post("/api/modules/clock/properties", R"({"periodMs": 0})"),
                "clock.periodMs: 0 is outside 1..3600000");
  expectRefused(s.post("/api/modules/clock/properties", R"({"speed": 3})"),
                "module \"clock\" (Timer) has no property \"speed\"");
  expectRefused(s.post("/api/modules/ghost/properties", R"({"periodMs": 3})"), "unknown module id \"ghost\"");
  // A value that would strand a wire is refused and the old one kept.
  expectRefused(s.post("/api/modules/monitor/properties", R"({"inputs": 2})"),
                "monitor.inputs: 2 leaves no matching port for the link player:2 -> monitor:2");
  EXPECT_EQ(s.diagram()["modules"][2]["content"]["inputs"], 4);
  r = s.post("/api/modules/clock/properties", "{not json");
  EXPECT_EQ(r->status, 400);
  EXPECT_EQ(r->body.rfind("the request is not JSON: ", 0), 0u) << r->body;
  // The command line's own error texts, word for word.
  const ProcessResult cli =
      runProcess(LOOMWORK_BIN, {"set", s.path, "clock.periodMs=0", "--modules", s.dir.file("no-modules")}, 10000);
  EXPECT_EQ(cli.err, "clock.periodMs: 0 is outside 1..3600000\n");

  // Placing a module, wiring it, moving it; the host's link rules apply.
  r = s.post("/api/modules", R"({"class": "Timer", "id": "fast", "rect": [20, 220, 80, 60]})");
  ASSERT_EQ(r->status, 200) << r->body;
  expectRefused(s.post("/api/modules", R"({"class": "Timer", "id": "fast"})"),
                "module \"fast\": module id \"fast\" is used twice");
  expectRefused(s.post("/api/modules", R"({"class": "Nope", "id": "x"})"), "module \"x\": unknown class \"Nope\"");
  expectRefused(s.post("/api/modules", R"({"class": "Timer", "id": "y", "rect": [1, 2, -3, 4]})"),
                "module \"y\": \"rect\" is not [x, y, width, height]");
  expectRefused(s.post("/api/links", R"({"from": "fast:0", "to": "monitor:3"})"),
                "link fast:0 -> monitor:3: input 3 of \"monitor\" takes no further link");
  expectRefused(s.post("/api/links", R"({"from": "fast:0", "to": "monitor:9"})"),
                "link fast:0 -> monitor:9: input 9 of \"monitor\" does not exist (it has 4 inputs)");
  expectRefused(s.post("/api/links", R"({"from": "fast", "to": "monitor:3"})"),
                "link fast -> monitor:3: ends are written \"id:port\"");
  expectRefused(s.del("/api/links", R"({"from": "fast:0", "to": "monitor:3"})"),
                "link fast:0 -> monitor:3: there is no such link");
  r = s.del("/api/links", R"({"from": "clock:0", "to": "monitor:3"})");
  ASSERT_EQ(r->status, 200) << r->body;
  r = s.post("/api/links", R"({"from": "fast:0", "to": "monitor:3"})");
  ASSERT_EQ(r->status, 200) << r->body;
  EXPECT_EQ(Json::parse(r->body)["links"].back(), (Json{{"from", "fast:0"}, {"to", "monitor:3"}}));
  r = s.post("/api/modules/fast/rect", "[30, 240, 90, 70]");
  ASSERT_EQ(r->status, 200) << r->body;
  EXPECT_EQ(Json::parse(r->body)["modules"][3]["rect"], (Json{30, 240, 90, 70}));
  expectRefused(s.post("/api/modules/fast/rect", "[1, 2, 3]"),
                "module \"fast\": \"rect\" is not [x, y, width, height]");

  // The placed Timer's ticks reach the Monitor through the new wire, as every page sees.
  const auto events = s.events([](const std::vector<Event>& e) { return has(e, "monitor", "M monitor.3 3"); }, 10000);
  EXPECT_TRUE(has(events, "monitor", "M monitor.3 3"));

  // A Player placed without a file waits; given one, it plays.
  ASSERT_EQ(s.post("/api/modules", R"({"class": "Player", "id": "p2", "rect": [400, 20, 80, 60]})")->status, 200);
  ASSERT_EQ(s.post("/api/modules", R"({"class": "Monitor", "id": "m2", "rect": [400, 120, 80, 60]})")->status, 200);
  ASSERT_EQ(s.post("/api/links", R"({"from": "p2:0", "to": "m2:0"})")->status, 200);
  s.dir.write("p2.csv", "0,0,100\n");
  ASSERT_EQ(s.post("/api/modules/p2/properties", R"({"file": "p2.csv"})")->status, 200);
  const char* p2value = R"({"module": "p2", "output": 0, "value": 100})";
  const auto played = s.events([&](const std::vector<Event>& e) { return has(e, "value", p2value); }, 10000);
  EXPECT_TRUE(has(played, "value", p2value));

  // Removing modules, even one that is playing; twice is an error the second time.
  r = s.del("/api/modules/player");
  ASSERT_EQ(r->status, 200) << r->body;
  const Json without = Json::parse(r->body);
  for (const auto& m : without["modules"]) EXPECT_NE(m["id"], "player");
  expectRefused(s.del("/api/modules/player"), "unknown module id \"player\"");
  ASSERT_EQ(s.del("/api/modules/clock")->status, 200);

  // Saving: in place, or elsewhere with relative paths rewritten for the new folder.
  fs::create_directories(s.dir.file("elsewhere"));
  const std::string other = s.dir.file("elsewhere/saved.lwd");
  r = s.post("/api/save", Json{{"path", other}}.dump());
  ASSERT_EQ(r->status, 200) << r->body;
  Json saved = Json::parse(TempFolder::read(other));
  EXPECT_EQ(saved["modules"].size(), 4u);
  EXPECT_EQ(saved["modules"][2]["content"]["file"], "../p2.csv");
  expectRefused(s.post("/api/save", Json{{"path", s.dir.file("no/such/x.lwd")}}.dump()),
                s.dir.file("no/such/x.lwd") + ": error: the folder " + s.dir.file("no/such") + " does not exist");
  // The file it wrote is one that loomwork runs.
  const ProcessResult rerun = runProcess(
      LOOMWORK_BIN, {"run", other, "--until-idle", "--seconds", "5", "--modules", s.dir.file("no-modules")}, 20000);
  EXPECT_EQ(rerun.status, 0) << rerun.err;
  EXPECT_NE(rerun.out.find("M m2.0 100"), std::string::npos);
  r = s.post("/api/save", "{}");  // later saves go to the same file
  ASSERT_EQ(r->status, 200) << r->body;
  EXPECT_EQ(Json::parse(TempFolder::read(other))["modules"].size(), 4u);

  const ProcessResult end = s.finish();
  EXPECT_EQ(end.status, 0) << end.err;
  EXPECT_NE(end.out.find("M m2.0 100\n"), std::string::npos);
}

TEST(Serve, ElsewhereThanLoopbackEveryRequestNeedsTheToken) {
  Served s(kDiagram, kValues, "0.0.0.0:0");
  ASSERT_GT(s.port, 0) << s.p->soFar().err;
  ASSERT_EQ(s.token.size(), 32u);
  EXPECT_NE(s.p->soFar().err.find("serving http://0.0.0.0:" + std::to_string(s.port) + "/?token=" + s.token),
            std::string::npos);
  for (const char* path : {"/", "/canvas.js", "/api/diagram", "/api/classes", "/api/events", "/api/ports"}) {
    auto r = s.get(path);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 403) << path;
  }
  EXPECT_EQ(s.get("/api/diagram?token=0123456789abcdef0123456789abcdef")->status, 403);
  EXPECT_EQ(s.post("/api/modules/clock/properties", R"({"periodMs": 7})")->status, 403);
  // With the token: the page, and a cookie that lets its files and requests in.
  auto page = s.get("/?token=" + s.token);
  ASSERT_EQ(page->status, 200);
  const std::string cookie = page->get_header_value("Set-Cookie");
  EXPECT_NE(cookie.find("HttpOnly"), std::string::npos);
  EXPECT_NE(cookie.find("SameSite=Strict"), std::string::npos);
  httplib::Client c = s.client();
  httplib::Headers withCookie{{"Cookie", cookie.substr(0, cookie.find(';'))}};
  EXPECT_EQ(c.Get("/canvas.js", withCookie)->status, 200);
  EXPECT_EQ(s.get("/api/diagram?token=" + s.token)->status, 200);
  EXPECT_EQ(s.post("/api/modules/clock/properties?token=" + s.token, R"({"periodMs": 7})")->status, 200);
  // An edit from another site's page is refused, token or not.
  httplib::Headers foreign{{"Origin", "http://elsewhere.example"}};
  auto r = c.Post(("/api/modules/clock/properties?token=" + s.token).c_str(), foreign, R"({"periodMs": 9})",
                  "application/json");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 403);
  EXPECT_EQ(s.diagram().is_null(), true);  // without the token
  auto d = s.get("/api/diagram?token=" + s.token);
  EXPECT_EQ(Json::parse(d->body)["modules"][1]["content"]["periodMs"], 7);
}

TEST(Serve, OnLoopbackOnlyThePagesOwnOriginEdits) {
  Served s;
  ASSERT_GT(s.port, 0);
  httplib::Client c = s.client();
  const std::string own = "http://127.0.0.1:" + std::to_string(s.port);
  auto r = c.Post("/api/modules/clock/properties", httplib::Headers{{"Origin", own}}, R"({"periodMs": 30})",
                  "application/json");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);
  r = c.Post("/api/modules/clock/properties", httplib::Headers{{"Origin", "http://attacker.example"}},
             R"({"periodMs": 40})", "text/plain");
  EXPECT_EQ(r->status, 403);
  r = c.Delete("/api/modules/clock", httplib::Headers{{"Origin", "null"}});
  EXPECT_EQ(r->status, 403);
  // A name that only points at this machine (rebound) is not this server's.
  r = c.Get("/api/diagram", httplib::Headers{{"Host", "attacker.example:" + std::to_string(s.port)}});
  EXPECT_EQ(r->status, 403);
  EXPECT_EQ(s.diagram()["modules"][1]["content"]["periodMs"], 30);
}

TEST(Serve, TheOptionAndTheRunsEnd) {
  TempFolder dir;
  fs::create_directories(dir.file("no-modules"));
  dir.write("values.csv", kValues);
  const std::string path = dir.write("d.lwd", kDiagram);
  const std::vector<std::string> base{"run", path, "--modules", dir.file("no-modules")};
  auto run = [&](std::vector<std::string> more) {
    std::vector<std::string> args = base;
    args.insert(args.end(), more.begin(), more.end());
    return runProcess(LOOMWORK_BIN, args, 20000);
  };
  for (const char* bad : {"http://x:80", "port", "127.0.0.1:99999", "127.0.0.1:", ":80", "[::1:80"}) {
    const ProcessResult r = run({"--serve", bad, "--seconds", "0"});
    EXPECT_EQ(r.status, 2) << bad;
    EXPECT_EQ(r.err, std::string("run: --serve takes [HOST:]PORT, not \"") + bad + "\"\n");
  }
  // A timed run still ends on time; until-idle too.
  ProcessResult r = run({"--serve", "0", "--seconds", "0.3"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("serving http://127.0.0.1:"), std::string::npos);
  r = run({"--serve", "localhost:0", "--until-idle", "--save", dir.file("after.lwd")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("M monitor.2 0x0102ff"), std::string::npos);
  EXPECT_TRUE(fs::exists(dir.file("after.lwd")));
  // A port that is taken is said so, before anything starts.
  Served first;
  ASSERT_GT(first.port, 0);
  r = run({"--serve", "127.0.0.1:" + std::to_string(first.port), "--seconds", "5"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "run: --serve 127.0.0.1:" + std::to_string(first.port) +
                       ": cannot listen there (Address already in use)\n");
  EXPECT_EQ(r.out, "");
  // The help names the option.
  r = runProcess(LOOMWORK_BIN, {"run", "--help"}, 5000);
  EXPECT_NE(r.out.find("--serve [HOST:]PORT"), std::string::npos);
}

TEST(Serve, APageStillWatchingWhenTheRunEndsSeesTheStreamEnd) {
  Served s(kDiagram, kValues, "127.0.0.1:0", {"--seconds", "1.5"});
  ASSERT_GT(s.port, 0);
  const auto start = std::chrono::steady_clock::now();
  s.events([](const std::vector<Event>&) { return false; }, 15000);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  const ProcessResult r = s.p->finish(10000);
  EXPECT_EQ(r.status, 0) << r.err;
}
