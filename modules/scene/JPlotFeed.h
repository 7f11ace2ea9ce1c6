#pragma once
// JPlotFeed: the diagram's link to the 3-D scene viewer, a TCP server. It tells the viewer which
// scene file to load, sends the calibrated ranges of x, y, z and five further signals and then,
// on every timer tick, their values, and forwards byte messages of other modules (the scene
// mapper's) unchanged. The viewer's texts come back on "DEF list" (the scene's object names), or
// ask with "c" for the calibration and the scene file again.
//
// A connection thread of its own resolves, connects (retrying every 100 ms), reads the viewer's
// lines and reconnects after a break; engine() does all sending. What the thread shares with the
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
  enum Input { kX = 0, kY = 1, kZ = 2, kSignal1 = 3, kBytes = 8, kEnable = 9, kTimer = 10, kCalibrate = 11 };
  enum State { kStopped = 0, kConnecting = 1, kConnected = 2 };
  static constexpr int kRetryMs = 100;
  static constexpr int kConnectTimeoutMs = 1000;
  static constexpr int kMaxPayload = 65535 - 2;  // the frame's length field counts 2 more bytes
  // Payload kinds (the first integer of each).
  static constexpr int kCalibrationPayload = 1, kSamplePayload = 2, kSceneFilePayload = 5;

  JPlotFeed();
  ~JPlotFeed() override;  // closes: stops and joins the thread

  // --- host operations ---
  void writeContent(JOutputStream& os) override;
  void readContent(JDictionary& dict) override;
  const char* className() const override { return "JPlotFeed"; }
  JObject* clone() const override { return new JPlotFeed(*this); }
  void run() override;
  void startup() override;
  void reset() override;
  void close() override;
  void paint(JGraphics& g, double dx, double dy, JRegion& region, double scale) override;
  JArray getProperties() override;
  bool updateProperty(JProperty& p) override;
  void draw(JGraphics& g, int x, int y, int w, int h) override;
  void access(int n, JLinkObj& link, const JDataType& data) override;
  bool inputAllowed(int n) override;
  void engine(int n, JLinkObj& link) override;

  // --- own operations ---
  void open();
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
  JString currentAddress() const;
  JString lastText() const;

  // --- fields ---
  // The connection and what the thread replaces while the host reads it. Its lock also guards
  // opening, closing and every send.
  struct LineTexts {
    JString address{"localhost"};
    JString listText;
  };
  GuardedConnection<LineTexts> line;
  JString fileToLoad;
  JAtomic<bool> fileMessagePending{true};
  JAtomic<int> port{kDefaultPort};
  int enable = 0;
  uint8_t sequence = 1;
  JAtomic<int> connectionState{kStopped};
  JWorker thread;
  JAtomic<bool> listPending{false};
  int x = 0, y = 0, z = 0;
  int signals[kSignals] = {};
  int minX = 0, maxX = 0, minY = 0, maxY = 0, minZ = 0, maxZ = 0;
  int calibrated = 0;
  int initialXSet = 0, initialYSet = 0, initialZSet = 0;
  struct SignalRange {
    int minSignal = 0, maxSignal = 0, initialSignalSet = 0;
  } signalRanges[kSignals];
  int timerSampled = 0;
  int calibrating = 0;
  JAtomic<bool> calibrationPending{false};
};
