#include "base/JObject.h"

#include <algorithm>
#include <climits>
#include <map>
#include <memory>

#include "base/JString.h"

JObject::~JObject() = default;

void JObject::writeContent(JOutputStream&) {}
void JObject::readContent(JDictionary&) {}

JNode JObject::toNode() const {
  JOutputStream os;
  const_cast<JObject*>(this)->writeContent(os);
  JNode tagged = JNode::map();
  tagged.set(className(), os.take());
  return tagged;
}

bool JObject::fromNode(const JNode& node) {
  const JNode* content = node.find(className());
  if (!content || !content->isMap()) return false;
  JDictionary dict(*content);
  readContent(dict);
  return true;
}

namespace {
// Never destroyed: prototypes come from module libraries that stay loaded for the whole process.
std::map<std::string, std::unique_ptr<JObject>>& registry() {
  static auto* r = new std::map<std::string, std::unique_ptr<JObject>>();
  return *r;
}
}  // namespace

JObject* JObject::Register() {
  auto& r = registry();
  auto& slot = r[className()];
  slot.reset(clone());
  return slot.get();
}

const JObject* JClassRegistry::prototype(const std::string& name) {
  auto& r = registry();
  auto it = r.find(name);
  return it == r.end() ? nullptr : it->second.get();
}

JObject* JClassRegistry::create(const std::string& name) {
  const JObject* p = prototype(name);
  return p ? p->clone() : nullptr;
}

std::vector<std::string> JClassRegistry::names() {
  std::vector<std::string> out;
  for (const auto& e : registry()) out.push_back(e.first);
  return out;
}

void JObject::putInteger(JOutputStream& os, const char* key, long long value) { os.put(key, JNode::integer(value)); }

void JObject::putString(JOutputStream& os, const char* key, const JString& value) {
  os.put(key, JNode::text(value.str()));
}

void JObject::putObject(JOutputStream& os, const char* key, const JObject& value) { os.put(key, value.toNode()); }

// An entry of another kind is converted where the conversion is plain (a text that is a whole
// decimal number, for an integer); otherwise the default is used and the dictionary notes why.
int JObject::getInteger(const JDictionary& dict, const char* key, int defaultValue) {
  const JNode* n = dict.find(key);
  if (!n) return defaultValue;
  if (n->isText()) {
    int v = 0;
    if (JInteger::parse(JString(n->asText()).trim(), v)) return v;
    dict.noteProblem(key, "\"" + n->asText() + "\" is not an integer");
    return defaultValue;
  }
  if (!n->isInteger()) {
    dict.noteProblem(key, "an integer was expected");
    return defaultValue;
  }
  long long v = n->asInteger();
  if (v < INT_MIN || v > INT_MAX) {
    dict.noteProblem(key, std::to_string(v) + " is out of range");
    return defaultValue;
  }
  return static_cast<int>(v);
}

std::vector<std::string> JDictionary::unreadKeys() const {
  std::vector<std::string> out;
  for (const auto& e : node_.entries()) {
    bool asked = false;
    for (const auto& k : read_)
      if (k == e.first) {
        asked = true;
        break;
      }
    if (!asked) out.push_back(e.first);
  }
  return out;
}

JString JObject::getString(const JDictionary& dict, const char* key) { return getString(dict, key, JString()); }

JString JObject::getString(const JDictionary& dict, const char* key, const JString& defaultValue) {
  const JNode* n = dict.find(key);
  if (!n) return defaultValue;
  if (n->isInteger()) return JInteger::toJString(n->asInteger());  // a number where a text is read
  if (!n->isText()) {
    dict.noteProblem(key, "a text was expected");
    return defaultValue;
  }
  return JString(n->asText());
}

bool JObject::getObject(const JDictionary& dict, const char* key, JObject& into) {
  const JNode* n = dict.find(key);
  if (!n) return false;
  if (into.fromNode(*n)) return true;
  dict.noteProblem(key, std::string("cannot be read as ") + into.className());
  return false;
}
