#include "JPoseMatcher.h"

#include <climits>
#include <cstdlib>

namespace {
const JPortTable kInputs{
    {kSideLeft, 0.1, 0.8,
     {"input1", "input2", "input3", "input4", "input5", "input6", "input7", "input8", "input9", "input10"}},
    {kSideTop, 0.1, 0.8,
     {"timer", "calibrator", "row count", "advance tick count", "decay tick count", "percent propagation",
      "accuracy percent", "select pattern", "mark pattern", "display pattern", "create pattern",
      "reset all patterns"}}};
// The flags' areas span 0.05 to 0.95 of the side, their link points 0.1 to 0.9.
const JPortTable kOutputs{
    {kSideRight, 0.05, 0.9,
     {"pattern1", "pattern2", "pattern3", "pattern4", "pattern5", "pattern6", "pattern7", "pattern8", "pattern9",
      "pattern10"},
     6, 0.1, 0.8},
    {kSideBottom, 0.25, 0.5, {"recognized pattern", "auto create signal"}}};

// Level colours as the module starts; all count as set by the user.
const JColor kInitialColors[JPoseMatcher::kLevels] = {
    JColor::black,       JColor(10, 10, 10),   JColor(23, 13, 34),   JColor(46, 26, 68),
    JColor(69, 39, 102), JColor(92, 52, 136),  JColor(118, 69, 170), JColor(118, 69, 170),
    JColor(152, 70, 174), JColor(186, 71, 178), JColor(222, 72, 183), JColor(228, 108, 147),
    JColor(234, 144, 111), JColor(240, 180, 75), JColor(246, 216, 39), JColor::yellow};

const JColor kSelectedColor(255, 0, 200);
const JColor kMatchedColor(101, 255, 183);

// Black marks a level colour as not set (alpha plays no part).
bool isBlack(const JColor& c) { return c.getRed() == 0 && c.getGreen() == 0 && c.getBlue() == 0; }
std::string colorKey(int level) { return keyOf("color", level); }
}  // namespace

std::atomic<int> JPoseMatcher::paintCounter{0};

JPoseMatcher::JPoseMatcher() {
  setPorts(kInputs, kOutputs);
  for (int i = 0; i < kLevels; ++i) {
    colors[i] = kInitialColors[i];
    derivedColor[i] = false;
  }
  for (int j = 0; j < kChannels; ++j) {
    channelMin[j] = channelMax[j] = channelStep[j] = 0;
    channelCalibrated[j] = false;
    position[j] = -1;
    liveValue[j] = olderValue[j] = previousValue[j] = delta[j] = 0;
    currentRow[j] = -1;
    bandSets[j].setId(j);
  }
  for (int k = 0; k < kPatterns; ++k) {
    patterns[k].id = k;
    matchDistance[k] = 0;  // no position yet: every distance is an empty sum
    matched[k] = false;
  }
  updatePropagationWidth();
  updateErrorThreshold();
}

JObject* JPoseMatcher::clone() const {
  auto* copy = new JPoseMatcher(*this);
  copy->Init();
  return copy;
}

// A clone starts fresh: no positions, rows, matches or derived colours until it is started.
void JPoseMatcher::Init() {
  tickCounter = 0;
  for (int k = 0; k < kChannels; ++k) {
    position[k] = -1;
    currentRow[k] = -1;
    bandSets[k].setId(k);
    patterns[k].id = k;
  }
  for (bool& d : derivedColor) d = false;
  for (bool& m : matched) m = false;
}

void JPoseMatcher::startup() {
  updateCalibration();
  updateBands();
  updateErrorThreshold();
}

// --- ports ---

void JPoseMatcher::access(int n, JLinkObj&, const JDataType& data) {
  if (data.type() != JIntegerData::id) return;
  const auto& out = static_cast<const JIntegerData&>(data);
  if (n >= 0 && n < kPatterns) {
    out = matched[n] ? 1 : 0;
  } else if (n == kRecognizedPattern) {
    out = recognizedPattern;
  } else if (n == kAutoCreateSignal) {
    out = autoCreateSignal;
  }
}

