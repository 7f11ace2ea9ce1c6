// The network and speech modules' settings as a user reaches them: by property, by the real
// loomwork binary's --set, and by a diagram file that loomwork runs and saves.
#include <gtest/gtest.h>

#include <string>

#include "base/JObject.h"
#include "testing/SettingRoads.h"

// Sent below and above its range, a port ends as its row says by each road: left out with a
// warning, a diagram file's too (before, a file took any port). The speech modules have no ranged
// setting; their rows are read all the same.
TEST(Settings, OutOfRangeValuesEndAsTheRowsSayByEveryRoad) {
  for (const std::string name : {"JToneDigitObj", "JPageReaderObj", "JVoiceCommandObj", "JVoiceOutObj"}) {
    // The speech classes are linked in only when their folder is part of this build.
    if (name.rfind("JVoice", 0) == 0 && !JClassRegistry::prototype(name)) continue;
    for (const auto& failure : checkSettingRoads(name, LOOMWORK_BIN, LOOMWORK_MODULES_DIR)) ADD_FAILURE() << failure;
  }
}
