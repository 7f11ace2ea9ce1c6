#include "ClassDescription.h"

#include <cstdarg>
#include <cstdio>
#include <memory>

#include "base/JObject.h"
#include "loom/JModuleObj.h"
#include "loom/JWireValue.h"

namespace {

const char* sideName(int face) {
  switch (face) {
    case 0: return "left";
    case 1: return "top";
    case 2: return "right";
    case 3: return "bottom";
    default: return "unknown";
  }
}

std::vector<PortDescription> portsOf(JModuleObj& m, bool inputs) {
  std::vector<PortDescription> ports;
  const int count = inputs ? m.inputCount : m.outputCount;
  for (int i = 0; i < count; ++i) {
    PortDescription p;
    p.index = i;
    p.tag = (inputs ? m.inputTag(i) : m.outputTag(i)).str();
    p.type = dataTypeName(inputs ? m.inputType(i) : m.outputType(i));
    p.side = sideName(inputs ? m.inputFace(i) : m.outputFace(i));
    ports.push_back(std::move(p));
  }
  return ports;
}

PropertyDescription propertyOf(JProperty& p) {
  PropertyDescription d;
  d.name = p.getName().str();
  d.kind = p.kind();
  d.value = p.valueText().str();
  d.range = p.rangeText().str();
  if (auto* i = dynamic_cast<JIntegerProperty*>(&p)) {
    d.form = PropertyDescription::Form::Integer;
    d.integer = i->value;
    d.minimum = i->minimum;
    d.maximum = i->maximum;
  } else if (auto* l = dynamic_cast<JIntegerListProperty*>(&p)) {
    d.form = PropertyDescription::Form::Choice;
    d.integer = l->value;
    for (const auto& t : l->tags) d.choices.push_back(t.str());
  } else if (auto* c = dynamic_cast<JColorProperty*>(&p)) {
    d.form = PropertyDescription::Form::Colour;
    d.rgb[0] = c->color.getRed();
    d.rgb[1] = c->color.getGreen();
    d.rgb[2] = c->color.getBlue();
  }
  return d;
}

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...) {
  char small[512];
  va_list args;
  va_start(args, fmt);
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(small, sizeof small, fmt, args);
  va_end(args);
  std::string out;
  if (n < 0) {
    va_end(again);
    return out;
  }
  if (static_cast<size_t>(n) < sizeof small) {
    out.assign(small, static_cast<size_t>(n));
  } else {
    out.resize(static_cast<size_t>(n) + 1);
    std::vsnprintf(&out[0], out.size(), fmt, again);
    out.resize(static_cast<size_t>(n));
  }
  va_end(again);
  return out;
}

// A Markdown table cell: bars escaped, never empty.
std::string cell(const std::string& s) {
  std::string out;
  for (char c : s) out += c == '|' ? std::string("\\|") : std::string(1, c);
  return out.empty() ? std::string(" ") : out;
}

// --- one port and one property per renderer ---

std::string textPortLine(const PortDescription& p) {
  return format("    %2d  %-28s %-8s %s\n", p.index, p.tag.c_str(), p.type.c_str(), p.side.c_str());
}
std::string textPropertyLine(const PropertyDescription& p) {
  return format("    %-28s %-7s %s%s%s\n", p.name.c_str(), p.kind.c_str(), p.shownValue().c_str(),
                p.range.empty() ? "" : "  ", p.range.c_str());
}

nlohmann::ordered_json jsonPort(const PortDescription& p) {
  nlohmann::ordered_json j;
  j["index"] = p.index;
  j["tag"] = p.tag;
  j["type"] = p.type;
  j["side"] = p.side;
  return j;
}
nlohmann::ordered_json jsonProperty(const PropertyDescription& p) {
  nlohmann::ordered_json j;
  j["name"] = p.name;
  j["kind"] = p.kind;
  switch (p.form) {
    case PropertyDescription::Form::Integer:
      j["value"] = p.integer;
      j["minimum"] = p.minimum;
      j["maximum"] = p.maximum;
      break;
    case PropertyDescription::Form::Choice:
      j["value"] = p.integer;
      j["choices"] = p.choices;
      break;
    case PropertyDescription::Form::Colour: j["value"] = {p.rgb[0], p.rgb[1], p.rgb[2]}; break;
    case PropertyDescription::Form::Other: j["value"] = p.value; break;
  }
  return j;
}

