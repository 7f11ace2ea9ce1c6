// loomwork: the headless host. Loads module libraries, runs diagrams, traces values, edits
// properties and renders module faces.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "HostOutput.h"
#include "Libraries.h"
#include "Player.h"
#include "Render.h"
#include "Value.h"
#include "base/JClock.h"
#include "loom/JDiagram.h"

namespace fs = std::filesystem;

namespace {

const char* kUsage =
    "usage: loomwork COMMAND [options]\n"
    "  run DIAGRAM [--seconds S] [--until-idle] [--trace] [--set ID.PROPERTY=VALUE]...\n"
    "              [--save OUT.lwd] [--render OUT.png] [--modules DIR]...\n"
    "  modules [--json | --markdown] [--modules DIR]...\n"
    "  props DIAGRAM ID [--modules DIR]...\n"
    "  set DIAGRAM ID.PROPERTY=VALUE... [--modules DIR]...\n"
    "  render DIAGRAM --out OUT.png [--modules DIR]...\n"
    "Each command takes --help.\n";

const char* kRunHelp =
    "usage: loomwork run DIAGRAM [options]\n"
    "Loads the diagram, starts every module and runs the host: for --seconds, or with\n"
    "--until-idle until every Player has played its file and nothing is queued, or without\n"
    "either until interrupted (Ctrl-C, SIGINT or SIGTERM). Then closes every module, saves,\n"
    "renders and exits 0; a second Ctrl-C while closing ends at once (status 130).\n"
    "  --seconds S              stop after S seconds (decimals allowed)\n"
    "  --until-idle             stop once every Player is done and nothing is queued\n"
    "  --trace                  print 'T ID.OUTPUT VALUE' for every broadcast\n"
    "  --set ID.PROPERTY=VALUE  change a property before the run (repeatable)\n"
    "  --save OUT.lwd           save the diagram after the run\n"
    "  --render OUT.png         draw the diagram after the run\n"
    "  --modules DIR            load module libraries from DIR (repeatable)\n"
    "Monitors print 'M ID.INPUT VALUE'; values are decimal, JSON strings, or 0x and hex pairs.\n";

const char* kModulesHelp =
    "usage: loomwork modules [--json | --markdown] [--modules DIR]...\n"
    "Lists every module class: its inputs and outputs (index, tag, type, side) and its\n"
    "properties (name, kind, value, range); --json gives the same as JSON, --markdown a\n"
    "reference page that also names the keys each class stores in a diagram.\n";
const char* kPropsHelp =
    "usage: loomwork props DIAGRAM ID [--modules DIR]...\n"
    "Prints the module's properties, one per line: NAME KIND VALUE [RANGE].\n";
const char* kSetHelp =
    "usage: loomwork set DIAGRAM ID.PROPERTY=VALUE... [--modules DIR]...\n"
    "Applies each value through the module's property update and saves the diagram.\n"
    "Numbers are written as they are, texts without quotes, colours as r,g,b.\n";
const char* kRenderHelp =
    "usage: loomwork render DIAGRAM --out OUT.png [--modules DIR]...\n"
    "Draws every module's face at its place into one PNG picture.\n";

// Usage and input errors end the command with one line and status 2.
struct Failure {
  std::string message;
};
[[noreturn]] void fail(const std::string& message) { throw Failure{message}; }

struct Options {
  std::vector<std::string> positional;
  std::vector<std::string> modules;
  std::vector<std::string> sets;
  double seconds = -1;
  bool untilIdle = false;
  bool trace = false;
  bool json = false;
  bool markdown = false;
  bool help = false;
  std::string save, render, out;
};

Options parseOptions(const std::string& command, int argc, char** argv) {
  Options o;
  auto value = [&](int& i) -> std::string {
    if (i + 1 >= argc) fail(command + ": " + argv[i] + " needs a value");
    return argv[++i];
  };
  for (int i = 2; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--help" || a == "-h") o.help = true;
    else if (a == "--modules") o.modules.push_back(value(i));
    else if (a == "--set" && command == "run") o.sets.push_back(value(i));
    else if (a == "--seconds" && command == "run") {
      std::string v = value(i);
      char* end = nullptr;
      o.seconds = std::strtod(v.c_str(), &end);
      if (v.empty() || *end != '\0' || !(o.seconds >= 0) || o.seconds > 1e7)
        fail("run: --seconds takes a number of seconds, not \"" + v + "\"");
    } else if (a == "--until-idle" && command == "run") o.untilIdle = true;
    else if (a == "--trace" && command == "run") o.trace = true;
    else if (a == "--save" && command == "run") o.save = value(i);
    else if (a == "--render" && command == "run") o.render = value(i);
    else if (a == "--json" && command == "modules") o.json = true;
    else if (a == "--markdown" && command == "modules") o.markdown = true;
    else if (a == "--out" && command == "render") o.out = value(i);
    else if (a.size() > 1 && a[0] == '-' && a[1] == '-') fail(command + ": unknown option " + a);
    else o.positional.push_back(a);
  }
  return o;
}

// The module folders searched, for messages about classes that were not found.
std::vector<std::string> searchedFolders;

std::unique_ptr<JDiagram> load(const std::string& path) {
  std::unique_ptr<JDiagram> d;
  try {
    d = JDiagram::loadFile(path);
  } catch (const JDiagramError& e) {
    std::string message = e.what();
    if (message.find("unknown class") != std::string::npos) {
      std::string folders;
      for (const auto& f : searchedFolders) folders += (folders.empty() ? "" : ", ") + f;
      message += " (module libraries searched in: " + (folders.empty() ? std::string("no folder") : folders) + ")";
    }
    fail(message);
  }
  for (const auto& w : d->loadWarnings()) std::fprintf(stderr, "%s\n", w.c_str());
  return d;
}

// A file the run will write: its folder must exist before the run starts.
void checkOutputFile(const std::string& path, const char* option) {
  if (path.empty()) return;
  const fs::path folder = fs::path(path).parent_path();
  std::error_code ec;
  if (!folder.empty() && !fs::is_directory(folder, ec))
    fail(std::string("run: ") + option + " " + path + ": the folder " + folder.string() + " does not exist");
}

// Saving into another folder: every relative path in the modules' content that names an existing
// file from the diagram's folder is written anew relative to the new folder, so that the saved
// diagram still finds its files.
void moveRelativePaths(JDiagram& d, const std::string& savePath) {
  std::error_code ec;
  const fs::path from = fs::absolute(d.folder().empty() ? fs::path(".") : fs::path(d.folder()), ec);
  const fs::path to = fs::absolute(fs::path(savePath).parent_path().empty() ? fs::path(".")
                                                                              : fs::path(savePath).parent_path(),
                                   ec);
  if (fs::equivalent(from, to, ec)) return;
  for (JModuleObj* m : d.modules()) {
    JComponent::Scope scope(m);
    JArray props = m->getProperties();
    for (int i = 0; i < props.size(); ++i) {
      auto* p = dynamic_cast<JStringProperty*>(props[i]);
      if (!p || p->value.isEmpty()) continue;
      const fs::path rel(p->value.str());
      if (rel.is_absolute() || !fs::is_regular_file(from / rel, ec)) continue;
      const fs::path moved = fs::relative(fs::weakly_canonical(from / rel, ec), fs::weakly_canonical(to, ec), ec);
      if (ec || moved.empty()) continue;
      p->value = JString(moved.string());
      m->updateProperty(*p);
    }
  }
}

// SIGINT and SIGTERM end a run as the end of its time does; a second one while the run closes
// ends the process at once. The signals are taken by a thread of their own (they are blocked in
// every other thread, module threads included), which also draws the progress line.
class RunControl {
public:
  RunControl(JDiagram& d, const std::vector<Player*>& players) : d_(d), players_(players) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    progress_ = isatty(STDERR_FILENO) == 1;
    start_ = JClock::millis();
    watcher_ = std::thread([this, set] { watch(set); });
  }
  ~RunControl() {
    done_ = true;
    watcher_.join();
    clearProgress();
  }
  bool stopRequested() const { return stops_.load() > 0; }
  void closing() { closing_ = true; }

private:
  void watch(sigset_t set) {
    const timespec slice{0, 200 * 1000 * 1000};
    while (!done_.load()) {
      const int sig = sigtimedwait(&set, nullptr, &slice);
      if (sig == SIGINT || sig == SIGTERM) {
        if (stops_.fetch_add(1) > 0 || closing_.load()) {
          clearProgress();
          hostFlush();
          _exit(130);
        }
        d_.wake();
      }
      if (progress_ && !closing_.load()) drawProgress();
    }
  }
  void drawProgress() {
    char line[256];
    int n = std::snprintf(line, sizeof line, "\r%.1f s", (JClock::millis() - start_) / 1000.0);
    for (Player* p : players_) {
      if (n < 0 || n >= static_cast<int>(sizeof line) - 40) break;
      n += std::snprintf(line + n, sizeof line - static_cast<size_t>(n), "  %s %zu/%zu", p->id().c_str(),
                         p->played(), p->total());
    }
    std::fprintf(stderr, "%s\x1b[K", line);
    std::fflush(stderr);
    drawn_ = true;
  }
  void clearProgress() {
    if (!drawn_) return;
    std::fputs("\r\x1b[K", stderr);
    std::fflush(stderr);
    drawn_ = false;
  }

