#include "base/JNode.h"

void JNode::set(const std::string& key, JNode value) {
  for (auto& e : entries_) {
    if (e.first == key) {
      e.second = std::move(value);
      return;
    }
  }
  entries_.emplace_back(key, std::move(value));
}

const JNode* JNode::find(const std::string& key) const {
  if (kind_ != Map) return nullptr;
  for (const auto& e : entries_)
    if (e.first == key) return &e.second;
  return nullptr;
}

bool JNode::operator==(const JNode& o) const {
  if (kind_ != o.kind_) return false;
  switch (kind_) {
    case Null: return true;
    case Integer: return int_ == o.int_;
    case Text: return text_ == o.text_;
    case List: return items_ == o.items_;
    case Map: return entries_ == o.entries_;
  }
  return false;
}
