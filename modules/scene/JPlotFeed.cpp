#include "JPlotFeed.h"

#include <algorithm>
#include <string>

#include "loom/JDiagram.h"

namespace {
using F = JPlotFeed;
static_assert(F::kBytes == F::kSignal1 + F::kSignals, "the channels come before the bytes input");

const JPortTable kInputs{
    {kSideLeft, 0.25, 0.5,
     portsOf(F::kInputTags, 0, 9,
             {JIntegerData::id, JIntegerData::id, JIntegerData::id, JIntegerData::id, JIntegerData::id,
              JIntegerData::id, JIntegerData::id, JIntegerData::id, JBytesData::id})},
    {kSideTop, 0.25, 0.5, portsOf(F::kInputTags, 9, 3)}};
const JPortTable kOutputs{{kSideRight, 0, 1, portsOf(F::kOutputTags, {JStringData::id})}};

void putLE(JBlock& b, int v) {
  const auto u = static_cast<uint32_t>(v);
  for (int i = 0; i < 4; ++i) b.append(static_cast<uint8_t>(u >> (8 * i)));
}

// The stored keys of signal k (1..5): "minSignal1", "maxSignal1", "initial_signal1_values_set".
struct SignalKeys {
  explicit SignalKeys(int k)
      : min("minSignal" + std::to_string(k)),
        max("maxSignal" + std::to_string(k)),
        seen("initial_signal" + std::to_string(k) + "_values_set") {}
  std::string min, max, seen;
};

// Signals 1 to 5 in turn, the three keys of each together; a missing key reads as 0.
void writeSignals(F& f, JOutputStream& os) {
  for (int k = 1; k <= F::kSignals; ++k) {
    const SignalKeys keys(k);
    f.channel(F::kSignal1 + k - 1).put(os, keys.min.c_str(), keys.max.c_str(), keys.seen.c_str());
  }
}

void readSignals(F& f, JDictionary& dict) {
  for (int k = 1; k <= F::kSignals; ++k) {
    const SignalKeys keys(k);
    f.channel(F::kSignal1 + k - 1).get(dict, keys.min.c_str(), keys.max.c_str(), keys.seen.c_str());
  }
}

// The address lives with the connection, under its lock.
JSettingValue addressOf(const F& f, int) {
  JSettingValue v;
  v.text = f.currentAddress();
  return v;
}

void setAddress(F& f, int, const JSettingValue& v) {
  JCriticalSection::Lock guard(f.line.lock);
  f.line.address = v.text;
}

// Stored in this order; nothing is opened or sent on reading. A port outside 1024..5000 is left
// out by every road, but a missing one reads as 0. A missing text keeps what the module holds.
// "fileToLoad" is the viewer's to open, as it stands: no file of the diagram's.
const JSettings kSettings{
    JSetting::custom<F>(JSetting::kText, "hostName/IPaddress", addressOf, setAddress)
        .key("address")
        .init("localhost")
        .onChange(&F::reopen),
    JSetting::integer("port", &F::port)
        .init(F::kDefaultPort)
        .range(F::kMinPort, F::kMaxPort, JOutOfRange::kIgnore)
        .whenMissing(0)
        .onChange(&F::reopen),
    JSetting::text("fileToLoad", &F::fileToLoad).onChange<F>([](F& f, int) {
      f.fileMessagePending.store(true);
      f.reopen();
    }),
    JSetting::integer("minX", &F::minX).init(0).notProperty(),
    JSetting::integer("maxX", &F::maxX).init(0).notProperty(),
    JSetting::integer("minY", &F::minY).init(0).notProperty(),
    JSetting::integer("maxY", &F::maxY).init(0).notProperty(),
    JSetting::integer("minZ", &F::minZ).init(0).notProperty(),
    JSetting::integer("maxZ", &F::maxZ).init(0).notProperty(),
    // Flags kept as the integers they were written as.
    JSetting::integer("calibrated", &F::calibrated).init(0).notProperty(),
    JSetting::integer("initial_X_values_set", &F::initialXSet).init(0).notProperty(),
    JSetting::integer("initial_Y_values_set", &F::initialYSet).init(0).notProperty(),
    JSetting::integer("initial_Z_values_set", &F::initialZSet).init(0).notProperty(),
    JSetting::block<F>("minSignalK, maxSignalK, initial_signalK_values_set for each signal K = 1..5", writeSignals,
                       readSignals),
};

bool hasLetter(const JString& s) {
  for (int i = 0; i < s.length(); ++i)
    if (JCharacter::isAlpha(static_cast<unsigned char>(s[i]))) return true;
  return false;
}
}  // namespace