const char* kMarkdownPortHeader = "\n| # | tag | type | side |\n| --- | --- | --- | --- |\n";
std::string markdownPortRow(const PortDescription& p) {
  return format("| %d | %s | %s | %s |\n", p.index, cell(p.tag).c_str(), p.type.c_str(), p.side.c_str());
}
const char* kMarkdownPropertyHeader = "\n| name | kind | default | range |\n| --- | --- | --- | --- |\n";
std::string markdownPropertyRow(const PropertyDescription& p) {
  return format("| %s | %s | %s | %s |\n", cell(p.name).c_str(), p.kind.c_str(), cell(p.shownValue()).c_str(),
                cell(p.range).c_str());
}

SettingDescription settingOf(const JSetting& row) {
  SettingDescription d;
  auto names = [&](const std::string& first, const std::string& last) {
    return row.isArray() && row.count() > 1 ? first + ".." + last : first;
  };
  if (row.isBlock()) {
    d.key = row.blockKeys();
    d.kind = "block";
    return d;
  }
  if (row.isProperty()) d.property = names(row.propertyName(0), row.propertyName(row.count() - 1));
  if (row.isStored()) d.key = names(row.storedKey(0), row.storedKey(row.count() - 1));
  d.kind = row.kindName();
  d.initial = row.initText();
  d.range = row.rangeText();
  d.outside = row.ruleText();
  d.stored = row.missingText();
  d.path = row.isPath();
  d.note = row.noteText();
  return d;
}

nlohmann::ordered_json jsonSetting(const SettingDescription& s) {
  nlohmann::ordered_json j;
  j["property"] = s.property;
  j["key"] = s.key;
  j["kind"] = s.kind;
  j["initial"] = s.initial;
  j["range"] = s.range;
  j["outside"] = s.outside;
  j["stored"] = s.stored;
  j["path"] = s.path;
  if (!s.note.empty()) j["note"] = s.note;
  return j;
}

const char* kMarkdownSettingHeader =
    "\n| property | stored key | kind | initial | range | outside the range | stored key's rule |\n"
    "| --- | --- | --- | --- | --- | --- | --- |\n";
std::string markdownSettingRow(const SettingDescription& s) {
  const std::string kind = s.path ? s.kind + " (file)" : s.kind;
  return format("| %s | %s | %s | %s | %s | %s | %s |\n", cell(s.property).c_str(), cell(s.key).c_str(), kind.c_str(),
                cell(s.initial).c_str(), cell(s.range).c_str(), cell(s.outside).c_str(), cell(s.stored).c_str());
}

std::string propsLine(const PropertyDescription& p) {
  return p.name + " " + p.kind + " " + p.shownValue() + (p.range.empty() ? "" : " ") + p.range + "\n";
}

}  // namespace

std::string PropertyDescription::shownValue() const { return kind == "text" ? jsonQuote(value) : value; }

ClassDescription ClassDescription::of(const std::string& name, JModuleObj& m) {
  ClassDescription c;
  c.name = name;
  c.inputs = portsOf(m, true);
  c.outputs = portsOf(m, false);
  JArray a = m.getProperties();
  for (int i = 0; i < a.size(); ++i)
    if (auto* p = dynamic_cast<JProperty*>(a[i])) c.properties.push_back(propertyOf(*p));
  JOutputStream os;
  m.writeContent(os);
  for (const auto& e : os.node().entries()) c.storedKeys.push_back(e.first);
  if (const JSettings* table = m.settings())
    for (const JSetting& row : table->rows()) c.settings.push_back(settingOf(row));
  return c;
}

