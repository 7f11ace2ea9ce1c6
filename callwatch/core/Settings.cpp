#include "core/Settings.h"

namespace {

int ReadInt(const ISettingsStore& s, const std::string& key, int fallback, int low, int high) {
  const std::optional<int> value = s.ReadInt(key);
  return value && *value >= low && *value <= high ? *value : fallback;
}

std::string ColumnWidthKey(int column) { return "ColumnWidth" + std::to_string(column); }

}  // namespace

CCallwatchSettings CCallwatchSettings::Load(const ISettingsStore& s, int columnDefault) {
  CCallwatchSettings c;
  c.rings = ReadInt(s, "Rings", 4, 0, 4);
  c.sortColumn = ReadInt(s, "SortColumn", 0, 0, kColumns - 1);
  c.sortAscending = ReadInt(s, "SortAscending", 1, 0, 1) == 1;
  for (int i = 0; i < kColumns; ++i) c.columnWidths[i] = ReadInt(s, ColumnWidthKey(i), columnDefault, 0, 100000);
  return c;
}

void CCallwatchSettings::SaveRings(ISettingsStore& s, int rings) {
  if (rings < 0 || rings > 4) return;
  s.WriteInt("Rings", rings);
}

void CCallwatchSettings::SaveView(ISettingsStore& s) const {
  s.WriteInt("SortColumn", sortColumn);
  s.WriteInt("SortAscending", sortAscending ? 1 : 0);
  for (int i = 0; i < kColumns; ++i) s.WriteInt(ColumnWidthKey(i), columnWidths[i]);
}
