// The gesture modules as the real loomwork command loads them from their libraries: the example
// diagram played from end to end, and the settings of the gesture and posture modules by every
// road a user has.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "base/JObject.h"
#include "testing/Process.h"
#include "testing/SettingRoads.h"

namespace fs = std::filesystem;

namespace {

using Result = ProcessResult;

Result loomwork(const std::vector<std::string>& args, int timeoutMs) {
  return runProcess(LOOMWORK_BIN, args, timeoutMs);
}

}  // namespace

// The example as the README runs it (real time, about 22 s): two gestures, each followed by a
// pause, are learned; performed again, each is recognised. The saved diagram keeps what was learned.
TEST(GestureCli, ExampleLearnsTwoGesturesAndRecognisesThemAgain) {
  if (!fs::exists(std::string(LOOMWORK_MODULES_DIR) + "/JPoseMatcher.so"))
    GTEST_SKIP() << "the posture modules are not part of this build";
  char tmpl[] = "/tmp/gesture-cli-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const std::string saved = std::string(tmpl) + "/saved.lwd";
  Result r = loomwork({"run", std::string(LOOMWORK_SOURCE_DIR) + "/examples/gesture/gesture.lwd", "--until-idle",
                       "--save", saved, "--modules", LOOMWORK_MODULES_DIR},
                      90000);
  std::ifstream in(saved);
  const auto diagram = nlohmann::json::parse(in, nullptr, false);
  in.close();
  fs::remove_all(tmpl);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");

  // What the gesture monitor saw, and how many times the creator pulsed before the first
  // recognition: once for each gesture learned.
  std::vector<std::string> gestures;
  int pulsesBefore = 0;
  for (const auto& line : r.outLines()) {
    if (line.rfind("M gestures.", 0) == 0) gestures.push_back(line.substr(2));
    if (line == "M learn.1 65535" && gestures.empty()) ++pulsesBefore;
  }
  EXPECT_EQ(pulsesBefore, 2);
  EXPECT_EQ(gestures, (std::vector<std::string>{"gestures.0 1", "gestures.10 1",     // the first again
                                                "gestures.0 0",                      // falls at the next value
                                                "gestures.1 1", "gestures.10 2"}));  // the second again

  ASSERT_TRUE(diagram.is_object());
  nlohmann::json content;
  for (const auto& m : diagram["modules"])
    if (m.value("id", "") == "recogniser") content = m["content"];
  ASSERT_TRUE(content.is_object());
  auto values = [&](int slot) {
    std::vector<int> v;
    const int count = content.value("p-" + std::to_string(slot), -1);
    for (int i = 0; i < count && i < 10; ++i)
      v.push_back(content.value("p" + std::to_string(slot) + "-" + std::to_string(i), -1));
    return v;
  };
  EXPECT_EQ(values(0), (std::vector<int>{1, 2, 3, 0}));
  EXPECT_EQ(values(1), (std::vector<int>{3, 2, 1, 0}));
  EXPECT_EQ(values(2), (std::vector<int>{}));
  // Times from the host's clock: each posture was held for most of a second.
  const int gap = content.value("ts0-1", 0) - content.value("ts0-0", 0);
  EXPECT_GT(gap, 500);
  EXPECT_LT(gap, 1500);
}

// Each ranged setting, sent a value just below and just above its range by property, by --set
// and by a diagram file, ends as its row says. Rows, colours, tick counts, adaptation speed and
// quiet time are left as they were (before, a property held them to the range and a file took
// any tick count, speed or quiet time, and one row); the percentages are held to 0..100.
TEST(Settings, OutOfRangeValuesEndAsTheRowsSayByEveryRoad) {
  for (const std::string name : {"JGestureMatcher", "JGestureMaker", "JPoseMatcher", "JPoseMaker"}) {
    // The posture classes are linked in only when their folder is part of this build.
    if (name.rfind("JPose", 0) == 0 && !JClassRegistry::prototype(name)) continue;
    for (const auto& failure : checkSettingRoads(name, LOOMWORK_BIN, LOOMWORK_MODULES_DIR)) ADD_FAILURE() << failure;
  }
}
