// Diagram files: UTF-8 JSON with the modules (id, class, rect, content) and the links.
#include <limits>
#include <nlohmann/json.hpp>

#include "base/JComponent.h"
#include "base/JFiles.h"
#include "base/JString.h"
#include "loom/JDiagram.h"

using Json = nlohmann::ordered_json;

namespace {

constexpr size_t kMaxDiagramBytes = size_t{64} << 20;

Json toJson(const JNode& n) {
  switch (n.kind()) {
    case JNode::Integer: return Json(n.asInteger());
    case JNode::Text: return Json(n.asText());
    case JNode::List: {
      Json a = Json::array();
      for (const auto& i : n.items()) a.push_back(toJson(i));
      return a;
    }
    case JNode::Map: {
      Json o = Json::object();
      for (const auto& e : n.entries()) o[e.first] = toJson(e.second);
      return o;
    }
    default: return Json();
  }
}

// Numbers that are not integers in range, booleans and nulls have no place in module content;
// they become null, which every reader treats as a value of another kind.
// Content is a few levels deep (a colour, a list); a deeper one would only exhaust the stack.
constexpr int kMaxContentDepth = 64;

JNode fromJson(const Json& j, int depth = 0) {
  if (depth > kMaxContentDepth && (j.is_array() || j.is_object()))
    throw JDiagramError("\"content\" is nested deeper than " + std::to_string(kMaxContentDepth) + " levels");
  if (j.is_number_integer()) {
    if (j.is_number_unsigned() &&
        j.get<unsigned long long>() > static_cast<unsigned long long>(std::numeric_limits<long long>::max()))
      return JNode();
    return JNode::integer(j.get<long long>());
  }
  if (j.is_string()) return JNode::text(j.get<std::string>());
  if (j.is_array()) {
    JNode l = JNode::list();
    for (const auto& i : j) l.push(fromJson(i, depth + 1));
    return l;
  }
  if (j.is_object()) {
    JNode m = JNode::map();
    for (auto it = j.begin(); it != j.end(); ++it) m.set(it.key(), fromJson(it.value(), depth + 1));
    return m;
  }
  return JNode();
}

// Real diagrams nest a few levels. Deeper nesting is refused before the parser builds anything:
// the JSON library copies, compares and frees values recursively, and a file of a few hundred
// kilobytes of brackets would exhaust the stack.
constexpr int kMaxNesting = 128;

// Offset of the bracket that opens a level past kMaxNesting, or npos. Brackets in strings do not
// count; text that is no JSON at all is left for the parser to name.
size_t tooDeepAt(const std::string& text) {
  int depth = 0;
  bool inString = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\') ++i;
      else if (c == '"') inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > kMaxNesting) return i;
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return std::string::npos;
}

void lineAndColumn(const std::string& text, size_t byte, size_t& line, size_t& column) {
  line = 1;
  column = 1;
  if (byte > 0) --byte;  // the parser counts the offending character as read
  for (size_t i = 0; i < byte && i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++line;
      column = 1;
    } else {
      ++column;
    }
  }
}

bool smallInt(const Json& j, int& out) {
  if (!j.is_number_integer()) return false;
  long long v = j.get<long long>();
  if (v < -1000000000LL || v > 1000000000LL) return false;
  out = static_cast<int>(v);
  return true;
}

}  // namespace

