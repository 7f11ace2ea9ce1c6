#pragma once
#include <memory>
#include <vector>
#include "base/JObject.h"

// An owning list of host objects (property lists and the like). Copies are deep.
class JArray : public JObject {
public:
  JArray() = default;
  JArray(const JArray& o) {
    for (const auto& e : o.items_) items_.emplace_back(e->clone());
  }
  JArray& operator=(const JArray& o) {
    if (this != &o) {
      JArray t(o);
      items_.swap(t.items_);
    }
    return *this;
  }
  JArray(JArray&&) noexcept = default;
  JArray& operator=(JArray&&) noexcept = default;

  void append(JObject* owned) {
    if (owned) items_.emplace_back(owned);
  }
  void append(const JObject& o) { items_.emplace_back(o.clone()); }
  int size() const { return static_cast<int>(items_.size()); }
  JObject* elementAt(int i) const { return (i >= 0 && i < size()) ? items_[static_cast<size_t>(i)].get() : nullptr; }
  JObject* operator[](int i) const { return elementAt(i); }

  const char* className() const override { return "JArray"; }
  JObject* clone() const override { return new JArray(*this); }

private:
  std::vector<std::unique_ptr<JObject>> items_;
};
