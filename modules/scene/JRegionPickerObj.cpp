#include "JRegionPickerObj.h"

#include <string>

namespace {
using P = JRegionPickerObj;
static_assert(P::kLastSelection == P::kRegions, "one output per region, then lastSelection");

const JPortTable kInputs{{kSideLeft, 0.1, 0.8, portsOf(P::kInputTags, 0, 3)},
                         {kSideTop, 0.25, 0.5, portsOf(P::kInputTags, 3, 2)}};
const JPortTable kOutputs{{kSideRight, 0.25, 0.5, portsOf(P::kOutputTags)}};

// Where value (0..65535 on the wire) lands along `span` pixels. Wires may carry anything, so the
// product is taken in 64 bits and the result held to the int range.
int scaled(int span, int value) { return saturate(static_cast<long long>(span) * value / kWireMax); }

std::string regionKey(const char* prefix, int i) { return prefix + std::to_string(i); }

// Region i's colour, offered and stored as "color_" i + 1; an edit shows at once.
JSetting colourRow(const char* name, int i, const JColor& initial) {
  return JSetting::custom<P>(
             JSetting::kColour, name,
             [i](const P& m, int) {
               JSettingValue v;
               v.color = m.colors[i];
               return v;
             },
             [i](P& m, int, const JSettingValue& v) { m.colors[i] = v.color; })
      .init(initial)
      .onChange(&P::repaint);
}

// The bounds of each region in turn, its six keys together ("minX-0", "minY-0", "maxX-0", ...);
// a missing key reads as 0.
void writeRegions(P& m, JOutputStream& os) {
  for (int i = 0; i < P::kRegions; ++i) {
    JObject::putInteger(os, regionKey("minX-", i).c_str(), m.minX[i]);
    JObject::putInteger(os, regionKey("minY-", i).c_str(), m.minY[i]);
    JObject::putInteger(os, regionKey("maxX-", i).c_str(), m.maxX[i]);
    JObject::putInteger(os, regionKey("maxY-", i).c_str(), m.maxY[i]);
    JObject::putInteger(os, regionKey("definedX-", i).c_str(), m.definedX[i]);
    JObject::putInteger(os, regionKey("definedY-", i).c_str(), m.definedY[i]);
  }
}

void readRegions(P& m, JDictionary& dict) {
  for (int i = 0; i < P::kRegions; ++i) {
    m.minX[i] = JObject::getInteger(dict, regionKey("minX-", i).c_str(), 0);
    m.minY[i] = JObject::getInteger(dict, regionKey("minY-", i).c_str(), 0);
    m.maxX[i] = JObject::getInteger(dict, regionKey("maxX-", i).c_str(), 0);
    m.maxY[i] = JObject::getInteger(dict, regionKey("maxY-", i).c_str(), 0);
    m.definedX[i] = JObject::getInteger(dict, regionKey("definedX-", i).c_str(), 0);
    m.definedY[i] = JObject::getInteger(dict, regionKey("definedY-", i).c_str(), 0);
  }
}

// Colours missing from a file keep what the module holds.
const JSettings kSettings{
    colourRow("color_1", 0, JColor::lightGray),
    colourRow("color_2", 1, JColor::cyan),
    colourRow("color_3", 2, JColor::pink),
    colourRow("color_4", 3, JColor::orange),
    colourRow("color_5", 4, JColor::magenta),
    colourRow("color_6", 5, JColor::gray),
    colourRow("color_7", 6, JColor::yellow),
    colourRow("color_8", 7, JColor::red),
    colourRow("color_9", 8, JColor::yellow.darker()),
    colourRow("color_10", 9, JColor::orange.darker()),
    JSetting::block<P>("minX-i, minY-i, maxX-i, maxY-i, definedX-i, definedY-i for each region i = 0..9", writeRegions,
                       readRegions),
};
}  // namespace

JRegionPickerObj::JRegionPickerObj() {
  setPorts(kInputs, kOutputs);
  setSettings(kSettings);
}

// --- values ---

void JRegionPickerObj::access(int n, JLinkObj&, const JDataType& data) {
  if (data.type() != JIntegerData::id || n < 0) return;
  static_cast<const JIntegerData&>(data) = n < kRegions ? selections[n] : lastSelection;
}

