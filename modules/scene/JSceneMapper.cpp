#include "JSceneMapper.h"

#include <string>
#include <vector>

namespace {
using M = JSceneMapper;

const JPortTable kInputs{
    {kSideLeft, 0.1, 0.8,
     portsOf(M::kInputTags, 0, 4, {JIntegerData::id, JIntegerData::id, JIntegerData::id, JStringData::id})},
    {kSideTop, 0.25, 0.5, portsOf(M::kInputTags, 4, 2)}};
const JPortTable kOutputs{{kSideRight, 0.25, 0.5, portsOf(M::kOutputTags, {JBytesData::id})}};

// What choosing a type does to the target ranges, and what range the properties then offer.
struct TypeRange {
  bool sets;
  int lo, hi;
};
const TypeRange kTypeRanges[M::kTypes] = {{false, 0, 0},  {true, -10000, 10000}, {true, -360, 360}, {true, 0, 100},
                                          {true, 0, 100}, {true, 0, 1000},       {false, 0, 100},   {false, 0, 0}};

std::vector<std::string> defaultNames() {
  const SceneNameList names = defaultSceneNames();
  return std::vector<std::string>(names.begin(), names.end());
}

// Stored in this order. A choice outside its list is left out, by every road. The object's
// choices shown are the names the viewer sent last (see getProperties); the ones here are the
// defaults. A missing "transformType" is "signal data", not a new module's "location".
const JSettings kSettings{
    JSetting::choice("transformObject", &M::transformObject, defaultNames())
        .init(0)
        .outside(JOutOfRange::kIgnore)
        .onChange(&M::objectChosen),
    JSetting::choice("transformType", &M::transformType,
                     {"signal data", "location", "orientation", "emissive color", "diffuse color", "scale",
                      "transparency", "marker signal"})
        .init(M::kLocation)
        .outside(JOutOfRange::kIgnore)
        .whenMissing(M::kSignalData)
        .onChange(&M::typeChosen),
    JSetting::integer("minI1", &M::minI1).init(0).notProperty(),
    JSetting::integer("maxI1", &M::maxI1).init(0).notProperty(),
    JSetting::integer("minI2", &M::minI2).init(0).notProperty(),
    JSetting::integer("maxI2", &M::maxI2).init(0).notProperty(),
    JSetting::integer("minI3", &M::minI3).init(0).notProperty(),
    JSetting::integer("maxI3", &M::maxI3).init(0).notProperty(),
    // Any value is kept; the range offered follows the type (see getProperties).
    JSetting::integer("mapToMinI1", &M::mapToMinI1).init(0),
    JSetting::integer("mapToMaxI1", &M::mapToMaxI1).init(0),
    JSetting::integer("mapToMinI2", &M::mapToMinI2).init(0),
    JSetting::integer("mapToMaxI2", &M::mapToMaxI2).init(0),
    JSetting::integer("mapToMinI3", &M::mapToMinI3).init(0),
    JSetting::integer("mapToMaxI3", &M::mapToMaxI3).init(0),
    JSetting::flag("calibrated", &M::calibrated).init(0).notProperty(),
    JSetting::flag("initial_i1_set", &M::initialI1Set).init(0).notProperty(),
    JSetting::flag("initial_i2_set", &M::initialI2Set).init(0).notProperty(),
    JSetting::flag("initial_i3_set", &M::initialI3Set).init(0).notProperty(),
    JSetting::text("transformObjectName", &M::transformObjectName).init("JSceneMapper").whenMissing("").notProperty(),
};

void putLE(JBlock& b, int v) {
  const auto u = static_cast<uint32_t>(v);
  for (int i = 0; i < 4; ++i) b.append(static_cast<uint8_t>(u >> (8 * i)));
}
}  // namespace

JSceneMapper::JSceneMapper() {
  setPorts(kInputs, kOutputs);
  setSettings(kSettings);
}

// --- settings ---

