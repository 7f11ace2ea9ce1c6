// The GPS receiver's line assembler and sentence reader on arbitrary bytes in arbitrary blocks.
// The blocks must give exactly what the same bytes in one delivery give (outputs and debug
// lines), and every bound must hold: the line within its buffer, the position texts within
// theirs (at most 50 characters of a field, its '.' shift, a blank and a hemisphere letter).
#include <cstdio>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>
#include <string>
#include <vector>

#include "JGeoFixObj.h"
#include "base/JComponent.h"
#include "FuzzSupport.h"
#include "loom/JDiagram.h"

namespace {
struct Rig {
  Rig() {
    diagram.bindHostThread();
    source = static_cast<ByteSource*>(diagram.add(new ByteSource(), "source"));
    gps = static_cast<JGeoFixObj*>(diagram.add(new JGeoFixObj(), "gps"));
    diagram.link(source, 0, gps, 0);
    gps->debug = 1;
    diagram.setObserver([this](JModuleObj& m, int output, const JWireValue& v) {
      if (&m == gps) seen.push_back(std::to_string(output) + " " + v.format());
    });
  }
  void feed(const std::vector<uint8_t>& b) {
    source->block = JBlock(b.data(), static_cast<int>(b.size()));
    source->broadcast(0);
    check(gps->lineLength >= 0 && gps->lineLength <= JGeoFixObj::kLineMax, "line length out of its buffer");
    check(gps->line[gps->lineLength] == '\0', "line not terminated");
    check(gps->latitude.length() <= 53 && gps->longitude.length() <= 53, "position text too long");
  }
  JDiagram diagram;
  ByteSource* source;
  JGeoFixObj* gps;
  std::vector<std::string> seen;
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::vector<std::string>* lines = [] {
    auto* l = new std::vector<std::string>;
    JComponent::setSink([l](const std::string& name, const std::string& text) { l->push_back(name + ": " + text); });
    return l;
  }();
  FuzzedDataProvider in(data, size);
  std::vector<std::vector<uint8_t>> blocks;
  std::vector<uint8_t> all;
  while (in.remaining_bytes() > 0) {
    blocks.push_back(in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 300)));
    all.insert(all.end(), blocks.back().begin(), blocks.back().end());
  }
  lines->clear();
  Rig split;
  for (const auto& b : blocks) split.feed(b);
  const std::vector<std::string> splitLines = *lines;
  lines->clear();
  Rig whole;
  whole.feed(all);
  check(split.seen == whole.seen, "blocks give other outputs than one delivery");
  check(splitLines == *lines, "blocks give other debug lines than one delivery");
  return 0;
}
