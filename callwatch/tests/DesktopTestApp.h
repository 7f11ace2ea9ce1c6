#pragma once
// The one QApplication of a desktop test program, made by whichever test asks first: offscreen,
// with its settings in a temporary folder (never the user's).
#include <stdlib.h>

#include <QApplication>

#include "testing/TempFolder.h"

inline QApplication& DesktopTestApp(const char* programName) {
  static TempFolder config{"callwatch-desktop-config"};
  static int argc = 1;
  static char* argv[] = {const_cast<char*>(programName), nullptr};
  static QApplication* app = [] {
    if (auto* made = qobject_cast<QApplication*>(QCoreApplication::instance())) return made;
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
    return new QApplication(argc, argv);
  }();
  return *app;
}