// The rows give the properties; the object names are the viewer's, known only at run time, and
// the target ranges offered are those of the chosen type.
JArray JSceneMapper::getProperties() {
  JArray a = JAddObj::getProperties();
  const TypeRange offered =
      (transformType >= 0 && transformType < kTypes) ? kTypeRanges[transformType] : kTypeRanges[0];
  for (int i = 0; i < a.size(); ++i) {
    if (auto* objects = dynamic_cast<JIntegerListProperty*>(a[i])) {
      if (objects->getName() != JString("transformObject")) continue;
      objects->tags.clear();
      for (const std::string& n : SharedSceneNames::get()) objects->tags.emplace_back(n);
    } else if (auto* target = dynamic_cast<JIntegerProperty*>(a[i])) {
      target->minimum = offered.lo;
      target->maximum = offered.hi;
    }
  }
  return a;
}

void JSceneMapper::objectChosen() {
  transformObjectName = JString(SharedSceneNames::name(transformObject));
  repaint();
}

// Types 0, 6 and 7 leave the target ranges as they are.
void JSceneMapper::typeChosen() {
  if (transformType < 0 || transformType >= kTypes || !kTypeRanges[transformType].sets) return;
  const TypeRange& r = kTypeRanges[transformType];
  mapToMinI1 = mapToMinI2 = mapToMinI3 = r.lo;
  mapToMaxI1 = mapToMaxI2 = mapToMaxI3 = r.hi;
}

// --- values ---

void JSceneMapper::access(int n, JLinkObj&, const JDataType& data) {
  if (n == kDataOut && data.type() == JBytesData::id) static_cast<const JBytesData&>(data) = message;
}

void JSceneMapper::engine(int n, JLinkObj& link) {
  switch (n) {
    case kI1:
    case kI2:
    case kI3: {
      const int v = readInteger(link);
      (n == kI1 ? i1Value : n == kI2 ? i2Value : i3Value) = v;
      previousValue = lastValue;
      lastValue = v;
      if (calibratingValue != 0) axisRange(n).learn(v);
      break;
    }
    case kDefList:
      defList = readText(link);
      if (!defList.isEmpty()) SharedSceneNames::replace(parseDefList(defList.str()));
      break;
    case kTimer:
      timerSampled = readInteger(link);
      if (calibrated || transformType == kMarker) tick();
      break;
    case kCalibrating:
      calibratingValue = readInteger(link);
      if (calibratingValue != 0) {
        calibrated = false;
        for (int axis : {kI1, kI2, kI3}) axisRange(axis).restart();
      } else {
        calibrated = (initialI1Set && initialI2Set && initialI3Set) || transformType == kMarker;
      }
      break;
    default: break;
  }
}

Calibrated<bool> JSceneMapper::axisRange(int axis) {
  if (axis == kI1) return Calibrated<bool>(minI1, maxI1, initialI1Set);
  if (axis == kI2) return Calibrated<bool>(minI2, maxI2, initialI2Set);
  return Calibrated<bool>(minI3, maxI3, initialI3Set);
}

void JSceneMapper::tick() {
  if (transformType == kMarker) {
    if (lastValue != previousValue && lastValue != 0) {
      previousValue = lastValue;
      message = buildMessage(transformObject, transformType, 1, 1, 1);
      broadcast(kDataOut);
    }
    return;
  }
  message = buildMessage(transformObject, transformType, axisRange(kI1).map(i1Value, mapToMinI1, mapToMaxI1),
                         axisRange(kI2).map(i2Value, mapToMinI2, mapToMaxI2),
                         axisRange(kI3).map(i3Value, mapToMinI3, mapToMaxI3));
  broadcast(kDataOut);
}

int JSceneMapper::map(int v, int min, int max, int lo, int hi) { return mapRange(v, min, max, lo, hi); }

JBlock JSceneMapper::buildMessage(int object, int type, int a1, int a2, int a3) {
  JBlock b(kMessageBytes);
  for (int v : {kMessageTag, object, type, a1, a2, a3}) putLE(b, v);
  return b;
}

// --- face ---

void JSceneMapper::draw(JGraphics& g, int x, int y, int w, int h) {
  drawText(g, transformObjectName, JRect(x, y, w, h));
}

LOOMWORK_REGISTER(JSceneMapper)
