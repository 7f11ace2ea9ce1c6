#include "CanvasEdits.h"

#include <cstdio>
#include <filesystem>

#include "base/JString.h"
#include "loom/JDiagram.h"

namespace fs = std::filesystem;

namespace {

[[noreturn]] void refuse(const std::string& message) { throw EditError(message); }

// A setting that takes a port away or changes its type would strand a wire, and a saved diagram
// with it could not be loaded again. "" when every link still fits.
std::string strandedLink(JDiagram& d, JModuleObj& m, const std::string& what) {
  for (const auto& l : d.links()) {
    if (l->from != &m && l->to != &m) continue;
    bool fits = l->fromPort < l->from->outputCount && l->toPort < l->to->inputCount;
    if (fits) {
      int out = l->from->outputType(l->fromPort), in = l->to->inputType(l->toPort);
      fits = out == in || in == kAnyDataType;
    }
    if (!fits)
      return what + " leaves no matching port for the link " + l->from->id() + ":" + std::to_string(l->fromPort) +
             " -> " + l->to->id() + ":" + std::to_string(l->toPort);
  }
  return std::string();
}

struct Ends {
  JModuleObj* from;
  int fromPort;
  JModuleObj* to;
  int toPort;
};

Ends findEnds(JDiagram& d, const std::string& from, const std::string& to, const std::string& where) {
  std::string fromId, toId;
  Ends e{nullptr, 0, nullptr, 0};
  if (!JDiagram::splitLinkEnd(from, fromId, e.fromPort) || !JDiagram::splitLinkEnd(to, toId, e.toPort))
    refuse(where + ": ends are written \"id:port\"");
  e.from = d.find(fromId);
  e.to = d.find(toId);
  if (!e.from) refuse(where + ": unknown module id \"" + fromId + "\"");
  if (!e.to) refuse(where + ": unknown module id \"" + toId + "\"");
  return e;
}

}  // namespace

void applySetting(JDiagram& d, const std::string& setting) {
  auto eq = setting.find('=');
  auto dot = setting.find('.');
  if (eq == std::string::npos || dot == std::string::npos || dot > eq || dot == 0)
    refuse("\"" + setting + "\" is not ID.PROPERTY=VALUE");
  applySetting(d, setting.substr(0, dot), setting.substr(dot + 1, eq - dot - 1), setting.substr(eq + 1));
}

void applySetting(JDiagram& d, const std::string& id, const std::string& name, const std::string& text) {
  JModuleObj* m = d.find(id);
  if (!m) refuse("unknown module id \"" + id + "\"");
  JComponent::Scope scope(m);
  // Through the module's settings table: the row's range rule, as a diagram file would meet it.
  int index = 0;
  const JSetting* row = m->settings() ? m->settings()->byProperty(name, index) : nullptr;
  const std::string before = row ? row->valueText(*m, index) : std::string();
  JSettingResult result;
  if (m->applySetting(name, text, result)) {
    if (result.status == JSettingResult::kRefused) refuse(id + "." + name + ": " + result.message);
    if (result.status == JSettingResult::kIgnored)
      std::fprintf(stderr, "%s\n", escapeForMessage(id + "." + name + ": warning: " + result.message).c_str());
    const std::string stranded = strandedLink(d, *m, id + "." + name + ": " + text);
    if (!stranded.empty()) {
      JSettingResult undo;
      if (row) m->applySetting(name, before, undo);
      refuse(stranded);
    }
    return;
  }
  JArray props = m->getProperties();
  for (int i = 0; i < props.size(); ++i) {
    auto* p = dynamic_cast<JProperty*>(props[i]);
    if (!p || p->getName().str() != name) continue;
    const JString old = p->valueText();
    JString error;
    if (!p->parseValue(JString(text), error)) refuse(id + "." + name + ": " + error.str());
    if (!m->updateProperty(*p)) refuse(id + "." + name + ": the module did not accept the value");
    const std::string stranded = strandedLink(d, *m, id + "." + name + ": " + text);
    if (!stranded.empty()) {
      if (p->parseValue(old, error)) m->updateProperty(*p);
      refuse(stranded);
    }
    return;
  }
  refuse("module \"" + id + "\" (" + m->className() + ") has no property \"" + name + "\"");
}

// Every relative path in the modules' settings that names an existing file from the diagram's
// folder is written anew relative to the new folder, so that the saved diagram still finds its
// files. A module's path settings are the rows marked so; a module without a settings table has
// each text property that names a file taken as one.
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

void linkEnds(JDiagram& d, const std::string& from, const std::string& to) {
  const std::string where = "link " + from + " -> " + to;
  const Ends e = findEnds(d, from, to, where);
  try {
    d.link(e.from, e.fromPort, e.to, e.toPort);
  } catch (const JDiagramError& error) { refuse(where + ": " + error.what()); }
}

void unlinkEnds(JDiagram& d, const std::string& from, const std::string& to) {
  const std::string where = "link " + from + " -> " + to;
  const Ends e = findEnds(d, from, to, where);
  for (const auto& l : d.links()) {
    if (l->from == e.from && l->fromPort == e.fromPort && l->to == e.to && l->toPort == e.toPort) {
      d.unlink(l.get());
      return;
    }
  }
  refuse(where + ": there is no such link");
}

bool rectFromNumbers(const long long v[4], JRect& r) {
  for (int i = 0; i < 4; ++i)
    if (v[i] < -1000000000LL || v[i] > 1000000000LL) return false;
  if (v[2] < 0 || v[3] < 0 || v[2] > 100000 || v[3] > 100000) return false;
  r = JRect(static_cast<int>(v[0]), static_cast<int>(v[1]), static_cast<int>(v[2]), static_cast<int>(v[3]));
  return true;
}
