#include "testing/SettingRoads.h"

#include <climits>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>

#include "base/JObject.h"
#include "loom/JModuleObj.h"
#include "testing/Process.h"
#include "testing/TempFolder.h"

namespace {

constexpr int kRunMs = 30000;

struct Expectation {
  bool refused = false;
  bool warned = false;
  int value = 0;  // the setting afterwards
  std::string message;
};

// What the row states for value v arriving on a module whose setting holds `before`.
Expectation expect(const JSetting& row, int v, int before, bool fromFile, bool zeroKeeps) {
  Expectation e;
  e.value = v;
  if (fromFile && zeroKeeps && v == 0) {
    e.value = before;
    return e;
  }
  if (v >= row.minimum() && v <= row.maximum()) return e;
  if (fromFile && row.takesStored(v)) return e;
  e.message =
      std::to_string(v) + (row.kind() == JSetting::kChoice ? " is not one of " : " is outside ") + row.rangeText();
  switch (row.rule()) {
    case JOutOfRange::kClamp: e.value = v < row.minimum() ? row.minimum() : row.maximum(); break;
    case JOutOfRange::kIgnore:
      e.value = before;
      e.warned = true;
      break;
    case JOutOfRange::kRefuse:
      e.value = before;
      e.refused = true;
      break;
  }
  return e;
}

// The stored value of the key in a saved diagram's module "m"; false when it is not there.
bool storedValue(const std::string& savedPath, const JSetting& row, int& value) {
  const auto doc = nlohmann::json::parse(TempFolder::read(savedPath), nullptr, false);
  if (doc.is_discarded() || !doc.contains("modules") || doc["modules"].empty()) return false;
  const auto& content = doc["modules"][0]["content"];
  const std::string key = row.storedKey(0);
  if (!content.is_object() || !content.contains(key)) return false;
  const auto& v = content[key];
  if (v.is_number_integer()) {
    value = v.get<int>();
    return true;
  }
  if (v.is_string()) {
    const auto& tags = row.tagList();
    for (size_t i = 0; i < tags.size(); ++i)
      if (tags[i] == v.get<std::string>()) {
        value = static_cast<int>(i);
        return true;
      }
  }
  return false;
}

std::string diagram(const std::string& className, const std::string& content) {
  return R"({"loomwork": 1, "modules": [{"id": "m", "class": ")" + className +
         R"(", "rect": [10, 10, 160, 120], "content": )" + content + "}]}";
}

}  // namespace

std::vector<std::string> checkSettingRoads(const std::string& className, const std::string& loomworkBin,
                                           const std::string& modulesDir) {
  std::vector<std::string> failures;
  std::unique_ptr<JObject> made(JClassRegistry::create(className));
  auto* fresh = dynamic_cast<JModuleObj*>(made.get());
  if (!fresh || !fresh->settings()) return {className + ": no settings table"};
  TempFolder folder("loomwork-roads");
  const std::string saved = folder.file("saved.lwd");

  for (const JSetting& row : fresh->settings()->rows()) {
    if (!row.isProperty() || !row.hasRange() || row.kind() == JSetting::kFlag) continue;
    const std::string name = row.propertyName(0);
    const int before = row.get(*fresh, 0).number;
    // --set meets the module as a diagram without content left it: missing keys read by their rules.
    int loaded = before;
    {
      std::unique_ptr<JObject> copy(fresh->clone());
      auto* m = static_cast<JModuleObj*>(copy.get());
      JDictionary empty(JNode::map());
      m->readContent(empty);
      loaded = row.get(*m, 0).number;
    }
    const long long below = static_cast<long long>(row.minimum()) - 1;
    const long long above = static_cast<long long>(row.maximum()) + 1;
    for (long long wide : {below, above}) {
      if (wide < INT_MIN || wide > INT_MAX) continue;
      const int v = static_cast<int>(wide);
      const std::string what = className + "." + name + "=" + std::to_string(v);

      // The property, in the process.
      {
        std::unique_ptr<JObject> copy(fresh->clone());
        auto* m = static_cast<JModuleObj*>(copy.get());
        JIntegerProperty p(name.c_str(), v, INT_MIN, INT_MAX);
        const Expectation e = expect(row, v, before, false, false);
        if (!m->updateProperty(p)) failures.push_back(what + " by property: not recognised");
        else if (row.get(*m, 0).number != e.value)
          failures.push_back(what + " by property: " + std::to_string(row.get(*m, 0).number) + ", the row says " +
                             std::to_string(e.value));
      }

      // --set, and a diagram file, through the command.
      for (bool fromFile : {false, true}) {
        // A choice stored as its tag has no stored form for an index outside its tags.
        if (fromFile && (!row.isStored() || row.isStoredAsTag())) continue;
        const std::string road = fromFile ? " by diagram file" : " by --set";
        std::string content = "{}";
        if (fromFile) { content = "{\"" + row.storedKey(0) + "\": " + std::to_string(v) + "}"; }
        const std::string file = folder.write("d.lwd", diagram(className, content));
        std::vector<std::string> args{"run", file, "--seconds", "0", "--save", saved, "--modules", modulesDir};
        if (!fromFile) {
          args.push_back("--set");
          args.push_back("m." + name + "=" + std::to_string(v));
        }
        std::remove(saved.c_str());
        const ProcessResult r = runProcess(loomworkBin, args, kRunMs);
        const Expectation e = expect(row, v, fromFile ? before : loaded, fromFile, fromFile && row.keepsStoredZero());
        if (e.refused) {
          if (r.status != 2 || r.err.find(e.message) == std::string::npos)
            failures.push_back(what + road + ": refused with \"" + e.message + "\" expected, got status " +
                               std::to_string(r.status) + ": " + r.err);
          continue;
        }
        if (r.status != 0) {
          failures.push_back(what + road + ": status " + std::to_string(r.status) + ": " + r.err);
          continue;
        }
        if (e.warned && r.err.find(e.message) == std::string::npos)
          failures.push_back(what + road + ": no warning \"" + e.message + "\": " + r.err);
        int got = 0;
        if (row.isStored() && (!storedValue(saved, row, got) || got != e.value))
          failures.push_back(what + road + ": saved " + std::to_string(got) + ", the row says " +
                             std::to_string(e.value));
      }
    }
  }
  return failures;
}
