// The loomwork command as a user runs it: the real binary on small diagrams in a temporary folder,
// with its standard output, standard error and exit status taken apart.
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sstream>

#include "gfxkit/JCanvas.h"
#include "testing/Process.h"

namespace fs = std::filesystem;

namespace {

using Result = ProcessResult;

Result runBinary(const std::vector<std::string>& args, int timeoutMs) {
  return runProcess(LOOMWORK_BIN, args, timeoutMs);
}

class Cli : public ::testing::Test {
protected:
  void SetUp() override {
    char tmpl[] = "/tmp/loomwork-cli-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    fs::create_directory(path("no-modules"));
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  std::string write(const std::string& name, const std::string& text) const {
    std::ofstream(path(name), std::ios::binary) << text;
    return path(name);
  }
  std::string read(const std::string& name) const {
    std::ifstream in(path(name), std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  // Only the host modules: the libraries others are building stay out of these runs.
  Result run(std::vector<std::string> args, int timeoutMs = 30000) const {
    args.insert(args.begin() + (args.empty() ? 0 : 1), {"--modules", path("no-modules")});
    return runBinary(args, timeoutMs);
  }

  // A Player with the given output letters and file, wired output by output into a Monitor.
  std::string playerDiagram(const std::string& name, const std::string& outputs, const std::string& file, int linked,
                            const std::string& extraModules = "", const std::string& extraLinks = "",
                            int monitorInputs = 1) {
    std::string links;
    for (int i = 0; i < linked; ++i)
      links += std::string(i ? ", " : "") + "{\"from\": \"p:" + std::to_string(i) +
               "\", \"to\": \"mon:" + std::to_string(i) + "\"}";
    return write(name, R"({ "loomwork": 1, "modules": [
      { "id": "p", "class": "Player", "rect": [20, 20, 100, 80],
        "content": { "file": ")" +
                           file + R"(", "outputs": ")" + outputs + R"(" } },
      { "id": "mon", "class": "Monitor", "rect": [200, 20, 160, 170], "content": { "inputs": )" +
                           std::to_string(std::max(linked, monitorInputs)) + " } }" + extraModules +
                           " ], \"links\": [" + links + extraLinks + "] }");
  }

  std::string dir_;
};

void expectOneErrorLine(const Result& r, const std::string& fragment, const std::string& what) {
  EXPECT_EQ(r.status, 2) << what << "\n" << r.err;
  EXPECT_EQ(r.out, "") << what;
  ASSERT_FALSE(r.err.empty()) << what;
  EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << what << ": not exactly one line:\n" << r.err;
  EXPECT_NE(r.err.find(fragment), std::string::npos) << what << ": " << r.err;
}

std::vector<std::string> monitorLines(const std::vector<std::string>& lines) {
  std::vector<std::string> m;
  for (const auto& l : lines)
    if (l.rfind("M ", 0) == 0) m.push_back(l);
  return m;
}

}  // namespace

TEST_F(Cli, TraceAndMonitorLinesForEveryKindOfValue) {
  write("values.csv",
        "# integers, texts and bytes; output 3 has no wire\n"
        "0,0,7\n"
        "0,1,\"plain\"\n"
        "0,2,0x00ff10\n"
        "10,0,-2147483648\n"
        "10,0,-2147483648\n"
        "10,1,\"q\\\"b\\\\n\\nt\\tu\\u0001\\u00e9\\ud83d\\ude00\"\n"
        "20,2,0x\n"
        "20,2,0xABcd\n"
        "30,3,42\n"
        "30,0,2147483647\n");
  std::string d = playerDiagram("d.lwd", "isbi", "values.csv", 3);
  const std::vector<std::string> traced = {"T p.0 7",
                                           "M mon.0 7",
                                           "T p.1 \"plain\"",
                                           "M mon.1 \"plain\"",
                                           "T p.2 0x00ff10",
                                           "M mon.2 0x00ff10",
                                           "T p.0 -2147483648",
                                           "M mon.0 -2147483648",
                                           "T p.0 -2147483648",
                                           "M mon.0 -2147483648",
                                           "T p.1 \"q\\\"b\\\\n\\nt\\tu\\u0001\xC3\xA9\xF0\x9F\x98\x80\"",
                                           "M mon.1 \"q\\\"b\\\\n\\nt\\tu\\u0001\xC3\xA9\xF0\x9F\x98\x80\"",
                                           "T p.2 0x",
                                           "M mon.2 0x",
                                           "T p.2 0xabcd",
                                           "M mon.2 0xabcd",
                                           "T p.3 42",
                                           "T p.0 2147483647",
                                           "M mon.0 2147483647"};

  Result r = run({"run", d, "--until-idle", "--trace"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.outLines(), traced);

  r = run({"run", d, "--until-idle"});  // without --trace only the Monitor speaks
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.outLines(), monitorLines(traced));
}

TEST_F(Cli, UntilIdleAndSecondsEndTheRun) {
  write("values.csv", "0,0,1\n150,0,2\n");
  // The slow Timer would keep a run without an end going for a minute.
  std::string d = playerDiagram("d.lwd", "i", "values.csv", 1,
                                R"(, { "id": "slow", "class": "Timer", "content": { "periodMs": 60000 } })");
  Result r = run({"run", d, "--until-idle"}, 20000);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.outLines(), (std::vector<std::string>{"M mon.0 1", "M mon.0 2"}));

  write("ticks.lwd", R"({ "loomwork": 1, "modules": [
      { "id": "clock", "class": "Timer", "content": { "periodMs": 40 } },
      { "id": "mon", "class": "Monitor" } ], "links": [ { "from": "clock:0", "to": "mon:0" } ] })");
  r = run({"run", path("ticks.lwd"), "--seconds", "0.3"}, 20000);
  EXPECT_EQ(r.status, 0);
  auto lines = r.outLines();
  EXPECT_GE(lines.size(), 3u);
  EXPECT_LE(lines.size(), 8u);
  for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i], "M mon.0 " + std::to_string(i + 1));
}

