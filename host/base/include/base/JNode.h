#pragma once
// A small ordered tree of values: the in-memory form of a module's stored content.
// Integers, texts, lists and keyed maps (keys kept in writing order).
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class JNode {
public:
  enum Kind { Null, Integer, Text, List, Map };
  using Entry = std::pair<std::string, JNode>;

  JNode() = default;
  static JNode integer(long long v) {
    JNode n;
    n.kind_ = Integer;
    n.int_ = v;
    return n;
  }
  static JNode text(std::string s) {
    JNode n;
    n.kind_ = Text;
    n.text_ = std::move(s);
    return n;
  }
  static JNode list() {
    JNode n;
    n.kind_ = List;
    return n;
  }
  static JNode map() {
    JNode n;
    n.kind_ = Map;
    return n;
  }

  Kind kind() const { return kind_; }
  bool isNull() const { return kind_ == Null; }
  bool isInteger() const { return kind_ == Integer; }
  bool isText() const { return kind_ == Text; }
  bool isList() const { return kind_ == List; }
  bool isMap() const { return kind_ == Map; }

  long long asInteger() const { return int_; }
  const std::string& asText() const { return text_; }

  // Lists.
  const std::vector<JNode>& items() const { return items_; }
  void push(JNode n) { items_.push_back(std::move(n)); }

  // Maps: set replaces an existing key in place, so writing order is kept.
  const std::vector<Entry>& entries() const { return entries_; }
  void set(const std::string& key, JNode value);
  const JNode* find(const std::string& key) const;

  bool operator==(const JNode& o) const;
  bool operator!=(const JNode& o) const { return !(*this == o); }

private:
  Kind kind_ = Null;
  long long int_ = 0;
  std::string text_;
  std::vector<JNode> items_;
  std::vector<Entry> entries_;
};
