// What a user sees of the two posture classes: `loomwork modules --json`, the real command,
// loading the libraries this build made. Tags, sides and properties must be exactly these.

#include <gtest/gtest.h>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "testing/Process.h"

#ifndef LOOMWORK_BIN
#error "LOOMWORK_BIN names the loomwork command"
#endif
#ifndef LOOMWORK_MODULES_DIR
#error "LOOMWORK_MODULES_DIR names the folder of this build's module libraries"
#endif

namespace {
using json = nlohmann::json;

// Runs loomwork with args: its standard output and exit status (-1 when it had to be killed).
int runLoomwork(const std::vector<std::string>& args, std::string& out, int timeoutMs = 30000) {
  ProcessResult r = runProcess(LOOMWORK_BIN, args, timeoutMs);
  out = r.out;
  return r.status;
}

json port(int index, const std::string& tag, const char* side) {
  return {{"index", index}, {"tag", tag}, {"type", "integer"}, {"side", side}};
}
json integerProperty(const char* name, int value, int minimum, int maximum) {
  return {{"name", name}, {"kind", "integer"}, {"value", value}, {"minimum", minimum}, {"maximum", maximum}};
}
json booleanProperty(const char* name, int value) {
  return {{"name", name}, {"kind", "choice"}, {"value", value}, {"choices", json::array({"false", "true"})}};
}

class ModulesJson : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    std::string out;
    status_ = runLoomwork({"modules", "--json", "--modules", LOOMWORK_MODULES_DIR}, out);
    if (status_ != 0) return;
    json all = json::parse(out, nullptr, false);
    if (!all.is_array()) return;
    for (const auto& c : all)
      if (c.is_object() && c.contains("class") && c["class"].is_string()) classes_[c["class"].get<std::string>()] = c;
  }
  static const json& classNamed(const std::string& name) {
    static const json none;
    auto it = classes_.find(name);
    return it == classes_.end() ? none : it->second;
  }
  static int status_;
  static std::map<std::string, json> classes_;
};
int ModulesJson::status_ = -1;
std::map<std::string, json> ModulesJson::classes_;
}  // namespace

TEST_F(ModulesJson, ListsThePostureRecognizer) {
  ASSERT_EQ(status_, 0);
  const json& c = classNamed("JPoseMatcher");
  ASSERT_TRUE(c.is_object()) << "JPoseMatcher not listed";

  json inputs = json::array();
  for (int i = 0; i < 10; ++i) inputs.push_back(port(i, "input" + std::to_string(i + 1), "left"));
  const char* top[] = {"timer",        "calibrator",     "row count",         "advance tick count",
                       "decay tick count", "percent propagation", "accuracy percent", "select pattern",
                       "mark pattern", "display pattern", "create pattern",    "reset all patterns"};
  for (int i = 0; i < 12; ++i) inputs.push_back(port(10 + i, top[i], "top"));
  EXPECT_EQ(c["inputs"], inputs);

  json outputs = json::array();
  for (int i = 0; i < 10; ++i) outputs.push_back(port(i, "pattern" + std::to_string(i + 1), "right"));
  outputs.push_back(port(10, "recognized pattern", "bottom"));
  outputs.push_back(port(11, "auto create signal", "bottom"));
  EXPECT_EQ(c["outputs"], outputs);

  json properties = json::array({integerProperty("numberRows", 16, 2, 32),
                     integerProperty("numberColors", 16, 1, 16),
                     integerProperty("ticksNeededToAdvance", 1, 1, 100),
                     integerProperty("ticksNeededToDecay", 1, 1, 100),
                     booleanProperty("adaptationEnabled", 1),
                     integerProperty("adaptationSpeed", 30, 0, 100),
                     integerProperty("accuracyPercent", 80, 0, 100)});
  const int levels[16][3] = {{0, 0, 0},       {10, 10, 10},    {23, 13, 34},    {46, 26, 68},
                             {69, 39, 102},   {92, 52, 136},   {118, 69, 170},  {118, 69, 170},
                             {152, 70, 174},  {186, 71, 178},  {222, 72, 183},  {228, 108, 147},
                             {234, 144, 111}, {240, 180, 75},  {246, 216, 39},  {255, 255, 0}};
  for (int i = 0; i < 16; ++i)
    properties.push_back({{"name", "color" + std::to_string(i)},
                          {"kind", "colour"},
                          {"value", json::array({levels[i][0], levels[i][1], levels[i][2]})}});
  EXPECT_EQ(c["properties"], properties);
}

TEST_F(ModulesJson, ListsThePostureCreator) {
  ASSERT_EQ(status_, 0);
  const json& c = classNamed("JPoseMaker");
  ASSERT_TRUE(c.is_object()) << "JPoseMaker not listed";
  EXPECT_EQ(c["inputs"], json::array({port(0, "auto create signal", "left"), port(1, "enabled", "top"),
                               port(2, "easyToHardPercent", "top")}));
  EXPECT_EQ(c["outputs"], json::array({port(0, "accelerationExceedsThreshold", "right")}));
  EXPECT_EQ(c["properties"],
            json::array({integerProperty("easyToHardPercent", 0, 0, 100), booleanProperty("enabled", 0)}));
}
