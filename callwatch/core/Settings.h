#pragma once
// Callwatch's settings: the rings before a call is answered automatically, the call log's sort
// and its column widths. Values outside their range read as their default. Where they are kept
// is the store's business; the program keeps them where the desktop window does.
#include <array>
#include <optional>
#include <string>

class ISettingsStore {
public:
  virtual ~ISettingsStore() = default;
  // The integer kept under key; nothing when there is none or it is not an integer.
  virtual std::optional<int> ReadInt(const std::string& key) const = 0;
  virtual void WriteInt(const std::string& key, int value) = 0;
};

struct CCallwatchSettings {
  static constexpr int kColumns = 6;

  int rings = 4;  // 0 to 4; 0: never answer automatically
  int sortColumn = 0;
  bool sortAscending = true;
  std::array<int, kColumns> columnWidths{};  // 0: the list's width / 6

  // Reads every value (defaults for missing or bad ones); columnDefault is the width of a
  // column that has none.
  static CCallwatchSettings Load(const ISettingsStore& store, int columnDefault = 0);
  static void SaveRings(ISettingsStore& store, int rings);  // refuses values outside 0 to 4
  void SaveView(ISettingsStore& store) const;               // sort column, direction and column widths
};