  JDiagram& d_;
  std::vector<Player*> players_;
  std::atomic<int> stops_{0};
  std::atomic<bool> done_{false}, closing_{false};
  bool progress_ = false, drawn_ = false;
  long long start_ = 0;
  std::thread watcher_;
};

// ID.PROPERTY=VALUE applied through the module's updateProperty.
void applySetting(JDiagram& d, const std::string& setting) {
  auto eq = setting.find('=');
  auto dot = setting.find('.');
  if (eq == std::string::npos || dot == std::string::npos || dot > eq || dot == 0)
    fail("\"" + setting + "\" is not ID.PROPERTY=VALUE");
  std::string id = setting.substr(0, dot), name = setting.substr(dot + 1, eq - dot - 1),
              text = setting.substr(eq + 1);
  JModuleObj* m = d.find(id);
  if (!m) fail("unknown module id \"" + id + "\"");
  JComponent::Scope scope(m);
  JArray props = m->getProperties();
  for (int i = 0; i < props.size(); ++i) {
    auto* p = dynamic_cast<JProperty*>(props[i]);
    if (!p || p->getName().str() != name) continue;
    JString error;
    if (!p->parseValue(JString(text), error)) fail(id + "." + name + ": " + error.str());
    if (!m->updateProperty(*p)) fail(id + "." + name + ": the module did not accept the value");
    // A setting that takes a port away or changes its type would strand a wire, and a saved
    // diagram with it could not be loaded again.
    for (const auto& l : d.links()) {
      if (l->from != m && l->to != m) continue;
      bool fits = l->fromPort < l->from->outputCount && l->toPort < l->to->inputCount;
      if (fits) {
        int out = l->from->outputType(l->fromPort), in = l->to->inputType(l->toPort);
        fits = out == in || in == kAnyDataType;
      }
      if (!fits)
        fail(id + "." + name + ": " + text + " leaves no matching port for the link " + l->from->id() + ":" +
             std::to_string(l->fromPort) + " -> " + l->to->id() + ":" + std::to_string(l->toPort));
    }
    return;
  }
  fail("module \"" + id + "\" (" + m->className() + ") has no property \"" + name + "\"");
}

