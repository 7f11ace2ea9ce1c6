#include "JGestureMaker.h"

#include <algorithm>
#include <climits>

#include "base/JClock.h"

namespace {
const JPortTable kInputs{{kSideLeft, 0.1, 0.8, portsOf(JGestureMaker::kInputTags, 0, 1)},
                         {kSideTop, 0.25, 0.5, portsOf(JGestureMaker::kInputTags, 1, 1)}};
const JPortTable kOutputs{{kSideRight, 0.25, 0.5, portsOf(JGestureMaker::kOutputTags)}};

// The quiet time a stored 0 (or no key) stands for.
constexpr int kDefaultSeconds = 3;

// The two flags are stored first but offered after the quiet time, so each has a stored row and
// an offered row.
const JSettings kSettings{
    JSetting::flag("enabled", &JGestureMaker::enabled).init(0).notProperty(),
    JSetting::flag("ignoreZero", &JGestureMaker::ignoreZero).init(1).notProperty(),
    JSetting::integer("easyToHardPercent", &JGestureMaker::easyToHardPercent).init(90).notProperty(),
    JSetting::block<JGestureMaker>(
        "minDelta, maxDelta, minMaxSet",
        [](JGestureMaker& m, JOutputStream& os) { m.deltaRange().put(os, "minDelta", "maxDelta", "minMaxSet"); },
        [](JGestureMaker& m, JDictionary& dict) { m.deltaRange().get(dict, "minDelta", "maxDelta", "minMaxSet"); }),
    JSetting::integer("secondsBeforeCreating", &JGestureMaker::secondsBeforeCreating)
        .init(kDefaultSeconds)
        .range(0, 100, JOutOfRange::kIgnore)
        .whenMissing(kDefaultSeconds),
    JSetting::flag("enabled", &JGestureMaker::enabled).notStored(),
    JSetting::flag("ignoreZero", &JGestureMaker::ignoreZero).notStored(),
};

// A value the output never has, so the first enabled tick always broadcasts.
constexpr int kNoOutput = 7;
// The ticker looks at the host clock at least this often, so that a test's manual clock is
// noticed quickly (close() cuts any wait short).
constexpr long long kPollMs = 20;
// After a stall longer than this many ticks the ticker resumes from now instead of replaying.
constexpr long long kCatchUpTicks = 4;
}  // namespace

JGestureMaker::JGestureMaker() {
  setPorts(kInputs, kOutputs);
  setSettings(kSettings);
}

JGestureMaker::~JGestureMaker() { close(); }

// A copy gets the settings and counters but no thread; it has not ticked yet.
JObject* JGestureMaker::clone() const {
  auto* copy = new JGestureMaker(*this);
  copy->ticksDone = 0;
  return copy;
}

// --- ports ---

void JGestureMaker::access(int n, JLinkObj&, const JDataType& data) {
  if (n == kCreateDynamicPattern && data.type() == JIntegerData::id)
    static_cast<const JIntegerData&>(data) = pulse.load();
}

void JGestureMaker::draw(JGraphics& g, int x, int y, int w, int h) { drawText(g, JString("dCrt"), JRect(x, y, w, h)); }

// --- properties: opening them stops the ticker until the next value arrives ---

JArray JGestureMaker::getProperties() {
  close();
  return JAddObj::getProperties();
}

// --- persistence ---

// A stored 0 stands for the default quiet time; only the dialog may set 0.
void JGestureMaker::readContent(JDictionary& dict) {
  JAddObj::readContent(dict);
  if (secondsBeforeCreating == 0) secondsBeforeCreating = kDefaultSeconds;
}

// --- engine ---

void JGestureMaker::engine(int n, JLinkObj& link) {
  switch (n) {
    case kStaticValue:
      open();
      staticValue = readInteger(link);
      if (enabled && (!ignoreZero || staticValue != 0)) idleTicks = 0;  // activity
      break;
    case kEnabled:
      enabled = readInteger(link) != 0;  // the countdown resumes where it stopped
      break;
    default: break;
  }
}

// --- the ticker ---

void JGestureMaker::open() { startup(); }

void JGestureMaker::startup() {
  if (ticker.running()) return;  // one ticker per module
  firstTickAt = JClock::millis();
  ticksDone = 0;
  ticker.start(this);
}

void JGestureMaker::close() { ticker.stop(); }

void JGestureMaker::run() {
  // Ticks fall every kTickMs of the host clock from firstTickAt, the first one at once.
  int last = kNoOutput;
  long long next = firstTickAt;
  while (ticker.running()) {
    const long long now = JClock::millis();
    if (now < next) {
      ticker.sleepFor(static_cast<int>(std::min(next - now, kPollMs)));
      continue;
    }
    tick(last);
    next += kTickMs;
    if (now - next > kCatchUpTicks * kTickMs) next = now;
  }
}

void JGestureMaker::tick(int& last) {
  if (enabled) {
    // One more quiet tick, stopping short of overflow; engine's reset in between is never lost.
    int n = idleTicks.load();
    while (n < INT_MAX && !idleTicks.compare_exchange_weak(n, n + 1)) {}
    const int count = n < INT_MAX ? n + 1 : n;
    const int out = count / 2 == secondsBeforeCreating ? kPulse : 0;
    pulse = out;
    if (out != last) {
      broadcast(kCreateDynamicPattern);
      last = out;
    }
  } else {
    last = kNoOutput;  // the first tick after re-enabling broadcasts again
  }
  ++ticksDone;
}

LOOMWORK_REGISTER(JGestureMaker)
