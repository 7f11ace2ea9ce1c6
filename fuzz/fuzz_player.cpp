// The Player's file reader on arbitrary bytes, for a few output layouts. What it accepts must be
// consistent: every event on an existing output with a value of that output's type, and every
// value reading back the same from the way the Monitor prints it.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "PlayerFile.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (const char* letters : {"i", "s", "b", "isb", "bsiiiiiiiiiiiiii"}) {
    std::vector<int> types;
    std::string error;
    check(parseOutputTypes(letters, types, error), "output letters refused");
    std::vector<PlayerEvent> events;
    if (!parsePlayerText(text, types, events, error)) {
      check(events.empty() && error.rfind("line ", 0) == 0, "a refused file left events or no line number");
      continue;
    }
    for (const PlayerEvent& e : events) {
      check(e.timeMs >= 0 && e.output >= 0 && e.output < static_cast<int>(types.size()), "event out of range");
      const int type = types[static_cast<size_t>(e.output)];
      check(e.value.type() == type, "value of the wrong type");
      JWireValue back;
      check(parseWireValue(e.value.format(), type, back, error), "a printed value does not read back");
      check(back == e.value, "a printed value reads back different");
    }
  }
  return 0;
}
