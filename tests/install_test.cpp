// The installed tree as a user gets it: `cmake --install` into a fresh prefix and the Debian
// package unpacked into a folder, each run with only its own bin on PATH and no LOOMWORK_MODULES:
// every class the build made loads with nothing on standard error, the examples of every family
// run from the installed examples folder, the SDK example builds against the prefix, and the
// uninstall step takes away what the install put there.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>

#include <unistd.h>

#include "testing/Loopback.h"
#include "testing/Process.h"
#include "testing/TempFolder.h"

namespace fs = std::filesystem;

namespace {
const std::string kSystemPath = "/usr/local/bin:/usr/bin:/bin";

// Runs a command line through env, with the given PATH, LOOMWORK_MODULES unset and more settings.
ProcessResult shell(const std::string& path, const std::vector<std::string>& args, int ms,
                    const std::vector<std::string>& env = {}) {
  std::vector<std::string> all{"-u", "LOOMWORK_MODULES", "PATH=" + path};
  all.insert(all.end(), env.begin(), env.end());
  all.insert(all.end(), args.begin(), args.end());
  return runProcess("/usr/bin/env", all, ms);
}

// The class names in `loomwork modules --json`.
std::set<std::string> classNames(const std::string& json) {
  std::set<std::string> names;
  static const std::regex name("\"class\": *\"([A-Za-z0-9_]+)\"");
  for (auto it = std::sregex_iterator(json.begin(), json.end(), name); it != std::sregex_iterator(); ++it)
    names.insert((*it)[1]);
  return names;
}

std::set<std::string> classesOfTheBuild() {
  ProcessResult r = runProcess(LOOMWORK_BIN, {"modules", "--json", "--modules", LOOMWORK_MODULES_DIR}, 60000);
  EXPECT_EQ(r.status, 0) << r.err;
  return classNames(r.out);
}

// Every class of the build loads from the tree whose programs lie in `bin`, silently.
void everyClassLoads(const std::string& bin) {
  ProcessResult r = shell(bin, {"loomwork", "modules", "--json"}, 60000);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "") << "loading the installed classes";
  const std::set<std::string> installed = classNames(r.out);
  for (const std::string& c : classesOfTheBuild()) EXPECT_TRUE(installed.count(c)) << c << " is not loaded";
}

// Runs a diagram of the installed examples; the run ends well and says nothing on standard error.
ProcessResult runExample(const std::string& bin, const std::string& examples, const std::string& diagram,
                         std::vector<std::string> more, const std::vector<std::string>& env = {}) {
  std::vector<std::string> args{"loomwork", "run", examples + "/" + diagram};
  args.insert(args.end(), more.begin(), more.end());
  ProcessResult r = shell(bin, args, 60000, env);
  EXPECT_EQ(r.status, 0) << diagram << ": " << r.err;
  EXPECT_EQ(r.err, "") << diagram;
  return r;
}

