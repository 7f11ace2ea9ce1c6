// loomwork: the headless host. Loads module libraries, runs diagrams, traces values, edits
// properties and renders module faces.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "ClassDescription.h"
#include "HostOutput.h"
#include "Libraries.h"
#include "OutputLines.h"
#include "Render.h"
#include "RunControl.h"
#include "base/JClock.h"
#include "base/JFiles.h"
#include "base/JString.h"
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
    "Each command takes --help; --version prints the version.\n"
    "Environment:\n"
    "  LOOMWORK_MODULES        module folders, separated by ':' (default: the modules folder beside\n"
    "                          the program, or ../lib/loomwork/modules when installed)\n"
    "  LOOMWORK_FONT           the TrueType font of the pictures (default: DejaVu Sans)\n"
    "  LOOMWORK_SPEECH_INPUT   a WAVE file or FIFO the speech recognizer listens to instead of the\n"
    "                          microphone\n"
    "  LOOMWORK_SPEECH_OUTPUT  a folder the speech output writes WAVE files into instead of playing\n";

const char* kRunHelp =
    "usage: loomwork run DIAGRAM [options]\n"
    "Loads the diagram, starts every module and runs the host: for --seconds, or with\n"
    "--until-idle until every Player has played its file and nothing is queued, or without\n"
    "either until interrupted (Ctrl-C, SIGINT or SIGTERM). Then closes every module, saves,\n"
    "renders and exits 0; a second Ctrl-C while closing ends at once (status 130). A stuck\n"
    "standard output is given up on half a second after the first Ctrl-C.\n"
    "  --seconds S              stop after S seconds (decimals allowed)\n"
    "  --until-idle             stop once every Player is done and nothing is queued\n"
    "  --trace                  print 'T ID.OUTPUT VALUE' for every broadcast\n"
    "  --set ID.PROPERTY=VALUE  change a property before the run (repeatable)\n"
    "  --save OUT.lwd           save the diagram after the run\n"
    "  --render OUT.png         draw the diagram after the run (PNG)\n"
    "  --modules DIR            load module libraries from DIR (repeatable)\n"
    "Monitors print 'M ID.INPUT VALUE'; values are decimal, JSON strings, or 0x and hex pairs.\n"
    "The targets of --save and --render are checked before the run; files are replaced whole.\n"
    "Environment: LOOMWORK_MODULES, LOOMWORK_FONT, LOOMWORK_SPEECH_INPUT, LOOMWORK_SPEECH_OUTPUT\n"
    "(see loomwork --help).\n";

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
  bool version = false;
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
    else if (a == "--version") o.version = true;
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
      message += " (module libraries searched in: " + folders + ")";
    }
    fail(message);
  }
  for (const auto& w : d->loadWarnings()) std::fprintf(stderr, "%s\n", escapeForMessage(w).c_str());
  return d;
}

// A file a command will write: a writable file in an existing folder, checked before any work, and a
// picture only under a PNG name (its data is PNG whatever the name says).
void checkOutputFile(const std::string& command, const std::string& path, const char* option) {
  if (path.empty()) return;
  std::string why;
  if (!checkWritableFile(path, why)) fail(command + ": " + option + " " + path + ": " + why);
  if (std::string(option) != "--save") {
    std::string ext = fs::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    if (ext != ".png") fail(command + ": " + option + " " + path + ": " + option + " writes PNG");
  }
}

// Saving into another folder: every relative path in the modules' settings that names an existing
// file from the diagram's folder is written anew relative to the new folder, so that the saved
// diagram still finds its files. A module's path settings are the rows marked so; a module without
// a settings table has each text property that names a file taken as one.
void moveRelativePaths(JDiagram& d, const std::string& savePath) {
  std::error_code ec;
  const fs::path from = fs::absolute(d.folder().empty() ? fs::path(".") : fs::path(d.folder()), ec);
  const fs::path to =
      fs::absolute(fs::path(savePath).parent_path().empty() ? fs::path(".") : fs::path(savePath).parent_path(), ec);
  if (fs::equivalent(from, to, ec)) return;
  // The same file named from the new folder, or "" when it is not a relative path to a file.
  auto moved = [&](const std::string& path) -> std::string {
    if (path.empty()) return std::string();
    const fs::path rel(path);
    if (rel.is_absolute() || !fs::is_regular_file(from / rel, ec)) return std::string();
    const fs::path m = fs::relative(fs::weakly_canonical(from / rel, ec), fs::weakly_canonical(to, ec), ec);
    return ec ? std::string() : m.string();
  };
  for (JModuleObj* m : d.modules()) {
    JComponent::Scope scope(m);
    if (const JSettings* table = m->settings()) {
      for (const JSetting& row : table->rows()) {
        if (!row.isPath()) continue;
        for (int i = 0; i < row.count(); ++i) {
          JSettingValue v = row.get(*m, i);
          const std::string path = moved(v.text.str());
          if (path.empty()) continue;
          v.text = JString(path);
          row.apply(*m, i, v);
        }
      }
      continue;
    }
    JArray props = m->getProperties();
    for (int i = 0; i < props.size(); ++i) {
      auto* p = dynamic_cast<JStringProperty*>(props[i]);
      if (!p) continue;
      const std::string path = moved(p->value.str());
      if (path.empty()) continue;
      p->value = JString(path);
      m->updateProperty(*p);
    }
  }
}