// --- properties ---

JArray JPoseMatcher::getProperties() {
  JArray a;
  a.append(new JIntegerProperty("numberRows", numberRows, 2, 32));
  a.append(new JIntegerProperty("numberColors", numberColors, 1, 16));
  a.append(new JIntegerProperty("ticksNeededToAdvance", ticksNeededToAdvance, 1, 100));
  a.append(new JIntegerProperty("ticksNeededToDecay", ticksNeededToDecay, 1, 100));
  a.append(new JIntegerListProperty("adaptationEnabled", adaptationEnabled ? 1 : 0, JIntegerListProperty::booleanTag));
  a.append(new JIntegerProperty("adaptationSpeed", adaptationSpeed, 0, 100));
  a.append(new JIntegerProperty("accuracyPercent", accuracyPercent, 0, 100));
  for (int i = 0; i < kLevels; ++i)
    a.append(new JColorProperty(colorKey(i), derivedColor[i] ? JColor::black : colors[i]));
  return a;
}

// Values past the offered range are held to it: rows and colours size the columns.
bool JPoseMatcher::updateProperty(JProperty& p) {
  int v = 0;
  if (p.is("numberRows", v)) {
    numberRows = clampTo(v, 2, 32);
  } else if (p.is("numberColors", v)) {
    numberColors = clampTo(v, 1, 16);
  } else if (p.is("ticksNeededToAdvance", v)) {
    ticksNeededToAdvance = clampTo(v, 1, 100);
  } else if (p.is("ticksNeededToDecay", v)) {
    ticksNeededToDecay = clampTo(v, 1, 100);
  } else if (p.is("adaptationSpeed", v)) {
    adaptationSpeed = clampTo(v, 0, 100);
    return true;
  } else if (p.is("accuracyPercent", v)) {
    accuracyPercent = clampTo(v, 0, 100);
    updateErrorThreshold();
    return true;
  } else if (p.is("adaptationEnabled", adaptationEnabled)) {
    return true;
  } else if (!updateColor(p)) {
    return false;
  }
  updateBands();
  return true;
}

// A user colour for one of levels 1..15 (level 0 is never painted); the derived levels around it
// are refilled unless it was set to black.
bool JPoseMatcher::updateColor(JProperty& p) {
  JColor c;
  for (int i = 1; i < kLevels; ++i) {
    if (!p.is(colorKey(i).c_str(), c)) continue;
    colors[i] = c;
    derivedColor[i] = false;
    lastEditedColor = i;
    if (!isBlack(c)) InterpolateColors();
    return true;
  }
  return false;
}

void JPoseMatcher::InterpolateColors() {
  JColor prev = JColor::black;
  int pendingFrom = -1;  // pending levels are consecutive: pendingFrom .. i - 1
  for (int i = 1; i < kLevels; ++i) {
    if (isBlack(colors[i]) || derivedColor[i]) {
      if (pendingFrom < 0) pendingFrom = i;
      continue;
    }
    const JColor next = colors[i];
    if (pendingFrom >= 0) {
      int n = i - pendingFrom;
      int dr = (next.getRed() - prev.getRed()) / n;
      int dg = (next.getGreen() - prev.getGreen()) / n;
      int db = (next.getBlue() - prev.getBlue()) / n;
      for (int m = 0; m < n; ++m) {
        colors[pendingFrom + m] =
            JColor(prev.getRed() + m * dr, prev.getGreen() + m * dg, prev.getBlue() + m * db);
        derivedColor[pendingFrom + m] = true;
      }
      pendingFrom = -1;
    }
    prev = next;
  }
}

// --- persistence ---

