#pragma once
// Callwatch's settings through Qt's QSettings, shared with the desktop window: organisation
// "Larkspur Soft", application "Callwatch", group "Settings".
#include "core/Settings.h"

class CQtSettingsStore : public ISettingsStore {
public:
  std::optional<int> ReadInt(const std::string& key) const override;
  void WriteInt(const std::string& key, int value) override;
};
