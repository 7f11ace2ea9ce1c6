#include "testing/Golden.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>

#include "testing/Process.h"

namespace fs = std::filesystem;
using json = nlohmann::json;

namespace {
// Golden files by class name.
std::map<std::string, fs::path> goldenFiles(const fs::path& root) {
  std::map<std::string, fs::path> files;
  std::vector<fs::path> folders{root / "host" / "app"};
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(root / "modules", ec))
    if (e.is_directory()) folders.push_back(e.path());
  for (const auto& folder : folders) {
    const fs::path golden = folder / "tests" / "golden";
    for (const auto& f : fs::directory_iterator(golden, ec))
      if (f.path().extension() == ".json") files[f.path().stem().string()] = f.path();
  }
  return files;
}

// Where a class without a file gets one: beside the library's own tests when the source tree
// holds a folder of that name, else in host/app.
fs::path newGoldenFile(const fs::path& root, const std::string& className) {
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(root / "modules", ec)) {
    if (fs::exists(e.path() / (className + ".h"))) return e.path() / "tests" / "golden" / (className + ".json");
  }
  return root / "host" / "app" / "tests" / "golden" / (className + ".json");
}
}  // namespace

std::vector<GoldenDifference> compareModulesWithGolden(const std::string& loomworkBin, const std::string& modulesDir,
                                                       const std::string& sourceRoot) {
  std::vector<GoldenDifference> out;
  ProcessResult r = runProcess(loomworkBin, {"modules", "--json", "--modules", modulesDir}, 60000);
  const json all = json::parse(r.out, nullptr, false);
  if (r.status != 0 || !all.is_array()) {
    out.push_back({"", "loomwork modules --json failed (status " + std::to_string(r.status) + "): " + r.err});
    return out;
  }
  const bool update = std::getenv("LOOMWORK_UPDATE_GOLDEN") != nullptr;
  const fs::path root(sourceRoot);
  auto files = goldenFiles(root);
  for (const auto& entry : all) {
    const std::string name = entry.value("class", "");
    auto it = files.find(name);
    if (update) {
      const fs::path p = it != files.end() ? it->second : newGoldenFile(root, name);
      fs::create_directories(p.parent_path());
      json kept = json::object();
      for (const char* part : {"class", "inputs", "outputs", "properties"})
        if (entry.contains(part)) kept[part] = entry[part];
      std::ofstream(p) << kept.dump(1) << "\n";
      if (it != files.end()) files.erase(it);
      continue;
    }
    if (it == files.end()) {
      out.push_back({name, "listed, but has no golden file"});
      continue;
    }
    std::ifstream in(it->second);
    const json golden = json::parse(in, nullptr, false);
    const std::string goldenName = it->first;
    files.erase(it);
    // The ports and properties are the class's face to diagrams; its settings rows are checked by
    // the module reference (docs/modules.md) and the roads tests.
    bool same = golden.is_object();
    for (const char* part : {"class", "inputs", "outputs", "properties"})
      same = same && golden.value(part, json()) == entry.value(part, json());
    if (same) continue;
    // Name the first part that differs, with both texts.
    std::string what = "differs from " + goldenName + ".json";
    for (const char* part : {"inputs", "outputs", "properties"}) {
      if (!golden.is_object() || golden.value(part, json()) != entry.value(part, json())) {
        what = std::string(part) + ": golden " + (golden.is_object() ? golden.value(part, json()).dump() : "?") +
               "\n  now " + entry.value(part, json()).dump();
        break;
      }
    }
    out.push_back({name, what});
  }
  // A module folder left out of this build has golden files but no libraries: not a difference.
  for (const auto& f : files) {
    const bool hostClass = f.second.string().find("/host/app/") != std::string::npos;
    if (hostClass || fs::exists(fs::path(modulesDir) / (f.first + ".so")))
      out.push_back({f.first, "has a golden file but is not listed"});
  }
  return out;
}
