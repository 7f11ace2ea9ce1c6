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

#include "CanvasEdits.h"
#include "CanvasServer.h"
#include "ClassDescription.h"
#include "HostOutput.h"
#include "Libraries.h"
#include "Monitor.h"
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
    "              [--save OUT.lwd] [--render OUT.png] [--serve [HOST:]PORT] [--modules DIR]...\n"
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
    "  --serve [HOST:]PORT      show the canvas in a browser while the run goes on: watch values,\n"
    "                           move, wire and set modules, save (HOST defaults to 127.0.0.1;\n"
    "                           port 0 takes a free one; another HOST needs the printed token)\n"
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
  std::string save, render, out, serve;
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
    else if (a == "--serve" && command == "run") o.serve = value(i);
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

void writePicture(JDiagram& d, const std::string& path) {
  std::string error;
  if (!writeDiagramPicture(d, path, error)) fail(path + ": error: " + error);
}

// The modules that play a script of values, for the progress line and --until-idle.
std::vector<JModuleObj*> playersOf(JDiagram& d, const JModuleObj* leaving = nullptr) {
  std::vector<JModuleObj*> players;
  for (JModuleObj* m : d.modules()) {
    size_t played = 0, total = 0;
    if (m != leaving && m->playProgress(played, total)) players.push_back(m);
  }
  return players;
}

// `loomwork modules --json`, which the canvas also serves.
std::string classesAsJson(const std::vector<ClassDescription>& classes) {
  nlohmann::ordered_json all = nlohmann::ordered_json::array();
  for (const auto& c : classes) all.push_back(describeAsJson(c));
  return all.dump(2) + "\n";
}

int commandRun(const Options& o) {
  if (o.positional.size() != 1) fail("run: give one DIAGRAM (see loomwork run --help)");
  CanvasServer::Address address;
  if (!o.serve.empty() && !CanvasServer::parseAddress(o.serve, address))
    fail("run: --serve takes [HOST:]PORT, not \"" + o.serve + "\"");
  checkOutputFile("run", o.save, "--save");
  checkOutputFile("run", o.render, "--render");
  auto d = load(o.positional[0]);
  for (const auto& s : o.sets) applySetting(*d, s);
  for (JModuleObj* m : d->modules()) {
    std::string error;
    if (!m->prepareRun(error)) fail(error);
  }
  std::unique_ptr<RunControl> control;  // first: every thread made after it leaves the signals to it
  try {
    control = std::make_unique<RunControl>(*d, playersOf(*d));
  } catch (const std::runtime_error& e) { fail(e.what()); }
  std::unique_ptr<CanvasServer> server;
  if (!o.serve.empty()) {
    server = std::make_unique<CanvasServer>(*d, o.positional[0], classesAsJson(ClassDescription::allRegistered()));
    try {
      server->start(address);
    } catch (const std::runtime_error& e) { fail(e.what()); }
    server->modulesChanged = [&](JModuleObj* leaving) { control->setPlayers(playersOf(*d, leaving)); };
    Monitor::setLineListener([&](const std::string& line) { server->monitorLine(line); });
    std::fprintf(stderr, "serving %s\n", server->url().c_str());
  }
  if (o.trace || server) {
    const bool trace = o.trace;
    CanvasServer* canvas = server.get();
    d->setObserver([trace, canvas](JModuleObj& m, int output, const JWireValue& v) {
      if (trace) hostPrintLine(OutputLines::trace(m.id(), output, v));
      if (canvas) canvas->valueSeen(m, output, v);
    });
  }
  OutputFlusher flusher;
  d->bindHostThread();
  d->startupAll();
  long long deadline = o.seconds < 0 ? -1 : JClock::millis() + static_cast<long long>(std::llround(o.seconds * 1000));
  d->run(
      [&] {
        if (control->stopRequested()) return true;
        if (!o.untilIdle) return false;
        for (JModuleObj* p : playersOf(*d)) {
          size_t played = 0, total = 0;
          if (p->playProgress(played, total) && played < total) return false;
        }
        for (JModuleObj* m : d->modules())
          if (m->busy()) return false;
        return d->nothingQueued();
      },
      deadline);
  if (server) server->close();  // no edit after the run; pages see the stream end
  control->closing();
  d->closeAll();
  d->runPending();  // what the modules' threads sent before they stopped
  d->setObserver(nullptr);
  Monitor::setLineListener(nullptr);
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
    out = classesAsJson(classes);
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
  } catch (const EditError& e) {
    hostFlush();
    std::fprintf(stderr, "%s\n", escapeForMessage(e.what()).c_str());
    return 2;
  }
}
