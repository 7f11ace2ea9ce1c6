#include "JRegionPickerObj.h"

#include <string>

namespace {
const JPortTable kInputs{{kSideLeft, 0.1, 0.8, {"x", "y", "defineSelection"}},
                         {kSideTop, 0.25, 0.5, {"reset", "select"}}};
const JPortTable kOutputs{{kSideRight, 0.25, 0.5,
                           {"selection_1", "selection_2", "selection_3", "selection_4", "selection_5",
                            "selection_6", "selection_7", "selection_8", "selection_9", "selection_10",
                            "lastSelection"}}};

const char* const kColorKeys[JRegionPickerObj::kRegions] = {"color_1", "color_2", "color_3", "color_4", "color_5",
                                                            "color_6", "color_7", "color_8", "color_9", "color_10"};

// Where value (0..65535 on the wire) lands along `span` pixels. Wires may carry anything, so the
// product is taken in 64 bits and the result held to the int range.
int scaled(int span, int value) { return saturate(static_cast<long long>(span) * value / kWireMax); }

std::string regionKey(const char* prefix, int i) { return prefix + std::to_string(i); }
}  // namespace

JRegionPickerObj::JRegionPickerObj() {
  setPorts(kInputs, kOutputs);
  const JColor defaults[kRegions] = {JColor::lightGray, JColor::cyan, JColor::pink,          JColor::orange,
                                     JColor::magenta,   JColor::gray, JColor::yellow,        JColor::red,
                                     JColor::yellow.darker(), JColor::orange.darker()};
  for (int i = 0; i < kRegions; ++i) colors[i] = defaults[i];
}

// --- properties and persistence ---

JArray JRegionPickerObj::getProperties() {
  JArray a = JModuleObj::getProperties();
  for (int i = 0; i < kRegions; ++i) a.append(new JColorProperty(kColorKeys[i], colors[i]));
  return a;
}

bool JRegionPickerObj::updateProperty(JProperty& p) {
  if (JModuleObj::updateProperty(p)) return true;
  for (int i = 0; i < kRegions; ++i) {
    JColor c;
    if (p.is(kColorKeys[i], c)) {
      colors[i] = c;
      repaint();
      return true;
    }
  }
  return false;
}

void JRegionPickerObj::writeContent(JOutputStream& os) {
  JAddObj::writeContent(os);
  for (int i = 0; i < kRegions; ++i) putObject(os, kColorKeys[i], colors[i]);
  for (int i = 0; i < kRegions; ++i) {
    putInteger(os, regionKey("minX-", i).c_str(), minX[i]);
    putInteger(os, regionKey("minY-", i).c_str(), minY[i]);
    putInteger(os, regionKey("maxX-", i).c_str(), maxX[i]);
    putInteger(os, regionKey("maxY-", i).c_str(), maxY[i]);
    putInteger(os, regionKey("definedX-", i).c_str(), definedX[i]);
    putInteger(os, regionKey("definedY-", i).c_str(), definedY[i]);
  }
}

void JRegionPickerObj::readContent(JDictionary& dict) {
  JAddObj::readContent(dict);
  for (int i = 0; i < kRegions; ++i) getObject(dict, kColorKeys[i], colors[i]);  // missing: kept
  for (int i = 0; i < kRegions; ++i) {
    minX[i] = getInteger(dict, regionKey("minX-", i).c_str(), 0);
    minY[i] = getInteger(dict, regionKey("minY-", i).c_str(), 0);
    maxX[i] = getInteger(dict, regionKey("maxX-", i).c_str(), 0);
    maxY[i] = getInteger(dict, regionKey("maxY-", i).c_str(), 0);
    definedX[i] = getInteger(dict, regionKey("definedX-", i).c_str(), 0);
    definedY[i] = getInteger(dict, regionKey("definedY-", i).c_str(), 0);
  }
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
      if (n == kX) xValue = v; else yValue = v;
      if (defining != 0) {
        if (n == kX) teach(v, definedX, minX, maxX); else teach(v, definedY, minY, maxY);
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
    default:
      break;
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
