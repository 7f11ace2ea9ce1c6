#pragma once
// Callwatch's settings, shared with the desktop window: organisation "Larkspur Soft",
// application "Callwatch", group "Settings". Values outside their range read as their default.
#include <array>

struct CCallwatchSettings {
  static constexpr int kColumns = 6;

  int rings = 4;  // 0 to 4; 0: never answer automatically
  int sortColumn = 0;
  bool sortAscending = true;
  std::array<int, kColumns> columnWidths{};  // 0: the list's width / 6

  // Reads every value (defaults for missing or bad ones); columnDefault is the width of a
  // column that has none.
  static CCallwatchSettings Load(int columnDefault = 0);
  static void SaveRings(int rings);  // refuses values outside 0 to 4
  void SaveView() const;             // sort column, direction and column widths
};
