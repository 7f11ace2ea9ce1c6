// The motion tracker's record parser on arbitrary bytes in arbitrary blocks, and its profile
// reader on arbitrary files. The blocks must decode exactly as the same bytes in one delivery do
// (the parser keeps its place across deliveries and parses every byte), every output stays in
// the device's range, and the parser's position stays within a record.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>
#include <string>
#include <vector>

#include "JMotionTrackerObj.h"
#include "FuzzSupport.h"
#include "loom/JDiagram.h"

namespace {
struct Rig {
  Rig() {
    diagram.bindHostThread();
    source = static_cast<ByteSource*>(diagram.add(new ByteSource(), "source"));
    tracker = static_cast<JMotionTrackerObj*>(diagram.add(new JMotionTrackerObj(), "tracker"));
    diagram.link(source, 0, tracker, 0);
    diagram.setObserver([this](JModuleObj& m, int output, const JWireValue& v) {
      if (&m == tracker) seen.push_back(output * 100000 + v.integer());
    });
  }
  void feed(const std::vector<uint8_t>& b) {
    source->block = JBlock(b.data(), static_cast<int>(b.size()));
    source->broadcast(0);
    check(tracker->receiveBlock.size() == 0, "bytes left unparsed");
    check(tracker->byteIndex >= 0 && tracker->byteIndex <= JMotionTrackerObj::kPastRecord, "position out of a record");
  }
  JDiagram diagram;
  ByteSource* source;
  JMotionTrackerObj* tracker;
  std::vector<int> seen;  // output * 100000 + value, in order
};

const std::string& profilePath() {
  static const std::string path = [] {
    char tmpl[] = "/tmp/fuzz-tracker-XXXXXX";
    int fd = mkstemp(tmpl);
    if (fd >= 0) close(fd);
    return std::string(tmpl);
  }();
  return path;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  std::vector<std::vector<uint8_t>> blocks;
  std::vector<uint8_t> all;
  while (in.remaining_bytes() > 0) {
    blocks.push_back(in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 300)));
    all.insert(all.end(), blocks.back().begin(), blocks.back().end());
  }
  Rig split, whole;
  for (const auto& b : blocks) split.feed(b);
  whole.feed(all);
  check(split.seen == whole.seen, "blocks decode differently from one delivery");
  for (int s : split.seen) {
    const int output = (s + 50000) / 100000, value = s - output * 100000;
    check(output >= 1 && output <= 6, "a record broadcast on the command output");
    check(value >= (output <= 3 ? -3600 : -18000) && value <= (output <= 3 ? 3600 : 18000), "value out of range");
  }
  check(split.seen.size() <= all.size() / 2, "more words than byte pairs");

  // The same bytes as a profile: three commands of at most 99 bytes, none ending in a line feed.
  FILE* f = std::fopen(profilePath().c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  JMotionTrackerObj& t = *split.tracker;
  check(t.loadProfile(profilePath().c_str()), "profile not read");
  bool absent = false;
  for (const auto* c : {&t.continuousOnCommand, &t.continuousOffCommand, &t.sampleCommand}) {
    if (!*c) {
      absent = true;
      continue;
    }
    check(!absent, "a command after an absent one");
    check((*c)->size() <= 99, "command too long");
    check((*c)->empty() || (*c)->back() != '\n', "line feed kept");
  }
  return 0;
}