std::unique_ptr<JDiagram> JDiagram::loadText(const std::string& text, const std::string& name) {
  // Every message may quote the file (ids, classes, keys, values, the parser's "last read"):
  // escaped, so that no byte of it reaches a terminal as a control.
  auto fail = [&name](const std::string& what) -> JDiagramError {
    return JDiagramError(escapeForMessage(name + ": error: " + what));
  };
  const size_t deep = tooDeepAt(text);
  if (deep != std::string::npos) {
    size_t line, column;
    lineAndColumn(text, deep + 1, line, column);
    throw fail("line " + std::to_string(line) + ", column " + std::to_string(column) + ": nested deeper than " +
               std::to_string(kMaxNesting) + " levels");
  }
  Json doc;
  try {
    doc = Json::parse(text);
  } catch (const Json::parse_error& e) {
    size_t line, column;
    lineAndColumn(text, e.byte, line, column);
    std::string why = e.what();
    auto colon = why.find(": ");
    if (colon != std::string::npos) why = why.substr(colon + 2);
    throw fail("line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + why);
  } catch (const Json::exception& e) {
    // A number too large for any type (1e999) comes as out_of_range, without a place: the
    // message quotes the number, and its first appearance is the place.
    std::string why = e.what();
    auto bracket = why.find("] ");
    if (bracket != std::string::npos) why = why.substr(bracket + 2);
    auto open = why.find('\''), close = why.rfind('\'');
    size_t at = open != std::string::npos && close > open ? text.find(why.substr(open + 1, close - open - 1))
                                                          : std::string::npos;
    if (at == std::string::npos) throw fail(why);
    size_t line, column;
    lineAndColumn(text, at + 1, line, column);
    throw fail("line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + why);
  }
  if (!doc.is_object()) throw fail("a diagram is a JSON object");
  auto version = doc.find("loomwork");
  if (version == doc.end() || !version->is_number_integer() || version->get<long long>() != 1)
    throw fail("\"loomwork\": 1 is missing (not a diagram file of this version)");

  auto diagram = std::make_unique<JDiagram>();
  auto modules = doc.find("modules");
  if (modules != doc.end()) {
    if (!modules->is_array()) throw fail("\"modules\" is not a list");
    size_t index = 0;
    for (const Json& m : *modules) {
      std::string where = "module " + std::to_string(index++);
      if (!m.is_object()) throw fail(where + " is not an object");
      auto id = m.find("id");
      if (id == m.end() || !id->is_string() || id->get<std::string>().empty())
        throw fail(where + " has no \"id\" text");
      where = "module \"" + id->get<std::string>() + "\"";
      if (diagram->find(id->get<std::string>())) throw fail(where + " is there twice");
      auto cls = m.find("class");
      if (cls == m.end() || !cls->is_string()) throw fail(where + " has no \"class\" text");
      JRect rect(0, 0, 80, 60);
      auto r = m.find("rect");
      if (r != m.end()) {
        int v[4];
        if (!r->is_array() || r->size() != 4 || !smallInt((*r)[0], v[0]) || !smallInt((*r)[1], v[1]) ||
            !smallInt((*r)[2], v[2]) || !smallInt((*r)[3], v[3]) || v[2] < 0 || v[3] < 0 || v[2] > 100000 ||
            v[3] > 100000)
          throw fail(where + ": \"rect\" is not [x, y, width, height]");
        rect = JRect(v[0], v[1], v[2], v[3]);
      }
      JModuleObj* mod = nullptr;
      try {
        mod = diagram->create(cls->get<std::string>(), id->get<std::string>(), rect);
      } catch (const JDiagramError& e) { throw fail(where + ": " + e.what()); }
      auto content = m.find("content");
      if (content != m.end()) {
        if (!content->is_object()) throw fail(where + ": \"content\" is not an object");
        JNode node;
        try {
          node = fromJson(*content);
        } catch (const JDiagramError& e) { throw fail(where + ": " + e.what()); }
        JDictionary dict(std::move(node));
        {
          JComponent::Scope scope(mod);
          mod->readContent(dict);
        }
        if (!dict.problems().empty()) throw fail(where + ": " + dict.problems().front());
        for (const auto& w : dict.warnings())
          diagram->warnings_.push_back(escapeForMessage(name + ": warning: " + where + ": " + w));
        for (const auto& key : dict.unreadKeys())
          diagram->warnings_.push_back(
              escapeForMessage(name + ": warning: " + where + ": key \"" + key + "\" is not used"));
      }
    }
  }
  auto links = doc.find("links");
  if (links != doc.end()) {
    if (!links->is_array()) throw fail("\"links\" is not a list");
    size_t index = 0;
    for (const Json& l : *links) {
      std::string where = "link " + std::to_string(index++);
      if (!l.is_object()) throw fail(where + " is not an object");
      auto from = l.find("from");
      auto to = l.find("to");
      if (from == l.end() || to == l.end() || !from->is_string() || !to->is_string())
        throw fail(where + " needs \"from\" and \"to\" texts");
      where = "link " + from->get<std::string>() + " -> " + to->get<std::string>();
      std::string fromId, toId;
      int fromPort = 0, toPort = 0;
      if (!splitLinkEnd(from->get<std::string>(), fromId, fromPort) ||
          !splitLinkEnd(to->get<std::string>(), toId, toPort))
        throw fail(where + ": ends are written \"id:port\"");
      JModuleObj* a = diagram->find(fromId);
      JModuleObj* b = diagram->find(toId);
      if (!a) throw fail(where + ": unknown module id \"" + fromId + "\"");
      if (!b) throw fail(where + ": unknown module id \"" + toId + "\"");
      try {
        diagram->link(a, fromPort, b, toPort);
      } catch (const JDiagramError& e) { throw fail(where + ": " + e.what()); }
    }
  }
  return diagram;
}

bool JDiagram::splitLinkEnd(const std::string& end, std::string& id, int& port) {
  auto colon = end.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 >= end.size()) return false;
  id = end.substr(0, colon);
  long long v = 0;
  for (size_t i = colon + 1; i < end.size(); ++i) {
    if (end[i] < '0' || end[i] > '9') return false;
    v = v * 10 + (end[i] - '0');
    if (v > 1000000) return false;
  }
  port = static_cast<int>(v);
  return true;
}

std::unique_ptr<JDiagram> JDiagram::loadFile(const std::string& path) {
  std::string text, error;
  if (!readWholeFile(path, kMaxDiagramBytes, text, error))
    throw JDiagramError(escapeForMessage(path + ": error: " + error));
  auto d = loadText(text, path);
  auto slash = path.rfind('/');
  d->setFolder(slash == std::string::npos ? std::string() : path.substr(0, slash == 0 ? 1 : slash));
  return d;
}

namespace {
constexpr size_t kLineWidth = 100;

// The diagram's own layout, kept close to what people write by hand: the file, its lists, each
// module and its content have one entry per line; below that, a container that fits on its line is written
// on it ("rect": [20, 20, 100, 80]) and a longer one has one entry per line. A change of one
// value is then a change of one line in a version-controlled diagram.
std::string oneLine(const Json& j) {
  if (j.is_array()) {
    if (j.empty()) return "[]";
    std::string s = "[";
    for (size_t i = 0; i < j.size(); ++i) s += (i ? ", " : "") + oneLine(j[i]);
    return s + "]";
  }
  if (j.is_object()) {
    if (j.empty()) return "{}";
    std::string s = "{ ";
    bool first = true;
    for (auto it = j.begin(); it != j.end(); ++it, first = false)
      s += (first ? "" : ", ") + Json(it.key()).dump() + ": " + oneLine(it.value());
    return s + " }";
  }
  return j.dump();
}

void writeLaidOut(const Json& j, size_t indent, size_t used, bool expand, std::string& out) {
  const std::string flat = oneLine(j);
  if (!j.is_structured() || j.empty() || (!expand && used + flat.size() <= kLineWidth)) {
    out += flat;
    return;
  }
  const std::string inner(indent + 2, ' ');
  out += j.is_array() ? "[\n" : "{\n";
  size_t i = 0;
  for (auto it = j.begin(); it != j.end(); ++it, ++i) {
    out += inner;
    size_t at = inner.size();
    if (j.is_object()) {
      const std::string key = Json(it.key()).dump() + ": ";
      out += key;
      at += key.size();
    }
    // The modules and their contents: one entry per line, so that no change of length elsewhere
    // moves a setting onto another line.
    const bool module = indent == 2 && j.is_array() && it.value().contains("class");
    const bool content = indent == 4 && j.is_object() && it.key() == "content";
    const bool expandEntry = indent == 0 || module || content;
    writeLaidOut(it.value(), indent + 2, at + 1, expandEntry, out);  // + 1 for the comma
    out += i + 1 < j.size() ? ",\n" : "\n";
  }
  out += std::string(indent, ' ') + (j.is_array() ? "]" : "}");
}
}  // namespace

std::string JDiagram::saveText() {
  Json doc = Json::object();
  doc["loomwork"] = 1;
  Json mods = Json::array();
  for (JModuleObj* m : order_) {
    Json e = Json::object();
    e["id"] = m->id();
    e["class"] = m->className();
    e["rect"] = Json::array({m->rect.x, m->rect.y, m->rect.width, m->rect.height});
    JOutputStream os;
    {
      JComponent::Scope scope(m);
      m->writeContent(os);
    }
    e["content"] = toJson(os.node());
    mods.push_back(std::move(e));
  }
  doc["modules"] = std::move(mods);
  Json ls = Json::array();
  for (const auto& l : links_) {
    ls.push_back(Json{{"from", l->from->id() + ":" + std::to_string(l->fromPort)},
                      {"to", l->to->id() + ":" + std::to_string(l->toPort)}});
  }
  doc["links"] = std::move(ls);
  try {
    std::string out;
    writeLaidOut(doc, 0, 0, true, out);
    return out + "\n";
  } catch (const Json::type_error&) { throw JDiagramError("error: a text in the diagram is not valid UTF-8"); }
}

void JDiagram::saveFile(const std::string& path) {
  std::string text;
  try {
    text = saveText();
  } catch (const JDiagramError& e) { throw JDiagramError(escapeForMessage(path + ": " + e.what())); }
  std::string error;
  if (!writeWholeFile(path, text, error)) throw JDiagramError(escapeForMessage(path + ": error: " + error));
}
