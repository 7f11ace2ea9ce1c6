#pragma once
// The one QApplication of a desktop test program, made by whichever test asks first: offscreen,
// with its settings and runtime folder in temporary folders (never the user's).
#include <stdlib.h>
#include <sys/stat.h>

#include <QApplication>
#include <QString>
#include <QStringList>

#include "testing/TempFolder.h"

inline QApplication& DesktopTestApp(const char* programName) {
  static TempFolder config{"callwatch-desktop-config"};
  static TempFolder runtime{"callwatch-desktop-runtime"};
  static int argc = 1;
  static char* argv[] = {const_cast<char*>(programName), nullptr};
  static QApplication* app = [] {
    if (auto* made = qobject_cast<QApplication*>(QCoreApplication::instance())) return made;
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
    chmod(runtime.path().c_str(), 0700);  // Qt takes no other
    setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
    return new QApplication(argc, argv);
  }();
  return *app;
}

// Every warning Qt gives while it lives (the windows are meant to give none, offscreen too).
class QtWarnings {
public:
  QtWarnings() {
    Caught().clear();
    m_previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
      if (type != QtDebugMsg && type != QtInfoMsg) Caught() << text;
    });
  }
  ~QtWarnings() { qInstallMessageHandler(m_previous); }
  QtWarnings(const QtWarnings&) = delete;
  QtWarnings& operator=(const QtWarnings&) = delete;
  std::string Text() const { return Caught().join("\n").toStdString(); }
  // Forgets the warnings that start so: what this platform cannot do, and a test expects.
  void Forget(const QString& start) {
    Caught().removeIf([&](const QString& w) { return w.startsWith(start); });
  }

private:
  static QStringList& Caught() {
    static QStringList caught;
    return caught;
  }
  QtMessageHandler m_previous;
};