std::vector<ClassDescription> ClassDescription::allRegistered() {
  std::vector<ClassDescription> all;
  for (const auto& name : JClassRegistry::names()) {
    const auto* proto = dynamic_cast<const JModuleObj*>(JClassRegistry::prototype(name));
    if (!proto) continue;
    std::unique_ptr<JModuleObj> m(static_cast<JModuleObj*>(proto->clone()));
    m->rect = JRect(0, 0, 80, 60);
    JComponent::Scope scope(m.get());
    all.push_back(of(name, *m));
  }
  return all;
}

std::string describeAsText(const ClassDescription& c) {
  std::string out = c.name + "\n";
  for (bool inputs : {true, false}) {
    const auto& ports = inputs ? c.inputs : c.outputs;
    out += std::string("  ") + (inputs ? "inputs" : "outputs") + ":" + (ports.empty() ? " none" : "") + "\n";
    for (const auto& p : ports) out += textPortLine(p);
  }
  out += std::string("  properties:") + (c.properties.empty() ? " none" : "") + "\n";
  for (const auto& p : c.properties) out += textPropertyLine(p);
  return out;
}

nlohmann::ordered_json describeAsJson(const ClassDescription& c) {
  nlohmann::ordered_json j;
  j["class"] = c.name;
  for (bool inputs : {true, false}) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const auto& p : inputs ? c.inputs : c.outputs) list.push_back(jsonPort(p));
    j[inputs ? "inputs" : "outputs"] = list;
  }
  nlohmann::ordered_json props = nlohmann::ordered_json::array();
  for (const auto& p : c.properties) props.push_back(jsonProperty(p));
  j["properties"] = props;
  if (!c.settings.empty()) {
    nlohmann::ordered_json settings = nlohmann::ordered_json::array();
    for (const auto& s : c.settings) settings.push_back(jsonSetting(s));
    j["settings"] = settings;
  }
  j["keys"] = c.storedKeys;  // what a diagram's "content" holds for the class, in order
  return j;
}

std::string markdownPageHeading() {
  return "# Module reference\n\nEvery module class: its ports, its properties with their defaults and ranges, and\n"
         "the keys it stores in a diagram's \"content\". Written by `loomwork modules --markdown`.\n"
         "\nA class's settings table says, for each setting, what a value outside its range does\n"
         "(whether it comes from the property dialog, `loomwork set`, `--set` or a diagram file):\n"
         "ignored (the setting keeps its value and a warning says why), clamped (held to the\n"
         "nearest end) or refused (an error). A missing stored number reads as a stored 0, a\n"
         "missing text or colour keeps what it had, unless the stored key's rule says otherwise.\n";
}

std::string describeAsMarkdown(const ClassDescription& c) {
  std::string out = "\n## " + c.name + "\n";
  for (bool inputs : {true, false}) {
    const auto& ports = inputs ? c.inputs : c.outputs;
    out += std::string("\n") + (inputs ? "Inputs" : "Outputs") + ":" + (ports.empty() ? " none" : "") + "\n";
    if (ports.empty()) continue;
    out += kMarkdownPortHeader;
    for (const auto& p : ports) out += markdownPortRow(p);
  }
  out += std::string("\nProperties:") + (c.properties.empty() ? " none" : "") + "\n";
  if (!c.properties.empty()) out += kMarkdownPropertyHeader;
  for (const auto& p : c.properties) out += markdownPropertyRow(p);
  std::string keys;
  for (const auto& k : c.storedKeys) keys += (keys.empty() ? "`" : ", `") + k + "`";
  out += "\nStored keys, in order: " + (keys.empty() ? std::string("none") : keys) + "\n";
  if (!c.settings.empty()) {
    out += std::string("\nSettings:\n") + kMarkdownSettingHeader;
    for (const auto& s : c.settings) out += markdownSettingRow(s);
    for (const auto& s : c.settings)
      if (!s.note.empty()) out += "\n" + (s.property.empty() ? s.key : s.property) + ": " + s.note + "\n";
  }
  return out;
}

std::string describePropertyLines(const ClassDescription& c) {
  std::string out;
  for (const auto& p : c.properties) out += propsLine(p);
  return out;
}