void writePicture(JDiagram& d, const std::string& path) {
  JCanvas canvas = renderDiagram(d);
  std::string error;
  if (!canvas.writePNG(path, &error)) fail(path + ": error: " + error);
}

int commandRun(const Options& o) {
  if (o.positional.size() != 1) fail("run: give one DIAGRAM (see loomwork run --help)");
  checkOutputFile(o.save, "--save");
  checkOutputFile(o.render, "--render");
  auto d = load(o.positional[0]);
  for (const auto& s : o.sets) applySetting(*d, s);
  std::vector<Player*> players;
  for (JModuleObj* m : d->modules()) {
    std::string error;
    if (auto* p = dynamic_cast<Player*>(m)) {
      if (!p->load(error)) fail(error);
      players.push_back(p);
    } else if (auto* v = dynamic_cast<Value*>(m)) {
      if (!v->check(error)) fail(error);
    }
  }
  if (o.trace) {
    d->setObserver([](JModuleObj& m, int output, const JWireValue& v) {
      hostPrintLine("T " + m.id() + "." + std::to_string(output) + " " + v.format());
    });
  }
  RunControl control(*d, players);  // first: every thread made after it leaves the signals to it
  OutputFlusher flusher;
  d->bindHostThread();
  d->startupAll();
  long long deadline = o.seconds < 0 ? -1 : JClock::millis() + static_cast<long long>(std::llround(o.seconds * 1000));
  d->run(
      [&] {
        if (control.stopRequested()) return true;
        if (!o.untilIdle) return false;
        for (Player* p : players)
          if (!p->finished()) return false;
        return d->nothingQueued();
      },
      deadline);
  control.closing();
  d->closeAll();
  d->runPending();  // what the modules' threads sent before they stopped
  d->setObserver(nullptr);
  hostFlush();
  if (!o.save.empty()) {
    moveRelativePaths(*d, o.save);
    try {
      d->saveFile(o.save);
    } catch (const JDiagramError& e) {
      fail(e.what());
    }
  }
  if (!o.render.empty()) writePicture(*d, o.render);
  return 0;
}

