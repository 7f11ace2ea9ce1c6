#include "JSceneMapper.h"

#include <vector>

namespace {
const JPortTable kInputs{{kSideLeft, 0.1, 0.8, {"i1", "i2", "i3", {"DEF list", JStringData::id}}},
                         {kSideTop, 0.25, 0.5, {"timer_sampled", "calibrating"}}};
const JPortTable kOutputs{{kSideRight, 0.25, 0.5, {{"dataOut", JBytesData::id}}}};

const char* const kTypeLabels[JSceneMapper::kTypes] = {"signal data",   "location", "orientation",  "emissive color",
                                                       "diffuse color", "scale",    "transparency", "marker signal"};
// What choosing a type does to the target ranges, and what range the properties then offer.
struct TypeRange {
  bool sets;
  int lo, hi;
};
const TypeRange kTypeRanges[JSceneMapper::kTypes] = {
    {false, 0, 0},     {true, -10000, 10000}, {true, -360, 360}, {true, 0, 100},
    {true, 0, 100},    {true, 0, 1000},       {false, 0, 100},   {false, 0, 0}};

const char* const kMapKeys[6] = {"mapToMinI1", "mapToMaxI1", "mapToMinI2", "mapToMaxI2", "mapToMinI3", "mapToMaxI3"};

void putLE(JBlock& b, int v) {
  const auto u = static_cast<uint32_t>(v);
  for (int i = 0; i < 4; ++i) b.append(static_cast<uint8_t>(u >> (8 * i)));
}
}  // namespace

JSceneMapper::JSceneMapper() { setPorts(kInputs, kOutputs); }

// --- properties and persistence ---

JArray JSceneMapper::getProperties() {
  JArray a;
  std::vector<JString> names;
  for (const std::string& n : SharedSceneNames::get()) names.emplace_back(n);
  a.append(new JIntegerListProperty("transformObject", transformObject, names));
  std::vector<JString> types(kTypeLabels, kTypeLabels + kTypes);
  a.append(new JIntegerListProperty("transformType", transformType, types));
  const TypeRange offered = (transformType >= 0 && transformType < kTypes) ? kTypeRanges[transformType] : kTypeRanges[0];
  const int* targets[6] = {&mapToMinI1, &mapToMaxI1, &mapToMinI2, &mapToMaxI2, &mapToMinI3, &mapToMaxI3};
  for (int i = 0; i < 6; ++i) a.append(new JIntegerProperty(kMapKeys[i], *targets[i], offered.lo, offered.hi));
  return a;
}

// Choices out of range are refused, as the property dialog offers only the listed ones.
bool JSceneMapper::updateProperty(JProperty& p) {
  int v = 0;
  if (p.is("transformObject", v)) {
    if (v >= 0 && v < kSceneNames) {
      transformObject = v;
      transformObjectName = JString(SharedSceneNames::name(v));
      repaint();
    }
    return true;
  }
  if (p.is("transformType", v)) {
    if (v >= 0 && v < kTypes) {
      transformType = v;
      const TypeRange& r = kTypeRanges[v];
      if (r.sets) {
        mapToMinI1 = mapToMinI2 = mapToMinI3 = r.lo;
        mapToMaxI1 = mapToMaxI2 = mapToMaxI3 = r.hi;
      }
    }
    return true;
  }
  int* targets[6] = {&mapToMinI1, &mapToMaxI1, &mapToMinI2, &mapToMaxI2, &mapToMinI3, &mapToMaxI3};
  for (int i = 0; i < 6; ++i) {
    if (p.is(kMapKeys[i], v)) {
      *targets[i] = v;
      return true;
    }
  }
  return false;
}

void JSceneMapper::writeContent(JOutputStream& os) {
  JAddObj::writeContent(os);
  putInteger(os, "transformObject", transformObject);
  putInteger(os, "transformType", transformType);
  putInteger(os, "minI1", minI1);
  putInteger(os, "maxI1", maxI1);
  putInteger(os, "minI2", minI2);
  putInteger(os, "maxI2", maxI2);
  putInteger(os, "minI3", minI3);
  putInteger(os, "maxI3", maxI3);
  putInteger(os, "mapToMinI1", mapToMinI1);
  putInteger(os, "mapToMaxI1", mapToMaxI1);
  putInteger(os, "mapToMinI2", mapToMinI2);
  putInteger(os, "mapToMaxI2", mapToMaxI2);
  putInteger(os, "mapToMinI3", mapToMinI3);
  putInteger(os, "mapToMaxI3", mapToMaxI3);
  putFlag(os, "calibrated", calibrated);
  putFlag(os, "initial_i1_set", initialI1Set);
  putFlag(os, "initial_i2_set", initialI2Set);
  putFlag(os, "initial_i3_set", initialI3Set);
  putString(os, "transformObjectName", transformObjectName);
}

// Missing keys read as 0: a missing "transformType" is "signal data", not a new module's
// "location". An object index out of 0..9 would address past the name list and is held to it.
void JSceneMapper::readContent(JDictionary& dict) {
  JAddObj::readContent(dict);
  transformObject = clampTo(getInteger(dict, "transformObject", 0), 0, kSceneNames - 1);
  transformType = clampTo(getInteger(dict, "transformType", 0), 0, kTypes - 1);
  minI1 = getInteger(dict, "minI1", 0);
  maxI1 = getInteger(dict, "maxI1", 0);
  minI2 = getInteger(dict, "minI2", 0);
  maxI2 = getInteger(dict, "maxI2", 0);
  minI3 = getInteger(dict, "minI3", 0);
  maxI3 = getInteger(dict, "maxI3", 0);
  calibrated = getFlag(dict, "calibrated");
  initialI1Set = getFlag(dict, "initial_i1_set");
  initialI2Set = getFlag(dict, "initial_i2_set");
  initialI3Set = getFlag(dict, "initial_i3_set");
  mapToMinI1 = getInteger(dict, "mapToMinI1", 0);
  mapToMaxI1 = getInteger(dict, "mapToMaxI1", 0);
  mapToMinI2 = getInteger(dict, "mapToMinI2", 0);
  mapToMaxI2 = getInteger(dict, "mapToMaxI2", 0);
  mapToMinI3 = getInteger(dict, "mapToMinI3", 0);
  mapToMaxI3 = getInteger(dict, "mapToMaxI3", 0);
  transformObjectName = getString(dict, "transformObjectName", JString());
}

// --- values ---

void JSceneMapper::access(int n, JLinkObj&, const JDataType& data) {
  if (n == 0 && data.type() == JBytesData::id) static_cast<const JBytesData&>(data) = message;
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
    default:
      break;
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
      broadcast(0);
    }
    return;
  }
  message = buildMessage(transformObject, transformType, axisRange(kI1).map(i1Value, mapToMinI1, mapToMaxI1),
                         axisRange(kI2).map(i2Value, mapToMinI2, mapToMaxI2),
                         axisRange(kI3).map(i3Value, mapToMinI3, mapToMaxI3));
  broadcast(0);
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