void JPoseMatcher::writeContent(JOutputStream& os) {
  JAddObj::writeContent(os);
  for (int i = 0; i < kLevels; ++i) putObject(os, colorKey(i).c_str(), derivedColor[i] ? JColor::black : colors[i]);
  for (int j = 0; j < kChannels; ++j) {
    putInteger(os, keyOf("min", j).c_str(), channelMin[j]);
    putInteger(os, keyOf("max", j).c_str(), channelMax[j]);
  }
  putInteger(os, "numberRows", numberRows);
  putInteger(os, "numberColors", numberColors);
  putInteger(os, "ticksNeededToAdvance", ticksNeededToAdvance);
  putInteger(os, "ticksNeededToDecay", ticksNeededToDecay);
  putFlag(os, "calibrated", calibrated);
  putInteger(os, "percentPropagationWidth", percentPropagationWidth);
  putFlag(os, "adaptationEnabled", adaptationEnabled);
  putInteger(os, "adaptationSpeed", adaptationSpeed);
  putInteger(os, "accuracyPercent", accuracyPercent);
  for (int k = 0; k < kPatterns; ++k)
    for (int i = 0; i < JPatternFull::kEntries; ++i)
      putInteger(os, keyOf("v-", k * 100 + i).c_str(), patterns[k].values[i]);
}

void JPoseMatcher::readContent(JDictionary& dict) {
  JAddObj::readContent(dict);
  getObjects(dict, "color", colors, kLevels);
  for (int j = 0; j < kChannels; ++j) {
    channelMin[j] = getInteger(dict, keyOf("min", j).c_str(), 0);
    channelMax[j] = getInteger(dict, keyOf("max", j).c_str(), 0);
  }
  // Rows and colours divide below and size the band columns: a stored 0 (or a value no column
  // can hold) keeps what the module held before.
  int rows = getInteger(dict, "numberRows", 0);
  if (rows >= 1 && rows <= BandSet::kBands) numberRows = rows;
  for (int j = 0; j < kChannels; ++j)
    channelStep[j] = saturate((static_cast<long long>(channelMax[j]) - channelMin[j]) / numberRows);
  int levels = getInteger(dict, "numberColors", 0);
  if (levels >= 1 && levels <= kLevels) numberColors = levels;
  ticksNeededToAdvance = getInteger(dict, "ticksNeededToAdvance", 0);
  ticksNeededToDecay = getInteger(dict, "ticksNeededToDecay", 0);
  accuracyPercent = clampTo(getInteger(dict, "accuracyPercent", 0), 0, 100);
  calibrated = getFlag(dict, "calibrated");
  adaptationEnabled = getFlag(dict, "adaptationEnabled");
  adaptationSpeed = getInteger(dict, "adaptationSpeed", 0);
  percentPropagationWidth = clampTo(getInteger(dict, "percentPropagationWidth", 0), 0, 100);
  for (int k = 0; k < kPatterns; ++k)
    for (int i = 0; i < JPatternFull::kEntries; ++i)
      patterns[k].values[i] = getInteger(dict, keyOf("v-", k * 100 + i).c_str(), 0);
  updateBands();
  updateCalibration();
  updatePropagationWidth();
  InterpolateColors();
}

// --- inputs ---