const char* sideName(int face) {
  switch (face) {
    case 0: return "left";
    case 1: return "top";
    case 2: return "right";
    case 3: return "bottom";
    default: return "unknown";
  }
}

nlohmann::ordered_json propertyJson(JProperty& p) {
  nlohmann::ordered_json j;
  j["name"] = p.getName().str();
  j["kind"] = p.kind();
  if (auto* i = dynamic_cast<JIntegerProperty*>(&p)) {
    j["value"] = i->value;
    j["minimum"] = i->minimum;
    j["maximum"] = i->maximum;
  } else if (auto* l = dynamic_cast<JIntegerListProperty*>(&p)) {
    j["value"] = l->value;
    nlohmann::ordered_json choices = nlohmann::ordered_json::array();
    for (const auto& t : l->tags) choices.push_back(t.str());
    j["choices"] = choices;
  } else if (auto* c = dynamic_cast<JColorProperty*>(&p)) {
    j["value"] = {c->color.getRed(), c->color.getGreen(), c->color.getBlue()};
  } else {
    j["value"] = p.valueText().str();
  }
  return j;
}

// One class, readably: its ports and properties.
void printClass(const std::string& name, JModuleObj& m) {
  std::printf("%s\n", name.c_str());
  for (bool inputs : {true, false}) {
    const int count = inputs ? m.inputCount : m.outputCount;
    std::printf("  %s:%s\n", inputs ? "inputs" : "outputs", count ? "" : " none");
    for (int i = 0; i < count; ++i)
      std::printf("    %2d  %-28s %-8s %s\n", i, (inputs ? m.inputTag(i) : m.outputTag(i)).c_str(),
                  dataTypeName(inputs ? m.inputType(i) : m.outputType(i)),
                  sideName(inputs ? m.inputFace(i) : m.outputFace(i)));
  }
  JArray a = m.getProperties();
  std::printf("  properties:%s\n", a.size() ? "" : " none");
  for (int i = 0; i < a.size(); ++i) {
    auto* p = dynamic_cast<JProperty*>(a[i]);
    if (!p) continue;
    std::string value = p->valueText().str();
    if (std::strcmp(p->kind(), "text") == 0) value = jsonQuote(value);
    const std::string range = p->rangeText().str();
    std::printf("    %-28s %-7s %s%s%s\n", p->getName().c_str(), p->kind(), value.c_str(), range.empty() ? "" : "  ",
                range.c_str());
  }
}

// One class as a section of the reference page.
void printClassMarkdown(const std::string& name, JModuleObj& m) {
  auto cell = [](std::string s) {
    std::string out;
    for (char c : s) out += c == '|' ? std::string("\\|") : std::string(1, c);
    return out.empty() ? std::string(" ") : out;
  };
  std::printf("\n## %s\n", name.c_str());
  for (bool inputs : {true, false}) {
    const int count = inputs ? m.inputCount : m.outputCount;
    std::printf("\n%s:%s\n", inputs ? "Inputs" : "Outputs", count ? "" : " none");
    if (!count) continue;
    std::printf("\n| # | tag | type | side |\n| --- | --- | --- | --- |\n");
    for (int i = 0; i < count; ++i)
      std::printf("| %d | %s | %s | %s |\n", i, cell((inputs ? m.inputTag(i) : m.outputTag(i)).str()).c_str(),
                  dataTypeName(inputs ? m.inputType(i) : m.outputType(i)),
                  sideName(inputs ? m.inputFace(i) : m.outputFace(i)));
  }
  JArray a = m.getProperties();
  std::printf("\nProperties:%s\n", a.size() ? "" : " none");
  if (a.size()) std::printf("\n| name | kind | default | range |\n| --- | --- | --- | --- |\n");
  for (int i = 0; i < a.size(); ++i) {
    auto* p = dynamic_cast<JProperty*>(a[i]);
    if (!p) continue;
    std::string value = p->valueText().str();
    if (std::strcmp(p->kind(), "text") == 0) value = jsonQuote(value);
    std::printf("| %s | %s | %s | %s |\n", cell(p->getName().str()).c_str(), p->kind(), cell(value).c_str(),
                cell(p->rangeText().str()).c_str());
  }
  JOutputStream os;
  m.writeContent(os);
  std::string keys;
  for (const auto& e : os.node().entries()) keys += (keys.empty() ? "`" : ", `") + e.first + "`";
  std::printf("\nStored keys, in order: %s\n", keys.empty() ? "none" : keys.c_str());
}