// A setting that takes a port away or changes its type would strand a wire, and a saved diagram
// with it could not be loaded again.
void checkLinksFit(JDiagram& d, JModuleObj& m, const std::string& what) {
  for (const auto& l : d.links()) {
    if (l->from != &m && l->to != &m) continue;
    bool fits = l->fromPort < l->from->outputCount && l->toPort < l->to->inputCount;
    if (fits) {
      int out = l->from->outputType(l->fromPort), in = l->to->inputType(l->toPort);
      fits = out == in || in == kAnyDataType;
    }
    if (!fits)
      fail(what + " leaves no matching port for the link " + l->from->id() + ":" + std::to_string(l->fromPort) +
           " -> " + l->to->id() + ":" + std::to_string(l->toPort));
  }
}

// ID.PROPERTY=VALUE applied through the module's settings table (or, for a module without one, its
// updateProperty).
void applySetting(JDiagram& d, const std::string& setting) {
  auto eq = setting.find('=');
  auto dot = setting.find('.');
  if (eq == std::string::npos || dot == std::string::npos || dot > eq || dot == 0)
    fail("\"" + setting + "\" is not ID.PROPERTY=VALUE");
  std::string id = setting.substr(0, dot), name = setting.substr(dot + 1, eq - dot - 1), text = setting.substr(eq + 1);
  JModuleObj* m = d.find(id);
  if (!m) fail("unknown module id \"" + id + "\"");
  JComponent::Scope scope(m);
  // Through the module's settings table: the row's range rule, as a diagram file would meet it.
  JSettingResult result;
  if (m->applySetting(name, text, result)) {
    if (result.status == JSettingResult::kRefused) fail(id + "." + name + ": " + result.message);
    if (result.status == JSettingResult::kIgnored)
      std::fprintf(stderr, "%s\n", escapeForMessage(id + "." + name + ": warning: " + result.message).c_str());
    checkLinksFit(d, *m, id + "." + name + ": " + text);
    return;
  }
  JArray props = m->getProperties();
  for (int i = 0; i < props.size(); ++i) {
    auto* p = dynamic_cast<JProperty*>(props[i]);
    if (!p || p->getName().str() != name) continue;
    JString error;
    if (!p->parseValue(JString(text), error)) fail(id + "." + name + ": " + error.str());
    if (!m->updateProperty(*p)) fail(id + "." + name + ": the module did not accept the value");
    checkLinksFit(d, *m, id + "." + name + ": " + text);
    return;
  }
  fail("module \"" + id + "\" (" + m->className() + ") has no property \"" + name + "\"");
}

void writePicture(JDiagram& d, const std::string& path) {
  std::string error;
  if (!writeDiagramPicture(d, path, error)) fail(path + ": error: " + error);
}

