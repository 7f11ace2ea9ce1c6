#pragma once
// What the fuzz targets share: a failed check ends the run where the fuzzer sees it, and for the
// byte-wire modules a source module with one byte-block output, as a SerialPort's, that hands
// out whatever block the target gives it.
#include <cstdio>
#include <cstdlib>

#include "loom/JModuleObj.h"

inline void check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}

class ByteSource : public JModuleObj {
public:
  ByteSource() {
    static const JPortTable none;
    static const JPortTable out{{kSideRight, 0.1, 0.8, {{"bytes", JBytesData::id}}}};
    setPorts(none, out);
  }
  const char* className() const override { return "ByteSource"; }
  JObject* clone() const override { return new ByteSource(*this); }
  void access(int, JLinkObj&, const JDataType& data) override { static_cast<const JBytesData&>(data) = block; }
  JBlock block;
};
