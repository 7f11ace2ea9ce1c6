#include "JStepCounter.h"

namespace {
const JPortTable kInputs{{kSideLeft, 0.25, 0.5, portsOf(JStepCounter::kInputTags, 0, 1)},
                         {kSideTop, 0.25, 0.5, portsOf(JStepCounter::kInputTags, 1, 1)}};
const JPortTable kOutputs{
    {kSideRight, 0.25, 0.5, portsOf(JStepCounter::kOutputTags, {JIntegerData::id, JStringData::id})}};
constexpr int kMaxStep = 100;

// Settings: property and key, initial value, range and what a value outside it does. "count" is
// kept in the diagram but offered to no dialog.
const JSettings kSettings{
    JSetting::integer("step", &JStepCounter::step).init(1).range(1, kMaxStep, JOutOfRange::kClamp).whenMissing(1),
    JSetting::integer("wrap", &JStepCounter::wrap).init(0).range(0, kWireMax, JOutOfRange::kClamp),
    JSetting::integer("count", &JStepCounter::count).init(0).range(0, kWireMax, JOutOfRange::kClamp).notProperty(),
};
}  // namespace

JStepCounter::JStepCounter() {
  setPorts(kInputs, kOutputs);
  setSettings(kSettings);
}

// The output shows the stored count from the start.
void JStepCounter::readContent(JDictionary& dict) {
  JAddObj::readContent(dict);
  value = count;
}

// --- values ---

void JStepCounter::engine(int n, JLinkObj& link) {
  if (readInteger(link) == 0) return;  // both inputs act on a nonzero value
  if (n == kCount) {
    const long long next = static_cast<long long>(count) + step;
    count = (wrap > 0 && next > wrap) ? 0 : clampTo(next, 0, kWireMax);
  } else if (n == kReset) {
    count = 0;
  } else {
    return;
  }
  publish();
}

void JStepCounter::publish() {
  value = count;
  broadcast(kValue);
  broadcast(kText);
  repaint();
}

void JStepCounter::access(int n, JLinkObj& link, const JDataType& data) {
  if (n == kText && data.type() == JStringData::id) static_cast<const JStringData&>(data) = JInteger::toJString(count);
  else JAddObj::access(n, link, data);
}

// --- face: the label, and a bar that fills as the count nears "wrap" ---

void JStepCounter::draw(JGraphics& g, int x, int y, int w, int h) {
  if (wrap > 0) {
    g.setJColor(JColor(120, 180, 120));
    g.fillRect(x + 1, y + h - 6, static_cast<int>(static_cast<long long>(w - 2) * count / wrap), 5);
  }
  g.setJColor(JColor::black);
  drawText(g, JString("Step ") + JInteger::toJString(count), JRect(x, y, w, h - 6));
}

LOOMWORK_REGISTER(JStepCounter)
