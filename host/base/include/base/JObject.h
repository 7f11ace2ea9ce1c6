#pragma once
// Root of the host's object model: class registration, cloning and keyed persistence.
#include <string>
#include <vector>
#include "base/JNode.h"

class JString;
class JOutputStream;
class JDictionary;

class JObject {
public:
  JObject() = default;
  JObject(const JObject&) = default;
  JObject& operator=(const JObject&) = default;

  // The host's table of operations, in the order modules rely on.
  virtual void writeContent(JOutputStream& os);
  virtual void readContent(JDictionary& dict);
  virtual ~JObject();
  virtual const char* className() const { return "JObject"; }
  virtual JObject* clone() const { return new JObject(*this); }
  virtual void run() {}

  // The name debug lines carry for this object (modules answer with their id in the diagram).
  virtual std::string debugName() const { return className(); }

  // How putObject stores this object and getObject restores it. The default is a tagged map
  // {"ClassName": {content}}; value classes (texts, colours) store themselves more plainly.
  virtual JNode toNode() const;
  virtual bool fromNode(const JNode& node);

  // Records this object's class with the host; returns the class's prototype, owned by the host.
  JObject* Register();

  // Keyed persistence. A missing key, or one holding another kind of value, gives the default.
  static void putInteger(JOutputStream& os, const char* key, long long value);
  static void putString(JOutputStream& os, const char* key, const JString& value);
  static void putObject(JOutputStream& os, const char* key, const JObject& value);
  static int getInteger(const JDictionary& dict, const char* key, int defaultValue = 0);
  static JString getString(const JDictionary& dict, const char* key);
  static JString getString(const JDictionary& dict, const char* key, const JString& defaultValue);
  // Restores `into` from the key; false (and `into` untouched) when the key is missing or unusable.
  static bool getObject(const JDictionary& dict, const char* key, JObject& into);
};

// The class registry that Register() fills. Prototypes live for the whole process.
class JClassRegistry {
public:
  static const JObject* prototype(const std::string& name);
  static JObject* create(const std::string& name);  // a fresh clone, or nullptr
  static std::vector<std::string> names();          // sorted
};

// Where writeContent puts its keyed entries, in writing order.
class JOutputStream {
public:
  JOutputStream() : node_(JNode::map()) {}
  void put(const std::string& key, JNode value) { node_.set(key, std::move(value)); }
  const JNode& node() const { return node_; }
  JNode take() {
    JNode n = std::move(node_);
    node_ = JNode::map();
    return n;
  }

private:
  JNode node_;
};

// What readContent reads from: the keyed entries of one stored object. It remembers which keys
// were asked for and which entries could not be read as asked, so that whoever loads a file can
// say what it did not understand.
class JDictionary {
public:
  JDictionary() : node_(JNode::map()) {}
  explicit JDictionary(JNode node) : node_(node.isMap() ? std::move(node) : JNode::map()) {}
  const JNode* find(const std::string& key) const {
    read_.push_back(key);
    return node_.find(key);
  }
  bool contains(const std::string& key) const { return find(key) != nullptr; }
  const JNode& node() const { return node_; }

  // The stored keys that nobody asked for, in stored order.
  std::vector<std::string> unreadKeys() const;
  // Entries of another kind than asked for that no plain conversion could read: "key \"K\": WHY".
  const std::vector<std::string>& problems() const { return problems_; }
  void noteProblem(const std::string& key, const std::string& why) const {
    problems_.push_back("key \"" + key + "\": " + why);
  }
  // Entries read but not taken as they stand (a value outside its range that was left out):
  // "key \"K\": WHY". The load goes on; whoever loads the file says so.
  const std::vector<std::string>& warnings() const { return warnings_; }
  void noteWarning(const std::string& key, const std::string& why) const {
    warnings_.push_back("key \"" + key + "\": " + why);
  }

private:
  JNode node_;
  mutable std::vector<std::string> read_;
  mutable std::vector<std::string> problems_;
  mutable std::vector<std::string> warnings_;
};
