#pragma once
// A wire that loops back: bytes at input 0 go out at output 0 at once, and each value at input 1
// (from the module under test) sends `reply` out at output 0, `replies` times. Wired in front of
// a device module's byte input with one of its outputs back to input 1, it delivers bytes to the
// module from within the module's own broadcast.
#include "modules/Module.h"

class JLoopBack : public JModuleObj {
public:
  JLoopBack() {
    static const JPortTable in{{kSideLeft, 0.1, 0.8, {{"feed", JBytesData::id}, {"echo", JIntegerData::id}}}};
    static const JPortTable out{{kSideRight, 0.1, 0.8, {{"bytes", JBytesData::id}}}};
    setPorts(in, out);
  }
  const char* className() const override { return "JLoopBack"; }
  JObject* clone() const override { return new JLoopBack(*this); }
  void access(int, JLinkObj&, const JDataType& data) override {
    if (data.type() == JBytesData::id) static_cast<const JBytesData&>(data) = block;
  }
  void engine(int n, JLinkObj& link) override {
    if (n == 0) {
      block = readBytes(link);
    } else {
      if (replies <= 0) return;
      --replies;
      block = reply;
    }
    broadcast(0);
  }
  JBlock block, reply;
  int replies = 0;
};
