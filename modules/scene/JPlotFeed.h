#pragma once
// JPlotFeed: the diagram's link to the 3-D scene viewer, a TCP server. It tells the viewer which
// scene file to load, sends the calibrated ranges of x, y, z and five further signals and then,
// on every timer tick, their values, and forwards byte messages of other modules (the scene
// mapper's) unchanged. The viewer's texts come back on "DEF list" (the scene's object names), or
// ask with "c" for the calibration and the scene file again.
//
// A connection thread of its own resolves, connects, reads the viewer's lines and reconnects
// after a break; engine() does all sending. After a failed connect, or a connection that closed
// before it carried anything (a frame out or a text in), the thread waits before the next try,
// 100 ms doubling to 1 s, and one carried message sets the wait back to 100 ms. So a viewer that
// accepts and closes at once is tried a few times a second, not thousands. The wait is the
// worker's, which close() cuts short. One debug line says when the viewer cannot be reached and
// one when it is reached again, however many tries lie between. What the thread shares with the
// host thread is atomic, or guarded by the line's lock (the socket and its streams, the address,
// the last text). The thread takes that lock only for moments, never while connecting or
// reading, so close() can stop it and wait for it without holding the lock.
#include <cstdint>

#include "modules/Calibrated.h"
#include "modules/GuardedConnection.h"
#include "modules/Module.h"

class JPlotFeed : public JAddObj {
public:
  static constexpr int kDefaultPort = 3501;
  static constexpr int kMinPort = 1024, kMaxPort = 5000;  // of the "port" property
  static constexpr int kSignals = 5;
  // Ports: the tags, once; the index names follow from them. Inputs kX .. kBytes - 1 are the
  // eight channels.
  static constexpr const char* kInputTags[] = {"x",
                                               "y",
                                               "z",
                                               "signal 1",
                                               "signal 2",
                                               "signal 3",
                                               "signal 4",
                                               "signal 5",
                                               "transformer bytes to plot",
                                               "enable(logical)",
                                               "timer_sampled",
                                               "calibrate"};
  static constexpr const char* kOutputTags[] = {"DEF list"};
  static constexpr int kX = portIndex(kInputTags, "x");
  static constexpr int kY = portIndex(kInputTags, "y");
  static constexpr int kZ = portIndex(kInputTags, "z");
  static constexpr int kSignal1 = portIndex(kInputTags, "signal 1");
  static constexpr int kBytes = portIndex(kInputTags, "transformer bytes to plot");
  static constexpr int kEnable = portIndex(kInputTags, "enable(logical)");
  static constexpr int kTimer = portIndex(kInputTags, "timer_sampled");
  static constexpr int kCalibrate = portIndex(kInputTags, "calibrate");
  static constexpr int kDefList = portIndex(kOutputTags, "DEF list");
  enum State { kStopped = 0, kConnecting = 1, kConnected = 2 };
  static constexpr int kRetryMs = 100;      // the first wait after a failure
  static constexpr int kMaxRetryMs = 1000;  // the longest
  static constexpr int kConnectTimeoutMs = 1000;
  static constexpr int kMaxPayload = 65535 - 2;  // the frame's length field counts 2 more bytes
  // Payload kinds (the first integer of each).
  static constexpr int kCalibrationPayload = 1, kSamplePayload = 2, kSceneFilePayload = 5;

  JPlotFeed();
  ~JPlotFeed() override;  // closes: stops and joins the thread

  // --- host operations (properties and persistence come from the settings table) ---
  const char* className() const override { return "JPlotFeed"; }
  JObject* clone() const override { return new JPlotFeed(*this); }
  void run() override;
  void startup() override;
  void reset() override;
  void close() override;
  void paint(JGraphics& g, double dx, double dy, JRegion& region, double scale) override;
  void draw(JGraphics& g, int x, int y, int w, int h) override;
  void access(int n, JLinkObj& link, const JDataType& data) override;
  bool inputAllowed(int n) override;
  void engine(int n, JLinkObj& link) override;

  // --- own operations ---
  void open();
  // After a setting changed: closes, and an enabled module connects anew with the new settings.
  void reopen();
  // One frame: length, sequence, 0, payload. Empty when the payload is too long to frame.
  static JBlock frame(int sequence, const JBlock& payload);
  JBlock calibrationPayload() const;
  JBlock samplePayload() const;
  JBlock sceneFilePayload() const;
  // Writes one frame when a connection is open; false when nothing went out.
  bool send(const JBlock& payload);
  // The learned range of channel kX .. kSignal1 + 4: a view on its min, max and initial flag.
  Calibrated<int> channel(int n);
  void hearText(const JString& text);
  // The connection carried a message: it works. Says so once when a failure was reported.
  void noteCarried();
  // A try failed: says so once until the next carried message.
  void noteFailure(const char* why);
  JString currentAddress() const;
  JString lastText() const;

  // --- fields (initial values of the stored ones in the settings table) ---
  // The connection and what the thread replaces while the host reads it. Its lock also guards
  // opening, closing and every send.
  struct LineTexts {
    JString address;
    JString listText;
  };
  GuardedConnection<LineTexts> line;
  JString fileToLoad;
  JAtomic<bool> fileMessagePending{true};
  JAtomic<int> port;
  int enable = 0;
  uint8_t sequence = 1;
  JAtomic<int> connectionState{kStopped};
  JWorker thread;
  JAtomic<bool> listPending{false};
  JAtomic<bool> carried{false};       // the current connection carried a frame or a text
  JAtomic<bool> reportedDown{false};  // a failure was reported and nothing carried since
  int x = 0, y = 0, z = 0;
  int signals[kSignals] = {};
  int minX, maxX, minY, maxY, minZ, maxZ;
  int calibrated;
  int initialXSet, initialYSet, initialZSet;
  struct SignalRange {
    int minSignal = 0, maxSignal = 0, initialSignalSet = 0;
  } signalRanges[kSignals];
  int timerSampled = 0;
  int calibrating = 0;
  JAtomic<bool> calibrationPending{false};
};
