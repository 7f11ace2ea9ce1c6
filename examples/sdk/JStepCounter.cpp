#include "JStepCounter.h"

namespace {
const JPortTable kInputs{{kSideLeft, 0.25, 0.5, {"count"}}, {kSideTop, 0.25, 0.5, {"reset"}}};
const JPortTable kOutputs{{kSideRight, 0.25, 0.5, {"value", {"text", JStringData::id}}}};
constexpr int kMaxStep = 100;
}  // namespace

JStepCounter::JStepCounter() { setPorts(kInputs, kOutputs); }

// --- persistence: after the base class, one key per field ---

void JStepCounter::writeContent(JOutputStream& os) {
  JAddObj::writeContent(os);
  putInteger(os, "step", step);
  putInteger(os, "wrap", wrap);
  putInteger(os, "count", count);
}

void JStepCounter::readContent(JDictionary& dict) {
  JAddObj::readContent(dict);
  step = clampTo(getInteger(dict, "step", 1), 1, kMaxStep);
  wrap = clampTo(getInteger(dict, "wrap", 0), 0, kWireMax);
  count = clampTo(getInteger(dict, "count", 0), 0, kWireMax);
  value = count;
}

// --- properties ---

JArray JStepCounter::getProperties() {
  JArray a;
  a.append(new JIntegerProperty("step", step, 1, kMaxStep));
  a.append(new JIntegerProperty("wrap", wrap, 0, kWireMax));
  return a;
}

bool JStepCounter::updateProperty(JProperty& p) {
  int v = 0;
  if (p.is("step", v)) {
    step = clampTo(v, 1, kMaxStep);
    return true;
  }
  if (p.is("wrap", v)) {
    wrap = clampTo(v, 0, kWireMax);
    return true;
  }
  return false;
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
  if (n == kText && data.type() == JStringData::id)
    static_cast<const JStringData&>(data) = JInteger::toJString(count);
  else
    JAddObj::access(n, link, data);
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