void JPoseMatcher::engine(int n, JLinkObj& link) {
  int v = readInteger(link);
  if (n >= 0 && n < kChannels) {
    storeValue(n, v);
    return;
  }
  switch (n) {
    case kTimer:
      tick();
      break;
    case kCalibrator:
      if (v != 0) {
        startCalibration();
      } else {
        endCalibration();
      }
      break;
    case kRowCount: {
      int r = v / 2046 + 2;
      if (r >= 1 && r <= BandSet::kBands && r != numberRows) {
        numberRows = r;
        updateCalibration();
        updatePropagationWidth();
        updateErrorThreshold();
      }
      break;
    }
    case kAdvanceTickCount:
    case kDecayTickCount: {
      // A higher value gives fewer ticks.
      long long t = (65535LL - v) / 655 + 1;
      int& ticks = n == kAdvanceTickCount ? ticksNeededToAdvance : ticksNeededToDecay;
      if (t >= 1 && t <= 100 && t != ticks) {
        ticks = static_cast<int>(t);
        updateBands();
      }
      break;
    }
    case kPercentPropagation:
      percentPropagationWidth = percentOf(v);
      updatePropagationWidth();
      break;
    case kAccuracyPercent:
      accuracyPercent = percentOf(v);
      updateErrorThreshold();
      break;
    case kSelectPattern:
      if (v != 0) {
        cycleSelectedPattern();
        recognizedPattern = selectedPattern + 1;
        broadcast(kRecognizedPattern);
      }
      break;
    case kMarkPattern:
      if (v != 0) {
        if (displayedPattern >= 0 && displayedPattern < kPatterns) {
          clearSelectedPattern(displayedPattern);
        } else {
          createSelectedPattern();
        }
      }
      break;
    case kDisplayPattern:
      if (v != 0) displayStep();
      break;
    case kCreatePattern:
      createStep();  // both edges of the creator's signal count
      break;
    case kResetAllPatterns:
      if (v != 0)
        for (JPatternFull& p : patterns) p.clear();
      break;
    default:
      break;
  }
}

// --- calibration and band settings ---

void JPoseMatcher::updateBands() {
  int next = 0;
  for (int i = 0; i < kChannels; ++i) {
    bandSets[i].Init(numberRows, numberColors, ticksNeededToAdvance, ticksNeededToDecay);
    if (inputAllowed(i)) {
      position[i] = -1;
      currentRow[i] = -1;
    } else {
      position[i] = next++;
    }
  }
  activeCount = next;
}

void JPoseMatcher::updateCalibration() {
  for (int i = 0; i < kChannels; ++i) {
    if (inputAllowed(i)) continue;
    channelCalibrated[i] = calibrated;
    channelStep[i] = saturate((static_cast<long long>(channelMax[i]) - channelMin[i]) / numberRows);
  }
  updateBands();
}

void JPoseMatcher::startCalibration() {
  calibrated = false;
  calibrating = true;
  updateCalibration();
}

void JPoseMatcher::endCalibration() {
  calibrated = true;
  calibrating = false;
  updateCalibration();
  for (int& r : currentRow) r = -1;
  updateBands();
  updateErrorThreshold();
  updatePropagationWidth();
}

void JPoseMatcher::storeValue(int channel, int v) {
  if (channel == -1) return;
  if (channel < 0 || channel >= kChannels) {
    JComponent::debugf("bad channel");
    return;
  }
  int p = position[channel];
  if (p >= 0 && p < kChannels) liveValue[p] = v;
  if (calibrating) {
    if (!channelCalibrated[channel]) {
      channelMin[channel] = channelMax[channel] = v;
      channelCalibrated[channel] = true;
    } else if (v < channelMin[channel]) {
      channelMin[channel] = v;
    } else if (v > channelMax[channel]) {
      channelMax[channel] = v;
    }
  } else if (calibrated && channelCalibrated[channel] && channelStep[channel] >= 1) {
    if (v < channelMin[channel]) {
      currentRow[channel] = 0;
    } else if (v > channelMax[channel]) {
      currentRow[channel] = numberRows - 1;
    } else {
      // May pass numberRows - 1 by a little; ActivateRow clamps.
      currentRow[channel] = saturate((static_cast<long long>(v) - channelMin[channel]) / channelStep[channel]);
    }
  }
}

void JPoseMatcher::activateRows() {
  for (int i = 0; i < kChannels; ++i) {
    int p = position[i];
    if (currentRow[i] != -1 && p >= 0 && p < activeCount) bandSets[p].ActivateRow(currentRow[i]);
  }
}

void JPoseMatcher::updatePropagationWidth() {
  propagationWidth = percentPropagationWidth * numberRows / 100 / numberColors;
  for (int k = 0; k < kChannels; ++k) bandSets[k].updatePropagationWidth(propagationWidth);
}