bool has(const ProcessResult& r, const std::string& line) {
  const auto lines = r.outLines();
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// A free loopback port within a class's port range (the examples' classes take no port above 5000).
int freePortIn(int lo, int hi) {
  for (int tries = 0; tries < 200; ++tries) {
    const int want = lo + static_cast<int>((::getpid() * 7919u + tries * 104729u) % static_cast<unsigned>(hi - lo));
    int bound = 0;
    const int fd = listenOnLoopback(want, 1, bound);
    if (fd >= 0) {
      ::close(fd);
      return want;
    }
  }
  return 0;
}

// A program beside the test that names the port it took on its first line of output.
int portFrom(RunningProcess& p, const std::regex& said) {
  int port = 0;
  p.readUntil(
      [&](const ProcessResult& r) {
        std::smatch m;
        const std::string all = r.out + r.err;
        if (!std::regex_search(all, m, said)) return false;
        port = std::stoi(m[1]);
        return true;
      },
      10000);
  return port;
}

// The examples of every family, run from an installed examples folder.
void examplesOfEveryFamilyRun(const std::string& bin, const std::string& examples, const TempFolder& dir) {
  EXPECT_TRUE(has(runExample(bin, examples, "first/first.lwd", {"--until-idle"}), "M monitor.0 65535"));
  EXPECT_FALSE(runExample(bin, examples, "posture/posture.lwd", {"--until-idle"}).out.empty());
  EXPECT_FALSE(runExample(bin, examples, "gesture/gesture.lwd", {"--until-idle"}).out.empty());
  EXPECT_TRUE(
      has(runExample(bin, examples, "devices/gps-player.lwd", {"--until-idle"}), "M position.0 \"49 16.4500 N\""));
  EXPECT_FALSE(runExample(bin, examples, "devices/tracker-player.lwd", {"--until-idle"}).out.empty());
  runExample(bin, examples, "tones/tones.lwd",
             {"--seconds", "0.3", "--set", "dtmf.port=" + std::to_string(freePortIn(4000, 5000))});

  // The scene family talks to the installed scene viewer.
  if (fs::exists(bin + "/sceneview")) {
    const int port = freePortIn(4000, 5000);
    RunningProcess viewer(bin + "/sceneview",
                          {"--port", std::to_string(port), "--scenes", examples + "/scene", "--seconds", "60"});
    ASSERT_GT(portFrom(viewer, std::regex("listening on ([0-9]+)")), 0) << viewer.soFar().err;
    runExample(bin, examples, "scene/scene.lwd", {"--until-idle", "--set", "feed.port=" + std::to_string(port)});
    viewer.signal(SIGTERM);
    const ProcessResult seen = viewer.finish(10000);
    EXPECT_NE(seen.out.find("names ball,floor,lamp"), std::string::npos) << seen.out << seen.err;
  }

  // The page reader against a web server serving the installed sample page.
  const int port = freePortIn(4000, 5000);
  RunningProcess server("/usr/bin/env", {"python3", "-u", "-m", "http.server", std::to_string(port), "--bind",
                                         "127.0.0.1", "--directory", examples + "/pages"});
  ASSERT_GT(portFrom(server, std::regex("port ([0-9]+)")), 0) << server.soFar().out << server.soFar().err;
  EXPECT_TRUE(has(runExample(bin, examples, "pages/pages.lwd",
                             {"--seconds", "2", "--set", "page.port=" + std::to_string(port), "--set",
                              "page.hostName/IPaddress=127.0.0.1"}),
                  "M values.0 21"));

  // Speech, with files in place of the sound card.
  if (fs::exists(examples + "/speech/commands.wav")) {
    const std::string said = dir.file("said");
    fs::create_directories(said);
    const ProcessResult r =
        runExample(bin, examples, "speech/speech.lwd", {"--seconds", "5"},
                   {"LOOMWORK_SPEECH_OUTPUT=" + said, "LOOMWORK_SPEECH_INPUT=" + examples + "/speech/commands.wav"});
    EXPECT_TRUE(has(r, "M heard.1 1")) << r.out;
    EXPECT_TRUE(fs::exists(said + "/0001.wav"));
  }
}

// Files under `root` (relative), for comparing trees.
std::set<std::string> filesUnder(const std::string& root) {
  std::set<std::string> files;
  if (!fs::exists(root)) return files;
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (!e.is_directory()) files.insert(fs::relative(e.path(), root).string());
  return files;
}
}  // namespace

// The package's staging install writes the build's install manifest too, so it runs after the
// prefix's uninstall has read it (one test, in order).
static void theUnpackedPackageLoadsEveryClassAndDeclaresItsRuntime() {
  TempFolder dir("loomwork-package");
  const std::string out = dir.file("cpack");
  ProcessResult r = shell(
      kSystemPath,
      {"cpack", "-G", "DEB", "-B", out, "--config", std::string(LOOMWORK_BUILD_DIR) + "/CPackConfig.cmake"}, 240000);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  std::string deb;
  for (const auto& e : fs::directory_iterator(out))
    if (e.path().extension() == ".deb") deb = e.path().string();
  ASSERT_FALSE(deb.empty()) << r.out;

  const std::string root = dir.file("root");
  r = shell(kSystemPath, {"dpkg-deb", "-x", deb, root}, 60000);
  ASSERT_EQ(r.status, 0) << r.err;
  everyClassLoads(root + "/usr/bin");
  EXPECT_TRUE(
      has(runExample(root + "/usr/bin", root + "/usr/share/loomwork/examples", "first/first.lwd", {"--until-idle"}),
          "M monitor.0 65535"));

  r = shell(kSystemPath, {"dpkg-deb", "-f", deb, "Depends"}, 30000);
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* needed : {"libpng16-16", "libfreetype6", "fonts-dejavu-core"})
    EXPECT_NE(r.out.find(needed), std::string::npos) << needed << " in " << r.out;
  if (fs::exists(root + "/usr/lib/loomwork/modules/JVoiceOutObj.so")) {
    for (const char* needed : {"libespeak-ng1", "libpocketsphinx3", "libasound2", "pocketsphinx-en-us"})
      EXPECT_NE(r.out.find(needed), std::string::npos) << needed << " in " << r.out;
  }
}

