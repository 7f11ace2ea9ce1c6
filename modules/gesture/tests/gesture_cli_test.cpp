// The gesture modules as the real loomwork command loads them from their libraries: what
// `loomwork modules --json` tells a user about their ports and properties, and the example
// diagram played from end to end.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "testing/Process.h"

#if !defined(LOOMWORK_BIN) || !defined(GESTURE_MODULE_DIR) || !defined(GESTURE_EXAMPLE_DIR)
#error "LOOMWORK_BIN, GESTURE_MODULE_DIR and GESTURE_EXAMPLE_DIR name the binary, the libraries and the example"
#endif

namespace fs = std::filesystem;

namespace {

using Result = ProcessResult;

Result loomwork(const std::vector<std::string>& args, int timeoutMs) { return runProcess(LOOMWORK_BIN, args, timeoutMs); }

nlohmann::json classEntry(const nlohmann::json& all, const std::string& name) {
  for (const auto& c : all)
    if (c.value("class", "") == name) return c;
  ADD_FAILURE() << name << " is not listed";
  return nlohmann::json::object();
}

// "index tag type side" of every port, in order.
std::vector<std::string> portsOf(const nlohmann::json& list) {
  std::vector<std::string> ports;
  for (const auto& p : list)
    ports.push_back(std::to_string(p.value("index", -1)) + " " + p.value("tag", "?") + " " + p.value("type", "?") +
                    " " + p.value("side", "?"));
  return ports;
}

const nlohmann::json kBoolean = {"false", "true"};

nlohmann::json integerProperty(const char* name, int value, int minimum, int maximum) {
  return {{"name", name}, {"kind", "integer"}, {"value", value}, {"minimum", minimum}, {"maximum", maximum}};
}
nlohmann::json booleanProperty(const char* name, int value) {
  return {{"name", name}, {"kind", "choice"}, {"value", value}, {"choices", kBoolean}};
}

}  // namespace

TEST(GestureCli, ModulesJsonListsBothClassesWithTheirPortsAndProperties) {
  Result r = loomwork({"modules", "--json", "--modules", GESTURE_MODULE_DIR}, 30000);
  ASSERT_EQ(r.status, 0) << r.err;
  const auto all = nlohmann::json::parse(r.out, nullptr, false);
  ASSERT_TRUE(all.is_array()) << r.out.substr(0, 200);

  const auto matcher = classEntry(all, "JGestureMatcher");
  EXPECT_EQ(portsOf(matcher["inputs"]),
            (std::vector<std::string>{"0 inputPattern integer left", "1 selectPattern integer top",
                                      "2 calibratePattern integer top", "3 timeAccuracyPercent integer top",
                                      "4 createPatternCommand integer top", "5 resetAllPatterns integer top"}));
  std::vector<std::string> outputs;
  for (int n = 0; n < 10; ++n)
    outputs.push_back(std::to_string(n) + " gesture_" + std::to_string(n + 1) + " integer right");
  outputs.push_back("10 lastPatternMatched integer bottom");
  EXPECT_EQ(portsOf(matcher["outputs"]), outputs);
  EXPECT_EQ(matcher["properties"],
            nlohmann::json({integerProperty("timeAccuracyPercent", 30, 0, 100), booleanProperty("ignoreRepeats", 1),
                            booleanProperty("recognitionClearsOthers", 0), booleanProperty("useTimerAccuracy", 0),
                            booleanProperty("debugging", 0)}));

  const auto maker = classEntry(all, "JGestureMaker");
  EXPECT_EQ(portsOf(maker["inputs"]),
            (std::vector<std::string>{"0 static pattern value integer left", "1 enabled integer top"}));
  EXPECT_EQ(portsOf(maker["outputs"]), (std::vector<std::string>{"0 createDynamicPattern integer right"}));
  EXPECT_EQ(maker["properties"],
            nlohmann::json({integerProperty("secondsBeforeCreating", 3, 0, 100), booleanProperty("enabled", 0),
                            booleanProperty("ignoreZero", 1)}));
}

// The example as the README runs it (real time, about 22 s): two gestures, each followed by a
// pause, are learned; performed again, each is recognised. The saved diagram keeps what was learned.
TEST(GestureCli, ExampleLearnsTwoGesturesAndRecognisesThemAgain) {
#ifndef GESTURE_EXAMPLE_RUNNABLE
  GTEST_SKIP() << "the posture modules are not part of this build";
#endif
  char tmpl[] = "/tmp/gesture-cli-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const std::string saved = std::string(tmpl) + "/saved.lwd";
  Result r = loomwork({"run", std::string(GESTURE_EXAMPLE_DIR) + "/gesture.lwd", "--until-idle", "--save", saved,
                       "--modules", GESTURE_MODULE_DIR},
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
  EXPECT_EQ(gestures, (std::vector<std::string>{"gestures.0 1", "gestures.10 1",  // the first again
                                                "gestures.0 0",                   // falls at the next value
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
