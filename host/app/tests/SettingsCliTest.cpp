// The host modules' settings: a value outside a range ends the same by property, --set and file;
// the listings and --save follow the rows.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "Libraries.h"
#include "testing/Process.h"
#include "testing/SettingRoads.h"
#include "testing/TempFolder.h"

TEST(Settings, HostModulesOutOfRangeValuesEndAsTheRowsSayByEveryRoad) {
  registerHostModules();
  for (const char* name : {"Monitor", "Timer", "SerialPort", "Value", "Player"})
    for (const auto& failure : checkSettingRoads(name, LOOMWORK_BIN, LOOMWORK_MODULES_DIR)) ADD_FAILURE() << failure;
}

TEST(Settings, TheReferenceAndJsonListEachSettingsRow) {
  const ProcessResult r = runProcess(LOOMWORK_BIN, {"modules", "--json", "--modules", LOOMWORK_MODULES_DIR}, 30000);
  ASSERT_EQ(r.status, 0) << r.err;
  const auto all = nlohmann::json::parse(r.out);
  nlohmann::json timer;
  for (const auto& c : all)
    if (c["class"] == "Timer") timer = c;
  ASSERT_TRUE(timer.contains("settings"));
  const auto& period = timer["settings"][0];
  EXPECT_EQ(period["property"], "periodMs");
  EXPECT_EQ(period["key"], "periodMs");
  EXPECT_EQ(period["initial"], "100");
  EXPECT_EQ(period["range"], "1..3600000");
  EXPECT_EQ(period["outside"], "refused");
  EXPECT_EQ(period["stored"], "missing or stored: 100");
  // The stored keys in the order a diagram holds them, as the reference names them.
  nlohmann::json player;
  for (const auto& c : all)
    if (c["class"] == "Player") player = c;
  ASSERT_TRUE(player.contains("keys"));
  EXPECT_FALSE(player["keys"].empty());
  EXPECT_EQ(timer["keys"], nlohmann::json::array({"periodMs"}));

  const ProcessResult md =
      runProcess(LOOMWORK_BIN, {"modules", "--markdown", "--modules", LOOMWORK_MODULES_DIR}, 30000);
  EXPECT_NE(md.out.find("| file | file | text (file) |"), std::string::npos) << "Player's file is marked as a path";
}

// A refused value from a file is the same error line as by --set; a left-out one the same warning.
TEST(Settings, FileAndCommandLineSayTheSameAboutAValueOutsideItsRange) {
  TempFolder t;
  const std::string bad = t.write("bad.lwd", R"({"loomwork": 1, "modules": [
    {"id": "mon", "class": "Monitor", "content": {"inputs": 17}}]})");
  const std::string good = t.write("good.lwd", R"({"loomwork": 1, "modules": [
    {"id": "mon", "class": "Monitor", "content": {"inputs": 2}}]})");
  const ProcessResult byFile = runProcess(LOOMWORK_BIN, {"run", bad, "--seconds", "0"}, 30000);
  const ProcessResult bySet =
      runProcess(LOOMWORK_BIN, {"run", good, "--seconds", "0", "--set", "mon.inputs=17"}, 30000);
  EXPECT_EQ(byFile.status, 2);
  EXPECT_EQ(bySet.status, 2);
  EXPECT_NE(byFile.err.find("key \"inputs\": 17 is outside 1..16"), std::string::npos) << byFile.err;
  EXPECT_NE(bySet.err.find("mon.inputs: 17 is outside 1..16"), std::string::npos) << bySet.err;
}

// --save into another folder rewrites a path setting so that it names the same file.
TEST(Settings, SaveElsewhereRewritesPathSettings) {
  TempFolder t;
  t.write("values.csv", "0,0,1\n");
  const std::string d = t.write("d.lwd", R"({"loomwork": 1, "modules": [
    {"id": "p", "class": "Player", "content": {"file": "values.csv", "outputs": "i"}}]})");
  const std::string sub = t.file("sub");
  ASSERT_EQ(runProcess("/bin/mkdir", {sub}, 5000).status, 0);
  const ProcessResult r = runProcess(LOOMWORK_BIN, {"run", d, "--until-idle", "--save", sub + "/out.lwd"}, 30000);
  ASSERT_EQ(r.status, 0) << r.err;
  const auto saved = nlohmann::json::parse(TempFolder::read(sub + "/out.lwd"));
  EXPECT_EQ(saved["modules"][0]["content"]["file"], "../values.csv");
  EXPECT_EQ(saved["modules"][0]["content"]["outputs"], "i");
}
