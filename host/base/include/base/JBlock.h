#pragma once
#include <cstdint>
#include <vector>
#include "base/JObject.h"

// Host byte block: bytes held by value. A block made with a capacity is empty but says how many
// bytes a read into it may bring.
class JBlock : public JObject {
public:
  JBlock() = default;
  explicit JBlock(int capacity) {
    if (capacity > 0) b_.reserve(static_cast<size_t>(capacity));
    cap_ = capacity > 0 ? capacity : 0;
  }
  JBlock(const void* data, int size);

  int size() const { return static_cast<int>(b_.size()); }
  int capacity() const { return cap_ > size() ? cap_ : size(); }
  bool isEmpty() const { return b_.empty(); }
  const uint8_t* data() const { return b_.data(); }
  uint8_t* data() { return b_.data(); }
  uint8_t operator[](int i) const { return (i >= 0 && i < size()) ? b_[static_cast<size_t>(i)] : 0; }
  void set(int i, uint8_t v) {
    if (i >= 0 && i < size()) b_[static_cast<size_t>(i)] = v;
  }
  void resize(int n) { b_.resize(n > 0 ? static_cast<size_t>(n) : 0); }
  void clear() { b_.clear(); }
  void append(uint8_t v) { b_.push_back(v); }
  void append(const void* data, int size);
  void append(const JBlock& o) { append(o.data(), o.size()); }
  const std::vector<uint8_t>& bytes() const { return b_; }

  JBlock& operator+=(const JBlock& o) {
    append(o);
    return *this;
  }
  friend JBlock operator+(const JBlock& a, const JBlock& b) {
    JBlock r(a);
    r.append(b);
    return r;
  }
  bool operator==(const JBlock& o) const { return b_ == o.b_; }
  bool operator!=(const JBlock& o) const { return b_ != o.b_; }

  const char* className() const override { return "JBlock"; }
  JObject* clone() const override { return new JBlock(*this); }
  JNode toNode() const override;
  bool fromNode(const JNode& n) override;

private:
  std::vector<uint8_t> b_;
  int cap_ = 0;
};