int commandModules(const Options& o) {
  if (o.markdown)
    std::printf("# Module reference\n\nEvery module class: its ports, its properties with their defaults and ranges, and\n"
                "the keys it stores in a diagram's \"content\". Written by `loomwork modules --markdown`.\n");
  nlohmann::ordered_json all = nlohmann::ordered_json::array();
  for (const auto& name : JClassRegistry::names()) {
    const auto* proto = dynamic_cast<const JModuleObj*>(JClassRegistry::prototype(name));
    if (!proto) continue;
    std::unique_ptr<JModuleObj> m(static_cast<JModuleObj*>(proto->clone()));
    m->rect = JRect(0, 0, 80, 60);
    JComponent::Scope scope(m.get());
    if (o.markdown) {
      printClassMarkdown(name, *m);
      continue;
    }
    if (!o.json) {
      printClass(name, *m);
      continue;
    }
    nlohmann::ordered_json c;
    c["class"] = name;
    auto ports = [&](bool inputs) {
      nlohmann::ordered_json list = nlohmann::ordered_json::array();
      int count = inputs ? m->inputCount : m->outputCount;
      for (int i = 0; i < count; ++i) {
        nlohmann::ordered_json p;
        p["index"] = i;
        p["tag"] = (inputs ? m->inputTag(i) : m->outputTag(i)).str();
        p["type"] = dataTypeName(inputs ? m->inputType(i) : m->outputType(i));
        p["side"] = sideName(inputs ? m->inputFace(i) : m->outputFace(i));
        list.push_back(p);
      }
      return list;
    };
    c["inputs"] = ports(true);
    c["outputs"] = ports(false);
    nlohmann::ordered_json props = nlohmann::ordered_json::array();
    JArray a = m->getProperties();
    for (int i = 0; i < a.size(); ++i)
      if (auto* p = dynamic_cast<JProperty*>(a[i])) props.push_back(propertyJson(*p));
    c["properties"] = props;
    all.push_back(c);
  }
  if (o.json) std::printf("%s\n", all.dump(2).c_str());
  return 0;
}

int commandProps(const Options& o) {
  if (o.positional.size() != 2) fail("props: give DIAGRAM and ID (see loomwork props --help)");
  auto d = load(o.positional[0]);
  JModuleObj* m = d->find(o.positional[1]);
  if (!m) fail("unknown module id \"" + o.positional[1] + "\"");
  JComponent::Scope scope(m);
  JArray a = m->getProperties();
  for (int i = 0; i < a.size(); ++i) {
    auto* p = dynamic_cast<JProperty*>(a[i]);
    if (!p) continue;
    std::string value = p->valueText().str();
    if (std::strcmp(p->kind(), "text") == 0) value = jsonQuote(value);
    std::string range = p->rangeText().str();
    std::printf("%s %s %s%s%s\n", p->getName().c_str(), p->kind(), value.c_str(), range.empty() ? "" : " ",
                range.c_str());
  }
  return 0;
}

int commandSet(const Options& o) {
  if (o.positional.size() < 2) fail("set: give DIAGRAM and ID.PROPERTY=VALUE (see loomwork set --help)");
  auto d = load(o.positional[0]);
  for (size_t i = 1; i < o.positional.size(); ++i) applySetting(*d, o.positional[i]);
  try {
    d->saveFile(o.positional[0]);
  } catch (const JDiagramError& e) {
    fail(e.what());
  }
  return 0;
}

int commandRender(const Options& o) {
  if (o.positional.size() != 1 || o.out.empty()) fail("render: give DIAGRAM and --out OUT.png");
  auto d = load(o.positional[0]);
  writePicture(*d, o.out);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "help")) {
    std::fputs(kUsage, argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  std::string command = argv[1];
  struct Entry {
    const char* name;
    const char* help;
    int (*run)(const Options&);
  };
  static const Entry commands[] = {{"run", kRunHelp, commandRun},
                                   {"modules", kModulesHelp, commandModules},
                                   {"props", kPropsHelp, commandProps},
                                   {"set", kSetHelp, commandSet},
                                   {"render", kRenderHelp, commandRender}};
  try {
    for (const auto& c : commands) {
      if (command != c.name) continue;
      Options o = parseOptions(command, argc, argv);
      if (o.help) {
        std::fputs(c.help, stdout);
        return 0;
      }
      registerHostModules();
      searchedFolders = loadModuleLibraries(o.modules);
      return c.run(o);
    }
    fail("unknown command \"" + command + "\" (see loomwork --help)");
  } catch (const Failure& f) {
    hostFlush();
    std::fprintf(stderr, "%s\n", f.message.c_str());
    return 2;
  }
}