void JRegionPickerObj::engine(int n, JLinkObj& link) {
  const int v = readInteger(link);
  switch (n) {
    case kX:
    case kY:
      if (n == kX) xValue = v;
      else yValue = v;
      if (defining != 0) {
        if (n == kX) teach(v, definedX, minX, maxX);
        else teach(v, definedY, minY, maxY);
      } else {
        select();
      }
      repaint();
      break;
    case kDefine:
      defining = v;
      if (v != 0) {  // the next x and y become the region's first bounds
        definedX[currentRegion] = 0;
        definedY[currentRegion] = 0;
      }
      break;
    case kReset:
      resetValue = v;
      if (v != 0) {
        for (int i = 0; i < kRegions; ++i) definedX[i] = definedY[i] = 0;
        currentRegion = 0;
        repaint();
      }
      break;
    case kSelect:
      selectValue = v;
      if (v != 0) {
        currentRegion = (currentRegion + 1) % kRegions;
        lastSelection = currentRegion;
        broadcast(kLastSelection);
      }
      break;
    default: break;
  }
}

// Stretches one axis of the current region to take in value.
void JRegionPickerObj::teach(int v, int* defined, int* minimum, int* maximum) {
  const int k = currentRegion;
  if (defined[k] == 0) {
    minimum[k] = maximum[k] = v;
    defined[k] = 1;
  } else if (v < minimum[k]) {
    minimum[k] = v;
  } else if (v > maximum[k]) {
    maximum[k] = v;
  }
}

// Every value inside a region announces it again (not only on entry); overlapping regions leave
// the highest-numbered one in lastSelection.
void JRegionPickerObj::select() {
  for (int i = 0; i < kRegions; ++i) {
    if (!regionDefined(i)) continue;
    if (minX[i] <= xValue && xValue <= maxX[i] && minY[i] <= yValue && yValue <= maxY[i]) {
      lastSelection = i + 1;
      selections[i] = 1;
      broadcast(i);
      broadcast(kLastSelection);
    } else if (selections[i] == 1) {
      selections[i] = 0;
      broadcast(i);
    }
  }
}

// --- face ---

void JRegionPickerObj::paint(JGraphics& g, double dx, double dy, JRegion& region, double scale) {
  JModuleObj::paint(g, dx, dy, region, scale);
  const JRect inner = getIExtent(dx, dy, scale);
  JRegion clip(region);
  clip.intersect(inner);
  g.setClip(clip);
  g.setJColor(color);
  g.fillJRect(inner);
  update(g, inner, clip);
  g.setClip(region);
}

void JRegionPickerObj::update(JGraphics& g, const JRect& extent, const JRegion& region) {
  const int X = extent.x, Y = extent.y, W = extent.width, H = extent.height;
  if (W <= depth2 + 2 || H <= depth2 + 2) return;
  const int s = depth + depth2;
  const JRect plane = extent.shrink(depth + 1);
  const int spanX = W - depth2 - s - 2, spanY = H - depth2 - s - 2;

  const JRect cursor(plane.x + scaled(spanX, xValue), plane.y + scaled(spanY, yValue), s, s);
  const JRegion saved = g.getClip();
  g.setClip(region);
  g.setJColor(JColor::green);
  g.fill3DJRect(cursor, true, depth);

  // The plane and the regions are drawn around the cursor, which thus stays on top.
  JRegion clip(region);
  clip.intersect(plane);
  clip.subtract(cursor);
  g.setClip(clip);
  g.setJColor(JColor::black);
  g.fillJRect(plane);
  for (int i = 0; i < kRegions; ++i) {
    if (!regionDefined(i)) continue;
    const int x1 = scaled(spanX, minX[i]), x2 = scaled(spanX, maxX[i]);
    const int y1 = scaled(spanY, minY[i]), y2 = scaled(spanY, maxY[i]);
    const long long w = static_cast<long long>(x2) - x1, h = static_cast<long long>(y2) - y1;
    if (w <= 0 || h <= 0) continue;
    g.setJColor(colors[i]);
    g.fillRect(saturate(static_cast<long long>(X) + x1), saturate(static_cast<long long>(Y) + y1), saturate(w),
               saturate(h));
  }
  g.setClip(saved);
}

LOOMWORK_REGISTER(JRegionPickerObj)
