#include "app/settings/QtSettingsStore.h"

#include <QSettings>
#include <QString>

namespace {

constexpr const char* kOrganisation = "Larkspur Soft";
constexpr const char* kApplication = "Callwatch";
constexpr const char* kGroup = "Settings";

}  // namespace

// Each access opens the settings anew, so that another window or program sees what was written.
std::optional<int> CQtSettingsStore::ReadInt(const std::string& key) const {
  QSettings s(kOrganisation, kApplication);
  s.beginGroup(kGroup);
  const QVariant value = s.value(QString::fromStdString(key));
  if (!value.isValid()) return std::nullopt;
  bool ok = false;
  const int number = value.toInt(&ok);
  return ok ? std::optional<int>(number) : std::nullopt;
}

void CQtSettingsStore::WriteInt(const std::string& key, int value) {
  QSettings s(kOrganisation, kApplication);
  s.beginGroup(kGroup);
  s.setValue(QString::fromStdString(key), value);
}