JPlotFeed::JPlotFeed() {
  setPorts(kInputs, kOutputs);
  setSettings(kSettings);
}

JPlotFeed::~JPlotFeed() { close(); }

JString JPlotFeed::currentAddress() const {
  return line.locked([](const LineTexts& t) { return t.address; });
}

JString JPlotFeed::lastText() const {
  return line.locked([](const LineTexts& t) { return t.listText; });
}

// Every change closes the connection; an enabled module then connects anew with the new settings.
void JPlotFeed::reopen() {
  const bool wasEnabled = (enable & 0xff) != 0;
  close();
  if (wasEnabled) open();
  repaint();
}

// --- values ---

bool JPlotFeed::inputAllowed(int n) {
  if (n == kBytes) return true;  // any number of modules may feed messages
  return JAddObj::inputAllowed(n);
}

void JPlotFeed::access(int n, JLinkObj&, const JDataType& data) {
  if (n != kDefList || data.type() != JStringData::id) return;
  static_cast<const JStringData&>(data) = lastText();
  listPending.store(false);
}

void JPlotFeed::engine(int n, JLinkObj& link) {
  if (n >= kX && n < kBytes) {
    const int v = readInteger(link);
    if (n == kX) x = v;
    else if (n == kY) y = v;
    else if (n == kZ) z = v;
    else signals[n - kSignal1] = v;
    if (calibrating != 0) channel(n).learn(v);
  } else if (n == kBytes) {
    JCriticalSection::Lock guard(line.lock);
    if (connectionState.load() != kStopped) send(readBytes(link));
  } else if (n == kEnable) {
    enable = readInteger(link);
    if (enable != 0 && connectionState.load() == kStopped) open();
    else if (enable == 0 && connectionState.load() != kStopped) close();
  } else if (n == kTimer) {
    timerSampled = readInteger(link);
    if (timerSampled != 0 && calibrated != 0) {
      JCriticalSection::Lock guard(line.lock);
      if (connectionState.load() != kStopped) send(samplePayload());
    }
  } else if (n == kCalibrate) {
    const int v = readInteger(link);
    if (v != 0) {
      calibrating = 1;
      calibrated = 0;
      for (int c = kX; c < kBytes; ++c) channel(c).restart();
    } else {
      calibrating = 0;
      if (initialXSet != 0 && initialYSet != 0) calibrated = 1;  // z and the signals are optional
      calibrationPending.store(true);
      fileMessagePending.store(true);
    }
  } else {
    return;
  }

  if (calibrationPending.load() && calibrating == 0) {
    for (int c = kX; c < kBytes; ++c) channel(c).zeroIfUnseen();
    {
      JCriticalSection::Lock guard(line.lock);
      if (connectionState.load() != kStopped) send(calibrationPayload());
    }
    calibrationPending.store(false);  // also when nothing could go out
  }
  if (fileMessagePending.load()) {
    JCriticalSection::Lock guard(line.lock);
    if (connectionState.load() != kStopped) {
      // A frame that could not be written leaves the message pending for the next input.
      if (fileToLoad.isEmpty() || send(sceneFilePayload())) fileMessagePending.store(false);
    }
  }
}

Calibrated<int> JPlotFeed::channel(int n) {
  if (n == kX) return Calibrated<int>(minX, maxX, initialXSet);
  if (n == kY) return Calibrated<int>(minY, maxY, initialYSet);
  if (n == kZ) return Calibrated<int>(minZ, maxZ, initialZSet);
  SignalRange& s = signalRanges[n - kSignal1];
  return Calibrated<int>(s.minSignal, s.maxSignal, s.initialSignalSet);
}

