// Settings through the configuration file the desktop window shares, in a folder of the test's.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <sys/stat.h>

#include <fstream>

#include "core/Settings.h"
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
  CCallwatchSettings s = CCallwatchSettings::Load(120);
  EXPECT_EQ(s.rings, 4);
  EXPECT_EQ(s.sortColumn, 0);
  EXPECT_TRUE(s.sortAscending);
  EXPECT_EQ(s.columnWidths[5], 120);

  CCallwatchSettings::SaveRings(2);
  CCallwatchSettings::SaveRings(5);  // refused
  s.sortColumn = 3;
  s.sortAscending = false;
  s.columnWidths = {10, 20, 30, 40, 50, 60};
  s.SaveView();
  CCallwatchSettings back = CCallwatchSettings::Load(120);
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
  CCallwatchSettings s = CCallwatchSettings::Load(100);
  EXPECT_EQ(s.rings, 4);
  EXPECT_EQ(s.sortColumn, 0);
  EXPECT_TRUE(s.sortAscending);
  EXPECT_EQ(s.columnWidths[2], 77);
  EXPECT_EQ(s.columnWidths[3], 100);
}

}  // namespace