void JPoseMatcher::updateErrorThreshold() {
  maxDistance = (numberRows - 1) * activeCount;
  errorThreshold = maxDistance - accuracyPercent * maxDistance / 100;
}

// --- matching ---

void JPoseMatcher::readRows(int* rows) const {
  for (int p = 0; p < activeCount; ++p) {
    const BandSet& s = bandSets[p];
    rows[p] = s.numberRows > 0 ? s.getInputValue() : 0;
  }
}

int JPoseMatcher::distanceFromRows(const int* rows, const JPatternFull& pattern, DeltaTracker& tracker) const {
  long long sum = 0;  // ten distances of up to INT_MAX each
  for (int p = 0; p < activeCount; ++p)
    sum += bandSets[p].getDistanceFrom(rows[p], pattern.values[p], tracker.drift[p]);
  return saturate(sum);
}

int JPoseMatcher::getDistanceTo(JPatternFull& pattern, DeltaTracker& tracker) {
  int rows[kChannels];
  readRows(rows);
  return distanceFromRows(rows, pattern, tracker);
}

void JPoseMatcher::tick() {
  tickCounter = tickCounter == INT_MAX ? 0 : tickCounter + 1;
  if (!calibrated) return;
  activateRows();
  repaint();

  int rows[kChannels];
  readRows(rows);
  for (int k = 0; k < kPatterns; ++k) matchDistance[k] = distanceFromRows(rows, patterns[k], trackers[k]);
  int recognized = 0;
  for (int k = 0; k < kPatterns; ++k) {
    matched[k] = matchDistance[k] < errorThreshold;
    if (matched[k]) recognized = k + 1;
  }

  // Only the flags of the pattern given up and the pattern taken over are announced.
  if (recognized != recognizedPattern && !displayingPattern) {
    if (recognizedPattern > 0) broadcast(recognizedPattern - 1);
    recognizedPattern = recognized;
    broadcast(kRecognizedPattern);
    if (recognized > 0) broadcast(recognized - 1);
  }

  if (tickCounter % 10 == 0) {
    long long sum = 0;
    for (int p = 0; p < activeCount; ++p) {
      olderValue[p] = previousValue[p];
      previousValue[p] = liveValue[p];
      delta[p] = saturate(static_cast<long long>(previousValue[p]) - olderValue[p]);
      sum += std::llabs(static_cast<long long>(delta[p]));
    }
    autoCreateSignal = saturate(sum);
    broadcast(kAutoCreateSignal);
  }
}

// --- pattern operations ---

void JPoseMatcher::cycleSelectedPattern() {
  if (++selectedPattern > kPatterns - 1) selectedPattern = 0;
}

void JPoseMatcher::cycleDisplayedPattern() {
  ++displayedPattern;
  if (displayedPattern < kPatterns) {
    displayingPattern = true;
  } else {
    displayingPattern = false;
    displayedPattern = -1;
  }
}

void JPoseMatcher::createSelectedPattern() {
  if (selectedPattern < 0 || selectedPattern >= kPatterns) return;
  for (int i = 0; i < JPatternFull::kEntries; ++i)
    patterns[selectedPattern].values[i] = bandSets[i].getInputValue();
}

void JPoseMatcher::adaptSelectedPattern() {
  if (selectedPattern < 0 || selectedPattern >= kPatterns) return;
  for (int i = 0; i < JPatternFull::kEntries; ++i)
    patterns[selectedPattern].adaptValue(i, bandSets[i].getInputValue(), adaptationSpeed);
}

void JPoseMatcher::clearSelectedPattern(int k) {
  if (k >= 0 && k < kPatterns) patterns[k].clear();
}

