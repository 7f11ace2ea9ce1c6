// The scene modules' settings as a user reaches them: by property, by the real loomwork binary's
// --set, and by a diagram file that loomwork runs and saves.
#include <gtest/gtest.h>

#include "testing/SettingRoads.h"

// Sent below and above its range, a setting ends as its row says by each road: the plot feed's
// port is left out with a warning (a file's too), as is a mapper's object or type outside its list.
TEST(Settings, OutOfRangeValuesEndAsTheRowsSayByEveryRoad) {
  for (const char* className : {"JRegionPickerObj", "JSceneMapper", "JPlotFeed"})
    for (const std::string& failure : checkSettingRoads(className, LOOMWORK_BIN, LOOMWORK_MODULES_DIR))
      ADD_FAILURE() << failure;
}