// --- frames ---

JBlock JPlotFeed::frame(int seq, const JBlock& payload) {
  if (payload.size() > kMaxPayload) return JBlock();
  const int length = payload.size() + 2;
  JBlock f(payload.size() + 4);
  f.append(static_cast<uint8_t>(length & 0xff));
  f.append(static_cast<uint8_t>(length >> 8));
  f.append(static_cast<uint8_t>(seq));
  f.append(0);
  f.append(payload);
  return f;
}

JBlock JPlotFeed::calibrationPayload() const {
  JBlock b(92);
  for (int v : {kCalibrationPayload, minX, maxX, minY, maxY, minZ, maxZ, kSignals}) putLE(b, v);
  for (const SignalRange& s : signalRanges) {
    putLE(b, s.initialSignalSet);
    putLE(b, s.minSignal);
    putLE(b, s.maxSignal);
  }
  return b;
}

JBlock JPlotFeed::samplePayload() const {
  JBlock b(40);
  for (int v : {kSamplePayload, x, y, z, kSignals}) putLE(b, v);
  for (int s : signals) putLE(b, s);
  return b;
}

JBlock JPlotFeed::sceneFilePayload() const {
  JBlock b(4 + fileToLoad.length());
  putLE(b, kSceneFilePayload);
  b.append(fileToLoad.c_str(), fileToLoad.length());
  return b;
}

// Called with the lock held. A write that fails loses that frame only; the sequence then stays.
bool JPlotFeed::send(const JBlock& payload) {
  JCriticalSection::Lock guard(line.lock);
  const JBlock f = frame(sequence, payload);
  if (f.isEmpty()) {
    JComponent::debugf("message of %d bytes too long to send", payload.size());
    return false;
  }
  try {
    line.output.write(f);
  } catch (const JException&) { return false; }
  sequence = static_cast<uint8_t>(sequence % 128 + 1);
  noteCarried();
  return true;
}

// --- the connection thread ---

void JPlotFeed::startup() { fileMessagePending.store(true); }

// Not under the lock: a thread that a reset left to finish takes it on its way out.
void JPlotFeed::open() {
  if (connectionState.load() != kStopped) return;
  thread.stop();              // a thread that ended by itself, or one that a reset left to finish
  reportedDown.store(false);  // new settings, perhaps: a failure is worth a line again
  thread.start(this);
}

// The socket is shut under the lock (which wakes a read at once); the thread is waited for
// without it, since the thread takes the lock for its short updates.
void JPlotFeed::close() {
  const auto shut = [this] {
    JCriticalSection::Lock guard(line.lock);
    connectionState.store(kStopped);
    line.close();
  };
  const bool wasOpen = connectionState.load() != kStopped || thread.isAlive();
  shut();
  thread.stop(shut);
  JCriticalSection::Lock guard(line.lock);
  sequence = 1;
  if (wasOpen) repaint();
}

void JPlotFeed::reset() {
  JCriticalSection::Lock guard(line.lock);
  connectionState.store(kStopped);
  line.close();
}

