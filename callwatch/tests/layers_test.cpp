// Callwatch's layers, read from the sources' include lines: base includes nothing of the other
// layers; core and platform never reach each other, directly or through another folder, and the
// SIP provider reaches neither; the providers' shared layer reaches only base (both providers may
// use it); the layers below the front ends use no Qt (the SIP provider only its settings file);
// every include of our own names its folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "testing/TempFolder.h"

namespace fs = std::filesystem;

namespace {

struct Source {
  std::vector<std::string> quoted;  // "..." includes
  std::vector<std::string> angled;  // <...> includes
};

// Every .h and .cpp under root (tests excluded), by its path relative to root.
std::map<std::string, Source> ReadSources(const fs::path& root) {
  std::map<std::string, Source> sources;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    const fs::path path = entry.path();
    if (path.extension() != ".h" && path.extension() != ".cpp") continue;
    const std::string name = fs::relative(path, root).generic_string();
    if (name.rfind("tests/", 0) == 0) continue;
    Source& s = sources[name];
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
      const size_t at = line.find_first_not_of(" \t");
      if (at == std::string::npos || line.compare(at, 8, "#include") != 0) continue;
      const size_t open = line.find_first_of("\"<", at + 8);
      if (open == std::string::npos) continue;
      const size_t close = line.find(line[open] == '"' ? '"' : '>', open + 1);
      if (close == std::string::npos) continue;
      (line[open] == '"' ? s.quoted : s.angled).push_back(line.substr(open + 1, close - open - 1));
    }
  }
  return sources;
}

std::string LayerOf(const std::string& file) { return file.substr(0, file.find('/')); }

// Every file of ours that file reaches through its includes, itself excluded.
std::set<std::string> Reached(const std::map<std::string, Source>& sources, const std::string& file) {
  std::set<std::string> seen;
  std::vector<std::string> todo{file};
  while (!todo.empty()) {
    const std::string at = todo.back();
    todo.pop_back();
    auto it = sources.find(at);
    if (it == sources.end()) continue;
    for (const std::string& include : it->second.quoted)
      if (sources.count(include) && seen.insert(include).second) todo.push_back(include);
  }
  return seen;
}

// What breaks the layering, one line per fault, "FILE: WHY".
std::vector<std::string> Faults(const std::map<std::string, Source>& sources) {
  const std::map<std::string, std::set<std::string>> forbidden{
      {"base", {"core", "platform", "link", "app", "sip", "provider"}},
      {"core", {"platform", "app", "sip", "provider"}},
      {"platform", {"core", "app", "sip"}},
      {"link", {"core", "platform", "app", "sip", "provider"}},
      {"sip", {"core", "platform", "link", "app"}},
      {"provider", {"core", "platform", "sip", "link", "app"}}};
  // The SIP provider reads its lines from the program's Qt settings file, and only that.
  const std::set<std::string> readsQtSettings{"sip"};
  std::vector<std::string> faults;
  for (const auto& [file, source] : sources) {
    const std::string layer = LayerOf(file);
    for (const std::string& include : source.quoted)
      if (include.find('/') == std::string::npos)
        faults.push_back(file + ": \"" + include + "\" does not name its folder");
    auto rule = forbidden.find(layer);
    if (rule == forbidden.end()) continue;
    for (const std::string& reached : Reached(sources, file))
      if (rule->second.count(LayerOf(reached))) faults.push_back(file + ": reaches " + reached);
    for (const std::string& include : source.angled)
      if (!include.empty() && include[0] == 'Q' &&
          !(readsQtSettings.count(layer) && (include == "QSettings" || include == "QString")))
        faults.push_back(file + ": uses Qt (<" + include + ">)");
  }
  return faults;
}

TEST(CallwatchLayersTest, NoLayerReachesAnotherItMustNotAndNoneBelowTheFrontEndsUsesQt) {
  const auto sources = ReadSources(CALLWATCH_SOURCE_DIR);
  // The scan found the layers it checks.
  for (const char* file : {"base/TapiDefs.h", "core/CallMonitor.h", "platform/Exchange.h", "link/DigitLink.h",
                           "app/main.cpp", "sip/SipState.h", "provider/Provider.h"})
    EXPECT_EQ(sources.count(file), 1u) << file;
  EXPECT_EQ(Faults(sources), std::vector<std::string>{});
}

TEST(CallwatchLayersTest, TheScanCatchesEveryKindOfFault) {
  TempFolder root("callwatch-layers");
  for (const char* dir : {"base", "core", "platform", "link", "app", "provider", "sip"})
    fs::create_directories(fs::path(root.path()) / dir);
  auto write = [&](const std::string& name, const std::string& text) {
    std::ofstream(fs::path(root.path()) / name) << text;
  };
  write("base/A.h", "#pragma once\n#include <vector>\n");
  write("platform/P.h", "#include \"base/A.h\"\n");
  write("link/L.h", "#include \"platform/P.h\"\n");                     // link reaching platform
  write("core/C.cpp", "  #include \"link/L.h\"\n");                     // core reaching platform through link
  write("core/D.h", "#include \"A.h\"\n#include <QString>\n");          // bare name, Qt
  write("app/F.cpp", "#include \"core/C.cpp\"\n#include <QWidget>\n");  // the front end may
  // The shared provider layer: the providers may use it; it may use base only, and no Qt, not
  // even the settings file the SIP provider reads.
  write("provider/S.h", "#include \"base/A.h\"\n#include \"sip/T.h\"\n#include <QSettings>\n");
  write("provider/W.cpp", "#include \"provider/S.h\"\n#include \"platform/P.h\"\n");
  write("sip/T.h", "#include <QSettings>\n");
  write("sip/U.cpp", "#include \"provider/V.h\"\n");
  write("provider/V.h", "#include \"base/A.h\"\n");
  write("platform/Q.cpp", "#include \"provider/V.h\"\n");
  write("core/E.cpp", "#include \"provider/V.h\"\n");  // core reaches no provider
  const std::vector<std::string> expected{
      "core/C.cpp: reaches platform/P.h",    "core/D.h: \"A.h\" does not name its folder",
      "core/D.h: uses Qt (<QString>)",       "core/E.cpp: reaches provider/V.h",
      "link/L.h: reaches platform/P.h",      "provider/S.h: reaches sip/T.h",
      "provider/S.h: uses Qt (<QSettings>)", "provider/W.cpp: reaches platform/P.h",
      "provider/W.cpp: reaches sip/T.h"};
  EXPECT_EQ(Faults(ReadSources(root.path())), expected);
}

}  // namespace