TEST_F(Cli, SetChangesTheRunAndSaveKeepsIt) {
  write("a.csv", "0,0,1\n");
  write("b.csv", "0,0,\"b\"\n5,1,0x0a\n");
  std::string d = playerDiagram("d.lwd", "i", "a.csv", 1,
                                R"(, { "id": "v", "class": "Value", "content": { "value": "\"hi\"", "type": "s" } })",
                                R"(, { "from": "v:0", "to": "mon:1" })", 2);
  // Two outputs and a third Monitor input, all from the command line.
  Result first = run({"run", d, "--until-idle", "--trace", "--set", "p.file=b.csv", "--set", "p.outputs=sb", "--set",
                      "mon.inputs=3", "--save", path("saved.lwd")});
  EXPECT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(first.outLines(),
            (std::vector<std::string>{"T v.0 \"hi\"", "M mon.1 \"hi\"", "T p.0 \"b\"", "M mon.0 \"b\"", "T p.1 0x0a"}));

  auto saved = nlohmann::json::parse(read("saved.lwd"));
  EXPECT_EQ(saved["modules"][0]["content"]["file"], "b.csv");
  EXPECT_EQ(saved["modules"][1]["content"]["inputs"], 3);
  EXPECT_EQ(saved["links"].size(), 2u);
  Result again = run({"run", path("saved.lwd"), "--until-idle", "--trace"});
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(again.out, first.out);

  // A setting that would strand a wire is refused rather than saved into a file that cannot load.
  expectOneErrorLine(run({"run", d, "--set", "mon.inputs=1", "--save", path("stranded.lwd")}), "v:0 -> mon:1",
                     "shrunk Monitor");
  EXPECT_FALSE(fs::exists(path("stranded.lwd")));
}

