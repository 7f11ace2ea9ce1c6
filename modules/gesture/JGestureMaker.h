#pragma once
// Decides when a gesture has ended: once the watched values have been quiet for
// secondsBeforeCreating, it pulses "createDynamicPattern" (65535 for about a second) so that the
// gesture recogniser learns what it buffered. A ticker thread of its own counts the quiet time;
// the fields it shares with the host thread are atomic.
#include "modules/Calibrated.h"
#include "modules/Module.h"

class JGestureMaker : public JAddObj {
public:
  static constexpr int kTickMs = 500;
  static constexpr int kPulse = 0xFFFF;

  static constexpr const char* kInputTags[] = {"static pattern value", "enabled"};
  static constexpr const char* kOutputTags[] = {"createDynamicPattern"};
  static constexpr int kStaticValue = portIndex(kInputTags, "static pattern value");
  static constexpr int kEnabled = portIndex(kInputTags, "enabled");
  static constexpr int kCreateDynamicPattern = portIndex(kOutputTags, "createDynamicPattern");

  JGestureMaker();
  ~JGestureMaker() override;  // stops and joins the ticker

  // Properties and persistence come from the settings table; opening the properties stops the
  // ticker, and a stored quiet time of 0 loads as the default.
  void readContent(JDictionary& dict) override;
  const char* className() const override { return "JGestureMaker"; }
  JObject* clone() const override;
  void run() override;
  void startup() override;
  void reset() override { close(); }
  void close() override;
  JArray getProperties() override;
  void draw(JGraphics& g, int x, int y, int w, int h) override;
  void access(int n, JLinkObj& link, const JDataType& data) override;
  void engine(int n, JLinkObj& link) override;

  void open();  // starts the ticker unless it runs
  bool isRunning() const { return ticker.running(); }
  int ticks() const { return ticksDone.load(); }  // ticks since the ticker last started
  int output() const { return pulse.load(); }

  // First, so that assigning a module stops its ticker before the fields it reads are copied.
  JWorker ticker;
  int staticValue = 0;
  // Settings (initial values in the settings table).
  JAtomic<bool> enabled;
  bool ignoreZero;
  // Stored and restored with the other settings; they influence nothing here. The last three
  // are kept as a learned range is, though nothing here learns it.
  int easyToHardPercent;
  int minDelta = 0;
  int maxDelta = 0;
  bool minMaxSet = false;
  Calibrated<bool> deltaRange() { return Calibrated<bool>(minDelta, maxDelta, minMaxSet); }
  JAtomic<int> secondsBeforeCreating;
  JAtomic<int> idleTicks{0};  // counted up by the ticker, reset by engine

private:
  void tick(int& last);

  // The output: written by the ticker, read by whoever asks (the host thread included), so it
  // lives in an atomic rather than in the inherited plain `value`.
  JAtomic<int> pulse{0};
  JAtomic<int> ticksDone{0};
  long long firstTickAt = 0;  // host clock; set before the ticker starts
};
