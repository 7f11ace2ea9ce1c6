#include "core/Settings.h"

#include <QSettings>
#include <QString>

namespace {

constexpr const char* kOrganisation = "Larkspur Soft";
constexpr const char* kApplication = "Callwatch";
constexpr const char* kGroup = "Settings";

int ReadInt(QSettings& s, const char* key, int fallback, int low, int high) {
  bool ok = false;
  const int value = s.value(key, fallback).toInt(&ok);
  return ok && value >= low && value <= high ? value : fallback;
}

}  // namespace

CCallwatchSettings CCallwatchSettings::Load(int columnDefault) {
  QSettings s(kOrganisation, kApplication);
  s.beginGroup(kGroup);
  CCallwatchSettings c;
  c.rings = ReadInt(s, "Rings", 4, 0, 4);
  c.sortColumn = ReadInt(s, "SortColumn", 0, 0, kColumns - 1);
  c.sortAscending = ReadInt(s, "SortAscending", 1, 0, 1) == 1;
  for (int i = 0; i < kColumns; ++i) {
    const QString key = QString("ColumnWidth%1").arg(i);
    c.columnWidths[i] = ReadInt(s, key.toUtf8().constData(), columnDefault, 0, 100000);
  }
  return c;
}

void CCallwatchSettings::SaveRings(int rings) {
  if (rings < 0 || rings > 4) return;
  QSettings s(kOrganisation, kApplication);
  s.beginGroup(kGroup);
  s.setValue("Rings", rings);
}

void CCallwatchSettings::SaveView() const {
  QSettings s(kOrganisation, kApplication);
  s.beginGroup(kGroup);
  s.setValue("SortColumn", sortColumn);
  s.setValue("SortAscending", sortAscending ? 1 : 0);
  for (int i = 0; i < kColumns; ++i) s.setValue(QString("ColumnWidth%1").arg(i), columnWidths[i]);
}