void JPlotFeed::run() {
  listPending.store(false);
  int retryMs = kRetryMs;
  // Waits before the next try; false when the module is closed meanwhile.
  const auto backOff = [&] {
    const int wait = retryMs;
    retryMs = std::min(retryMs * 2, kMaxRetryMs);
    return thread.sleepFor(wait);
  };
  while (thread.running()) {
    // Resolve: an address without a letter is numeric; the resolved form replaces the text.
    JSocket attempt;
    try {
      const JString text = currentAddress();
      const bool numeric = !hasLetter(text);
      const JInetAddress where = numeric ? JInetAddress::getAddrByJString(text) : JInetAddress(text);
      {
        // The resolved form replaces the text resolved, not one that an edit stored meanwhile
        // (an edit stores the new address before it closes this thread).
        JCriticalSection::Lock guard(line.lock);
        if (line.address == text) line.address = numeric ? where.getAddressJString() : where.getHostName();
      }
      attempt = JSocket(where, port.load(), true);
      attempt.setConnectTimeout(kConnectTimeoutMs);
      attempt.setNoDelay(true);
    } catch (const JException&) {
      return;  // connectionState stays as it was
    }
    {
      JCriticalSection::Lock guard(line.lock);
      if (!thread.running()) return;
      connectionState.store(kConnecting);
    }
    repaint();

    bool connected = false;
    try {
      while (thread.running() && connectionState.load() != kStopped && !(connected = attempt.connect())) {
        noteFailure("");
        backOff();
      }
    } catch (const JException&) { connected = false; }
    {
      JCriticalSection::Lock guard(line.lock);
      if (!thread.running() || connectionState.load() == kStopped) {
        attempt.close();
        connectionState.store(kStopped);
        break;
      }
      if (!connected) continue;  // a failure while connecting: resolve again
      carried.store(false);
      line.attach(std::move(attempt));
      connectionState.store(kConnected);
    }
    repaint();

    while (connectionState.load() > kConnecting) {
      JString text;
      try {
        text = line.input.readLine();
      } catch (const JException&) { break; }
      hearText(text);
    }

    {
      JCriticalSection::Lock guard(line.lock);
      if (connectionState.load() != kConnected) break;
      line.close();  // the connection broke: start again
      connectionState.store(kConnecting);
    }
    repaint();
    // A connection that carried something worked: the next try comes soon. One that closed
    // before anything went through counts as a failed try.
    if (carried.load()) retryMs = kRetryMs;
    else noteFailure(" (closed before anything went through)");
    if (!backOff() || connectionState.load() == kStopped) break;  // closed or reset meanwhile
  }
  repaint();
}

void JPlotFeed::noteFailure(const char* why) {
  if (reportedDown.exchange(true)) return;
  JComponent::debugf("cannot connect to %s:%d%s; trying again", currentAddress().c_str(), port.load(), why);
}

void JPlotFeed::noteCarried() {
  if (carried.exchange(true)) return;
  if (reportedDown.exchange(false))
    JComponent::debugf("connected to %s:%d again", currentAddress().c_str(), port.load());
}

// A list announces itself once; a later one before the output was read only replaces the text.
// The announcement is made on the host thread, so that the reader gets the latest list.
void JPlotFeed::hearText(const JString& text) {
  noteCarried();
  {
    JCriticalSection::Lock guard(line.lock);
    line.listText = text;
  }
  if (text.length() > 1 && !listPending.load()) {
    listPending.store(true);
    if (JDiagram* d = diagram()) d->post([this] { broadcast(kDefList); }, this);
  }
  if (text == JString("c")) {
    calibrationPending.store(true);
    fileMessagePending.store(true);
  }
}

// --- face ---

void JPlotFeed::draw(JGraphics& g, int x0, int y0, int w, int h) {
  drawText(g, JString("Plot"), JRect(x0, y0 + h / 12, w, h / 3));
  drawText(g, JString("Client"), JRect(x0, y0 + h / 3, w, h / 3));
  drawText(g, currentAddress() + ":" + JInteger::toJString(port.load()), JRect(x0, y0 + 2 * h / 3 - h / 12, w, h / 3));
}

void JPlotFeed::paint(JGraphics& g, double dx, double dy, JRegion& region, double scale) {
  JModuleObj::paint(g, dx, dy, region, scale);
  const JRect r = getIExtent(dx, dy, scale);
  if (r.width <= 3 * depth2 || r.height <= 3 * depth2) return;
  const int state = connectionState.load();
  g.setClip(region);
  g.setJColor(state == kStopped ? JColor::red.darker() : state == kConnecting ? JColor::yellow : JColor::red);
  g.fillRect(r.x + depth2, r.y + depth2, depth2, depth2);
}

LOOMWORK_REGISTER(JPlotFeed)