TEST_F(Cli, SetSavesAndPropsShowsTheNewValues) {
  write("values.csv", "0,0,1\n");
  std::string d = playerDiagram("d.lwd", "i", "values.csv", 1);
  Result r = run({"props", d, "mon"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "inputs integer 1 1..16\n");

  r = run({"set", d, "mon.inputs=5", "p.outputs=isb", "p.file=other \"x\".csv"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out + r.err, "");
  EXPECT_EQ(run({"props", d, "mon"}).out, "inputs integer 5 1..16\n");
  EXPECT_EQ(run({"props", d, "p"}).out, "file text \"other \\\"x\\\".csv\"\noutputs text \"isb\"\n");
  EXPECT_EQ(nlohmann::json::parse(read("d.lwd"))["links"].size(), 1u);

  // A refused value leaves the file as it was.
  const std::string before = read("d.lwd");
  expectOneErrorLine(run({"set", d, "p.outputs=i", "mon.inputs=0"}), "0 is outside 1..16", "set out of range");
  EXPECT_EQ(read("d.lwd"), before);
}

TEST_F(Cli, ModulesJsonListsTheHostModules) {
  Result r = run({"modules", "--json"});
  ASSERT_EQ(r.status, 0);
  auto all = nlohmann::json::parse(r.out);
  std::map<std::string, nlohmann::json> byClass;
  for (const auto& c : all) byClass[c["class"].get<std::string>()] = c;
  for (const char* name : {"Player", "Monitor", "Timer", "Value", "SerialPort"})
    ASSERT_TRUE(byClass.count(name)) << name;

  auto prop = [&](const std::string& cls, const std::string& name) {
    for (const auto& p : byClass[cls]["properties"])
      if (p["name"] == name) return p;
    ADD_FAILURE() << cls << " has no property " << name;
    return nlohmann::json();
  };
  const auto& serial = byClass["SerialPort"];
  EXPECT_EQ(serial["inputs"].size(), 1u);
  EXPECT_EQ(serial["inputs"][0]["type"], "bytes");
  EXPECT_EQ(serial["outputs"][0]["type"], "bytes");
  EXPECT_EQ(serial["outputs"][0]["index"], 0);
  EXPECT_TRUE(serial["outputs"][0]["tag"].is_string());
  EXPECT_TRUE(serial["outputs"][0]["side"].is_string());
  EXPECT_EQ(prop("SerialPort", "device")["kind"], "text");
  EXPECT_EQ(prop("SerialPort", "baud")["value"], 9600);
  EXPECT_EQ(prop("Monitor", "inputs")["minimum"], 1);
  EXPECT_EQ(prop("Monitor", "inputs")["maximum"], 16);
  EXPECT_EQ(byClass["Monitor"]["inputs"][0]["type"], "any");
  EXPECT_EQ(byClass["Monitor"]["outputs"].size(), 0u);
  EXPECT_EQ(prop("Player", "outputs")["value"], "i");
  EXPECT_EQ(byClass["Player"]["outputs"][0]["type"], "integer");
  EXPECT_EQ(prop("Timer", "periodMs")["kind"], "integer");
  EXPECT_EQ(prop("Value", "type")["choices"], nlohmann::json({"i", "s", "b"}));
}

TEST_F(Cli, RenderDrawsEveryModuleAtItsPlace) {
  write("values.csv", "0,0,1\n");
  std::string d = playerDiagram("d.lwd", "i", "values.csv", 1);
  for (const auto& args : {std::vector<std::string>{"render", d, "--out", path("d.png")},
                           std::vector<std::string>{"run", d, "--until-idle", "--render", path("d.png")}}) {
    fs::remove(path("d.png"));
    Result r = run(args);
    ASSERT_EQ(r.status, 0) << args[0] << ": " << r.err;
    JCanvas c(1, 1);
    std::string error;
    ASSERT_TRUE(JCanvas::readPNG(path("d.png"), c, &error)) << error;
    EXPECT_EQ(c.width(), 200 + 160 + 10);  // the Monitor's right edge and a margin
    EXPECT_EQ(c.height(), 20 + 170 + 10);
    const JColor background = c.pixel(5, 5);
    auto drawn = [&](int x0, int y0, int w, int h) {
      int n = 0;
      for (int y = y0; y < y0 + h; ++y)
        for (int x = x0; x < x0 + w; ++x) n += c.pixel(x, y) != background;
      return n;
    };
    EXPECT_GT(drawn(20, 20, 100, 80), 100) << "the Player's face";
    EXPECT_GT(drawn(200, 20, 160, 170), 100) << "the Monitor's face";
    EXPECT_EQ(drawn(0, 110, 15, 80), 0) << "nothing where no module is";
  }
}

TEST_F(Cli, BadInputEndsWithOneLineAndStatusTwo) {
  write("values.csv", "0,0,1\n");
  write("bad.csv", "0,0,1\n# fine so far\n20,0,abc\n");
  std::string good = playerDiagram("good.lwd", "i", "values.csv", 1);
  playerDiagram("missing.lwd", "i", "nothere.csv", 1);
  playerDiagram("badline.lwd", "i", "bad.csv", 1);
  playerDiagram("noport.lwd", "i", "values.csv", 1, "", R"(, { "from": "p:0", "to": "mon:5" })");
  playerDiagram("ghost.lwd", "i", "values.csv", 0, "", R"({ "from": "ghost:0", "to": "mon:0" })");
  playerDiagram("twice.lwd", "i", "values.csv", 1, R"(, { "id": "q", "class": "Player" })",
                R"(, { "from": "q:0", "to": "mon:0" })");
  playerDiagram("types.lwd", "s", "values.csv", 0, R"(, { "id": "s", "class": "SerialPort" })",
                R"({ "from": "p:0", "to": "s:0" })");
  write("unknown.lwd", R"({ "loomwork": 1, "modules": [ { "id": "x", "class": "Nope" } ] })");
  write("malformed.lwd", "{ \"loomwork\": 1,\n  \"modules\": [\n    { \"id\": \"a\", \"class\": \"Player\" ,, }\n");
  write("huge.lwd",
        "{ \"loomwork\": 1,\n  \"modules\": [ { \"id\": \"t\", \"class\": \"Timer\", \"rect\": [1e999, 0, 1, 1] } ] }");
  write("deep.lwd", R"({ "loomwork": 1, "modules": [ { "id": "t", "class": "Timer", "content": { "a": )" +
                        std::string(100000, '[') + std::string(100000, ']') + "} } ] }");
  fs::create_directory(path("folder.lwd"));

  struct Case {
    std::vector<std::string> args;
    std::string fragment;
  };
  const Case cases[] = {
      {{"run", path("nothere.lwd")}, "nothere.lwd: error: cannot read the file"},
      {{"run", path("folder.lwd")}, "folder.lwd: error: cannot read the file"},
      {{"props", path("malformed.lwd"), "a"}, "malformed.lwd: error: line 3, column 37: "},
      {{"run", path("huge.lwd")}, "huge.lwd: error: line 2, column 56: number overflow"},
      {{"run", path("deep.lwd")}, "deep.lwd: error: line 1, column 204: nested deeper than 128 levels"},
      {{"run", path("unknown.lwd")}, "unknown class \"Nope\""},
      {{"run", path("ghost.lwd")}, "unknown module id \"ghost\""},
      {{"run", path("noport.lwd")}, "input 5 of \"mon\" does not exist"},
      {{"run", path("types.lwd")}, "output 0 of \"p\" carries text but input 0 of \"s\" takes bytes"},
      {{"render", path("twice.lwd"), "--out", path("x.png")}, "input 0 of \"mon\" takes no further link"},
      {{"run", path("missing.lwd")}, "nothere.csv: error: cannot read the file"},
      {{"run", path("badline.lwd")}, "bad.csv: error: line 3: an integer value"},
      {{"run", good, "--set", "mon.colour=1"}, "has no property \"colour\""},
      {{"run", good, "--set", "mon.inputs=17"}, "mon.inputs: 17 is outside 1..16"},
      {{"run", good, "--set", "mon.inputs=many"}, "is not an integer"},
      {{"run", good, "--set", "nobody.inputs=1"}, "unknown module id \"nobody\""},
      {{"run", good, "--set", "inputs"}, "is not ID.PROPERTY=VALUE"},
      {{"run", good, "--set"}, "--set needs a value"},
      {{"run", good, "--seconds", "soon"}, "--seconds"},
      {{"set", good, "p.nothing=1"}, "has no property \"nothing\""},
      {{"set", good, "p.file=\xff.csv"}, "good.lwd: error: a text in the diagram is not valid UTF-8"},
      {{"props", good, "ghost"}, "unknown module id \"ghost\""},
      {{"render", good}, "--out"},
      {{"frob"}, "unknown command \"frob\""},
      {{"run", good, "--bogus"}, "unknown option --bogus"},
  };
  for (const auto& c : cases) {
    std::string what;
    for (const auto& a : c.args) what += a.substr(a.rfind('/') + 1) + " ";
    expectOneErrorLine(run(c.args), c.fragment, what);
  }
  EXPECT_FALSE(fs::exists(path("x.png")));
}