void JPoseMatcher::displayStep() {
  cycleDisplayedPattern();
  if (!displayingPattern) {
    recognizedPattern = 0;
    return;
  }
  recognizedPattern = displayedPattern + 1;
  broadcast(kRecognizedPattern);
  JComponent::debugf("pattern %d: matched %d, error threshold %d, matchDistance %d", displayedPattern,
            matched[displayedPattern] ? 1 : 0, errorThreshold, matchDistance[displayedPattern]);
}

void JPoseMatcher::createStep() {
  if (recognizedPattern == 0) {
    for (int k = 0; k < kPatterns; ++k) {
      if (!patterns[k].isSet()) {
        selectedPattern = k;
        createSelectedPattern();
        return;
      }
    }
  }
  // A posture already known (or no free slot): refine the nearest pattern instead.
  int nearest = 0;
  for (int k = 1; k < kPatterns; ++k)
    if (matchDistance[k] < matchDistance[nearest]) nearest = k;
  selectedPattern = nearest;
  adaptSelectedPattern();
  recognizedPattern = selectedPattern + 1;
  broadcast(kRecognizedPattern);
}

// --- drawing ---

void JPoseMatcher::paint(JGraphics& g, double dx, double dy, JRegion& region, double scale) {
  g.setClip(region);
  const JColor background = displayingPattern ? JColor::blue.darker().darker() : JColor::black;
  g.setJColor(background);
  JRect r = getIExtent(dx, dy, scale);
  const int x = r.x, y = r.y, w = r.width, h = r.height;

  if (activeCount <= 0) {
    g.fillRect(x, y, w, h);
    g.setJColor(JColor::blue.darker());
    int t = h / 3;
    g.fillRect(x + 2, y + 2, w - 4, t);
    g.fillRect(x + 2, y + 2 + 2 * t, w - 4, t);
    g.setJColor(JColor::green);
    draw(g, x, y, w, h);
    return;
  }

  if (displayingPattern) {
    int c = (w - 4) / activeCount;
    g.fillRect(x, y, w, h);
    if (displayedPattern >= 0 && displayedPattern < kPatterns) {
      for (int p = 0; p < activeCount; ++p) {
        int width = p == activeCount - 1 ? w - c * (activeCount - 1) - 4 : c;
        bandSets[p].paint(g, x + 2 + p * c, y + 2, width, h - 4, colors, patterns[displayedPattern]);
      }
    }
    return;
  }

  // The live view paints only what changed most of the time; now and then it starts clean.
  int painted = paintCounter.load(std::memory_order_relaxed);
  if (painted >= 100) {
    g.setJColor(JColor::black);
    g.fillRect(x, y, w, h);
    paintCounter.store(0, std::memory_order_relaxed);
  } else {
    paintCounter.store(painted + 1, std::memory_order_relaxed);
  }

  int c = (w - 4) / (activeCount + 1);
  g.setJColor(JColor::black);
  g.fillRect(x, y, c * activeCount + 4, h);
  for (int p = 0; p < activeCount; ++p) bandSets[p].paint(g, x + 2 + p * c, y + 2, c, h - 4, colors);

  // One indicator per pattern, in the column right of the bands, over the middle 90 %.
  const int H = h - 4, T = H * 90 / 100;
  const int X = x + 2 + c * activeCount, W = w - c * activeCount - 4;
  int Y = y + 2 + (H - T) / 2;
  for (int k = 0; k < kPatterns; ++k) {
    int R = T / 10 + (k < T % 10 ? 1 : 0);
    int inset = 0;
    if (k == selectedPattern) {
      g.setJColor(kSelectedColor);
      g.fillRect(X, Y + 1, W, R - 2);
      inset = 3;
    }
    g.setJColor(matched[k] ? kMatchedColor : JColor::blue.darker());
    g.fillRect(X + 2 + inset, Y, W - inset - 2, R);
    Y += R;
  }
}

void JPoseMatcher::draw(JGraphics& g, int x, int y, int w, int h) { drawText(g, JString("sPattern"), JRect(x, y, w, h)); }

LOOMWORK_REGISTER(JPoseMatcher)
