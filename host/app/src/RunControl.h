#pragma once
// How a run ends from outside: SIGINT and SIGTERM end it as the end of its time does, and a
// second one (or one that comes while the run closes) ends the process at once with status 130.
// The signals are taken by a thread of its own (they are blocked in every other thread, module
// threads included, so RunControl must exist before any of them starts), which also keeps a
// progress line on a terminal's standard error.
#include <atomic>
#include <mutex>
#include <vector>

#include "base/JWorker.h"

class JDiagram;
class JModuleObj;

class RunControl {
public:
  // players: the modules whose progress the line shows. Throws std::runtime_error when the
  // signals cannot be watched.
  RunControl(JDiagram& d, std::vector<JModuleObj*> players);
  ~RunControl();  // stops the thread at once and clears the progress line
  RunControl(const RunControl&) = delete;
  RunControl& operator=(const RunControl&) = delete;

  bool stopRequested() const { return stops_.load() > 0; }
  // The players changed (the canvas placed or removes one): before a removed one is destroyed.
  void setPlayers(std::vector<JModuleObj*> players);
  void closing() { closing_ = true; }

private:
  void watch();
  void takeSignals();
  void drawProgress();
  void clearProgress();

  JDiagram& d_;
  std::mutex playersMutex_;
  std::vector<JModuleObj*> players_;  // guarded by playersMutex_
  int signals_ = -1;                  // signalfd for SIGINT and SIGTERM
  int wake_ = -1;                     // eventfd that stop() writes to
  std::atomic<int> stops_{0};
  std::atomic<bool> closing_{false};
  bool progress_ = false, drawn_ = false;
  long long start_ = 0;
  JWorker worker_;
};