int commandRun(const Options& o) {
  if (o.positional.size() != 1) fail("run: give one DIAGRAM (see loomwork run --help)");
  checkOutputFile("run", o.save, "--save");
  checkOutputFile("run", o.render, "--render");
  auto d = load(o.positional[0]);
  for (const auto& s : o.sets) applySetting(*d, s);
  std::vector<JModuleObj*> players;
  for (JModuleObj* m : d->modules()) {
    std::string error;
    if (!m->prepareRun(error)) fail(error);
    size_t played = 0, total = 0;
    if (m->playProgress(played, total)) players.push_back(m);
  }
  if (o.trace) {
    d->setObserver(
        [](JModuleObj& m, int output, const JWireValue& v) { hostPrintLine(OutputLines::trace(m.id(), output, v)); });
  }
  std::unique_ptr<RunControl> control;  // first: every thread made after it leaves the signals to it
  try {
    control = std::make_unique<RunControl>(*d, players);
  } catch (const std::runtime_error& e) { fail(e.what()); }
  OutputFlusher flusher;
  d->bindHostThread();
  d->startupAll();
  long long deadline = o.seconds < 0 ? -1 : JClock::millis() + static_cast<long long>(std::llround(o.seconds * 1000));
  d->run(
      [&] {
        if (control->stopRequested()) return true;
        if (!o.untilIdle) return false;
        for (JModuleObj* p : players) {
          size_t played = 0, total = 0;
          if (p->playProgress(played, total) && played < total) return false;
        }
        for (JModuleObj* m : d->modules())
          if (m->busy()) return false;
        return d->nothingQueued();
      },
      deadline);
  control->closing();
  d->closeAll();
  d->runPending();  // what the modules' threads sent before they stopped
  d->setObserver(nullptr);
  hostFlush();
  if (const size_t dropped = hostUnwrittenLines()) {
    // Said only where it cannot block: standard error may be the same stuck pipe.
    char note[160];
    const int n =
        std::snprintf(note, sizeof note,
                      "run: %zu output lines were not written: standard output took nothing after the stop\n", dropped);
    pollfd p{STDERR_FILENO, POLLOUT, 0};
    if (n > 0 && ::poll(&p, 1, 0) == 1 && (p.revents & POLLOUT)) {
      ssize_t w = ::write(STDERR_FILENO, note, static_cast<size_t>(std::min<int>(n, sizeof note - 1)));
      (void)w;
    }
  }
  if (!o.save.empty()) {
    moveRelativePaths(*d, o.save);
    try {
      d->saveFile(o.save);
    } catch (const JDiagramError& e) { fail(e.what()); }
  }
  if (!o.render.empty()) writePicture(*d, o.render);
  return 0;
}

int commandModules(const Options& o) {
  const std::vector<ClassDescription> classes = ClassDescription::allRegistered();
  std::string out;
  if (o.markdown) {
    out = markdownPageHeading();
    for (const auto& c : classes) out += describeAsMarkdown(c);
  } else if (o.json) {
    nlohmann::ordered_json all = nlohmann::ordered_json::array();
    for (const auto& c : classes) all.push_back(describeAsJson(c));
    out = all.dump(2) + "\n";
  } else {
    for (const auto& c : classes) out += describeAsText(c);
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  return 0;
}

int commandProps(const Options& o) {
  if (o.positional.size() != 2) fail("props: give DIAGRAM and ID (see loomwork props --help)");
  auto d = load(o.positional[0]);
  JModuleObj* m = d->find(o.positional[1]);
  if (!m) fail("unknown module id \"" + o.positional[1] + "\"");
  JComponent::Scope scope(m);
  const std::string out = describePropertyLines(ClassDescription::of(m->className(), *m));
  std::fwrite(out.data(), 1, out.size(), stdout);
  return 0;
}

int commandSet(const Options& o) {
  if (o.positional.size() < 2) fail("set: give DIAGRAM and ID.PROPERTY=VALUE (see loomwork set --help)");
  std::string why;
  if (!checkWritableFile(o.positional[0], why)) fail("set: " + o.positional[0] + ": " + why);
  auto d = load(o.positional[0]);
  for (size_t i = 1; i < o.positional.size(); ++i) applySetting(*d, o.positional[i]);
  try {
    d->saveFile(o.positional[0]);
  } catch (const JDiagramError& e) { fail(e.what()); }
  return 0;
}

int commandRender(const Options& o) {
  if (o.positional.size() != 1 || o.out.empty()) fail("render: give DIAGRAM and --out OUT.png");
  checkOutputFile("render", o.out, "--out");
  auto d = load(o.positional[0]);
  writePicture(*d, o.out);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && !std::strcmp(argv[1], "--version")) {
    std::printf("loomwork %s\n", LOOMWORK_VERSION);
    return 0;
  }
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
      if (o.version) {
        std::printf("loomwork %s\n", LOOMWORK_VERSION);
        return 0;
      }
      registerHostModules();
      searchedFolders = loadModuleLibraries(o.modules);
      return c.run(o);
    }
    fail("unknown command \"" + command + "\" (see loomwork --help)");
  } catch (const Failure& f) {
    hostFlush();
    std::fprintf(stderr, "%s\n", escapeForMessage(f.message).c_str());
    return 2;
  }
}
