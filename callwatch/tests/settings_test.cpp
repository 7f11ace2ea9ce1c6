// Settings through the configuration file the desktop window shares, in a folder of the test's;
// and the settings' own rules against a store that keeps them in memory.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <sys/stat.h>

#include <fstream>
#include <map>

#include "app/settings/QtSettingsStore.h"
#include "testing/TempFolder.h"

namespace {

// Set before anything reads the configuration's place, which is then kept for the process.
TempFolder& ConfigFolder() {
  static TempFolder folder("callwatch-config");
  static bool set = [] { return setenv("XDG_CONFIG_HOME", folder.path().c_str(), 1) == 0; }();
  (void)set;
  return folder;
}

const std::string kFile = "/Larkspur Soft/Callwatch.conf";

TEST(SettingsTest, DefaultsThenWhatWasSavedUnderTheSharedNames) {
  TempFolder& folder = ConfigFolder();
  CQtSettingsStore store;
  CCallwatchSettings s = CCallwatchSettings::Load(store, 120);
  EXPECT_EQ(s.rings, 4);
  EXPECT_EQ(s.sortColumn, 0);
  EXPECT_TRUE(s.sortAscending);
  EXPECT_EQ(s.columnWidths[5], 120);

  CCallwatchSettings::SaveRings(store, 2);
  CCallwatchSettings::SaveRings(store, 5);  // refused
  s.sortColumn = 3;
  s.sortAscending = false;
  s.columnWidths = {10, 20, 30, 40, 50, 60};
  s.SaveView(store);
  CCallwatchSettings back = CCallwatchSettings::Load(store, 120);
  EXPECT_EQ(back.rings, 2);
  EXPECT_EQ(back.sortColumn, 3);
  EXPECT_FALSE(back.sortAscending);
  EXPECT_EQ(back.columnWidths[0], 10);
  EXPECT_EQ(back.columnWidths[5], 60);

  const std::string text = TempFolder::read(folder.path() + kFile);
  EXPECT_NE(text.find("[Settings]"), std::string::npos);
  EXPECT_NE(text.find("Rings=2"), std::string::npos);
  EXPECT_NE(text.find("SortAscending=0"), std::string::npos);
  EXPECT_NE(text.find("ColumnWidth5=60"), std::string::npos);
}

TEST(SettingsTest, ValuesOutOfRangeOrUnreadableFallBackToDefaults) {
  TempFolder& folder = ConfigFolder();
  ::mkdir((folder.path() + "/Larkspur Soft").c_str(), 0755);
  std::ofstream(folder.path() + kFile, std::ios::trunc)
      << "[Settings]\nRings=9\nSortColumn=-1\nSortAscending=banana\nColumnWidth2=77\n";
  CQtSettingsStore store;
  EXPECT_EQ(store.ReadInt("SortAscending"), std::nullopt);  // not a number
  EXPECT_EQ(store.ReadInt("Missing"), std::nullopt);
  EXPECT_EQ(store.ReadInt("Rings"), 9);
  CCallwatchSettings s = CCallwatchSettings::Load(store, 100);
  EXPECT_EQ(s.rings, 4);
  EXPECT_EQ(s.sortColumn, 0);
  EXPECT_TRUE(s.sortAscending);
  EXPECT_EQ(s.columnWidths[2], 77);
  EXPECT_EQ(s.columnWidths[3], 100);
}

// A store in memory: what the settings read and write, key by key.
class MemoryStore : public ISettingsStore {
public:
  std::optional<int> ReadInt(const std::string& key) const override {
    auto it = values.find(key);
    return it == values.end() ? std::nullopt : std::optional<int>(it->second);
  }
  void WriteInt(const std::string& key, int value) override { values[key] = value; }
  std::map<std::string, int> values;
};

TEST(SettingsStoreTest, EveryValueKeepsItsRangeAndItsKey) {
  MemoryStore store;
  // The edges of each range are taken, one past them falls back.
  store.values = {{"Rings", 0},        {"SortColumn", 5},        {"SortAscending", 0},
                  {"ColumnWidth0", 0}, {"ColumnWidth1", 100000}, {"ColumnWidth2", 100001},
                  {"ColumnWidth3", -1}};
  CCallwatchSettings s = CCallwatchSettings::Load(store, 33);
  EXPECT_EQ(s.rings, 0);
  EXPECT_EQ(s.sortColumn, 5);
  EXPECT_FALSE(s.sortAscending);
  EXPECT_EQ(s.columnWidths, (std::array<int, 6>{0, 100000, 33, 33, 33, 33}));
  store.values = {{"Rings", 5}, {"SortColumn", 6}, {"SortAscending", 2}};
  s = CCallwatchSettings::Load(store, 33);
  EXPECT_EQ(s.rings, 4);
  EXPECT_EQ(s.sortColumn, 0);
  EXPECT_TRUE(s.sortAscending);

  // Saving writes exactly the keys the desktop window has always used.
  store.values.clear();
  CCallwatchSettings::SaveRings(store, -1);
  CCallwatchSettings::SaveRings(store, 5);
  EXPECT_TRUE(store.values.empty());
  CCallwatchSettings::SaveRings(store, 3);
  s.sortColumn = 2;
  s.sortAscending = false;
  s.columnWidths = {1, 2, 3, 4, 5, 6};
  s.SaveView(store);
  const std::map<std::string, int> expected{{"Rings", 3},        {"SortColumn", 2},   {"SortAscending", 0},
                                            {"ColumnWidth0", 1}, {"ColumnWidth1", 2}, {"ColumnWidth2", 3},
                                            {"ColumnWidth3", 4}, {"ColumnWidth4", 5}, {"ColumnWidth5", 6}};
  EXPECT_EQ(store.values, expected);
}

}  // namespace
