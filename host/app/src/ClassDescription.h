#pragma once
// What `loomwork modules` and `loomwork props` say about a module class, taken once from an
// instance: its ports, its properties and the keys it stores. Each listing (text, JSON, the
// Markdown reference page, the props lines) renders this one description, so a field added here
// is added to each renderer in one place: its port line or its property line.
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

class JModuleObj;
class JProperty;

struct PortDescription {
  int index = 0;
  std::string tag;
  std::string type;  // "integer", "text", "bytes", "any"
  std::string side;  // "left", "top", "right", "bottom"
};

struct PropertyDescription {
  // How the value is typed in JSON: integers with their range, choices with their texts, colours
  // as [r, g, b], anything else as its text.
  enum class Form { Integer, Choice, Colour, Other };

  std::string name;
  std::string kind;   // "integer", "choice", "text", "colour"
  std::string value;  // as a user writes it
  std::string range;  // "0..100", "false|true"; empty when there is none
  Form form = Form::Other;
  int integer = 0;                   // Integer and Choice
  int minimum = 0, maximum = 0;      // Integer
  std::vector<std::string> choices;  // Choice
  int rgb[3] = {0, 0, 0};            // Colour

  // The value as listings show it: texts as JSON string literals, so that spaces and quotes in
  // them stay readable.
  std::string shownValue() const;
};

// One row of a class's settings table: how a setting is offered, stored and kept in range.
struct SettingDescription {
  std::string property;  // "" when it is stored only; "color0..color15" for an array
  std::string key;       // "" when it is not stored
  std::string kind;      // "integer", "flag", "choice", "text", "colour", "block"
  std::string initial;   // as a user writes it; "" when the module sets it itself
  std::string range;     // "3000..8000", "i|s|b"
  std::string outside;   // what a value outside the range does: "ignored", "clamped", "refused"
  std::string stored;    // the stored key's own rule: "missing: 0", "stored 0: kept"
  bool path = false;     // names a file, relative to the diagram
  std::string note;      // when and why a user changes it; "" for most
};

struct ClassDescription {
  std::string name;
  std::vector<PortDescription> inputs, outputs;
  std::vector<PropertyDescription> properties;
  std::vector<std::string> storedKeys;       // in writing order
  std::vector<SettingDescription> settings;  // empty for a class without a settings table

  // m as it stands: ports, properties and the keys its writeContent writes.
  static ClassDescription of(const std::string& name, JModuleObj& m);
  // Every registered module class, as a fresh copy of its prototype shows it, in name order.
  static std::vector<ClassDescription> allRegistered();
};

// `loomwork modules`: one readable block per class.
std::string describeAsText(const ClassDescription& c);
// `loomwork modules --json`: one object per class.
nlohmann::ordered_json describeAsJson(const ClassDescription& c);
// `loomwork modules --markdown`: the reference page's heading, then one section per class.
std::string markdownPageHeading();
std::string describeAsMarkdown(const ClassDescription& c);
// `loomwork props`: one line per property, NAME KIND VALUE [RANGE].
std::string describePropertyLines(const ClassDescription& c);