TEST(Install, ThePrefixAndThePackageLoadEveryClassRunEveryFamilyAndBuildTheSdkExample) {
  TempFolder dir("loomwork-install");
  const std::string prefix = dir.file("prefix");
  ProcessResult r = shell(kSystemPath, {"cmake", "--install", LOOMWORK_BUILD_DIR, "--prefix", prefix}, 120000);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_TRUE(fs::exists(prefix + "/bin/loomwork"));
  EXPECT_TRUE(fs::exists(prefix + "/bin/lwd2html"));
  EXPECT_TRUE(fs::exists(prefix + "/include/loomwork/loom/JModuleObj.h"));
  EXPECT_FALSE(fs::exists(prefix + "/bin/loomwork_tests")) << "test programs are not installed";

  // Public libraries carry the project's name and a versioned SONAME; no generic names.
  for (const char* lib : {"base", "loom", "gfxkit"}) {
    EXPECT_FALSE(fs::exists(prefix + "/lib/lib" + std::string(lib) + ".so")) << lib;
    EXPECT_TRUE(fs::exists(prefix + "/lib/libloomwork_" + std::string(lib) + ".so.1")) << lib;
  }
  // Only the examples kept in the repository are installed.
  const std::string examples = prefix + "/share/loomwork/examples";
  ProcessResult tracked = runProcess("/usr/bin/git", {"-C", LOOMWORK_SOURCE_DIR, "ls-files", "examples"}, 30000);
  if (tracked.status == 0 && !tracked.out.empty()) {
    std::set<std::string> kept;
    for (const std::string& f : tracked.outLines()) kept.insert(f.substr(std::string("examples/").size()));
    for (const std::string& f : filesUnder(examples)) EXPECT_TRUE(kept.count(f)) << "not in the repository: " << f;
  }

  everyClassLoads(prefix + "/bin");
  examplesOfEveryFamilyRun(prefix + "/bin", examples, dir);

  // The SDK example against the prefix, built outside the source tree.
  const std::string sdkBuild = dir.file("sdk-build");
  r = shell(kSystemPath,
            {"cmake", "-S", std::string(LOOMWORK_SOURCE_DIR) + "/examples/sdk", "-B", sdkBuild, "-G",
             LOOMWORK_GENERATOR, "-DCMAKE_PREFIX_PATH=" + prefix},
            120000);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  r = shell(kSystemPath, {"cmake", "--build", sdkBuild}, 240000);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  ASSERT_TRUE(fs::exists(sdkBuild + "/JStepCounter.so"));
  r = shell(prefix + "/bin",
            {"loomwork", "run", std::string(LOOMWORK_SOURCE_DIR) + "/examples/sdk/counter.lwd", "--seconds", "1.05",
             "--modules", sdkBuild},
            60000);
  EXPECT_EQ(r.status, 0) << r.err;
  // Ticks every 100 ms, steps of 5, past 20 back to 0.
  const auto lines = r.outLines();
  ASSERT_GE(lines.size(), 10u) << r.out;
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 10),
            (std::vector<std::string>{"M mon.0 5", "M mon.1 \"5\"", "M mon.0 10", "M mon.1 \"10\"", "M mon.0 15",
                                      "M mon.1 \"15\"", "M mon.0 20", "M mon.1 \"20\"", "M mon.0 0", "M mon.1 \"0\""}));

  // Uninstalling takes away every file the install put there, and nothing else.
  const std::string mine = prefix + "/share/mine.txt";
  std::ofstream(mine) << "kept\n";
  const std::string manifest = std::string(LOOMWORK_BUILD_DIR) + "/install_manifest.txt";
  r = shell(
      kSystemPath,
      {"cmake", "-DMANIFEST=" + manifest, "-P", std::string(LOOMWORK_SOURCE_DIR) + "/cmake/LoomworkUninstall.cmake"},
      60000);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(filesUnder(prefix), std::set<std::string>{"share/mine.txt"});

  theUnpackedPackageLoadsEveryClassAndDeclaresItsRuntime();
}
