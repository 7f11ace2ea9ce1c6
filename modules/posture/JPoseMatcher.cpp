#include "JPoseMatcher.h"

#include <climits>
#include <cstdlib>

namespace {
const JPortTable kInputs{{kSideLeft, 0.1, 0.8, portsOf(JPoseMatcher::kInputTags, 0, JPoseMatcher::kChannels)},
                         {kSideTop, 0.1, 0.8, portsOf(JPoseMatcher::kInputTags, JPoseMatcher::kTimer, 12)}};
// The flags' areas span 0.05 to 0.95 of the side, their link points 0.1 to 0.9.
const JPortTable kOutputs{
    {kSideRight, 0.05, 0.9, portsOf(JPoseMatcher::kOutputTags, 0, JPoseMatcher::kPatterns), 6, 0.1, 0.8},
    {kSideBottom, 0.25, 0.5, portsOf(JPoseMatcher::kOutputTags, JPoseMatcher::kRecognizedPattern, 2)}};

// Level colours as the module starts; all count as set by the user.
const JColor kInitialColors[JPoseMatcher::kLevels] = {
    JColor::black,         JColor(10, 10, 10),   JColor(23, 13, 34),   JColor(46, 26, 68),
    JColor(69, 39, 102),   JColor(92, 52, 136),  JColor(118, 69, 170), JColor(118, 69, 170),
    JColor(152, 70, 174),  JColor(186, 71, 178), JColor(222, 72, 183), JColor(228, 108, 147),
    JColor(234, 144, 111), JColor(240, 180, 75), JColor(246, 216, 39), JColor::yellow};

const JColor kSelectedColor(255, 0, 200);
const JColor kMatchedColor(101, 255, 183);

// Black marks a level colour as not set (alpha plays no part).
bool isBlack(const JColor& c) { return c.getRed() == 0 && c.getGreen() == 0 && c.getBlue() == 0; }
std::string colorKey(int level) { return keyOf("color", level); }

// Level colour `level` as the dialog offers it: a derived colour shows as black. An edit makes it
// a user colour; level 0 is never painted and takes none.
JSetting levelColour(int level) {
  return JSetting::custom<JPoseMatcher>(
             JSetting::kColour, colorKey(level).c_str(),
             [level](const JPoseMatcher& m, int) {
               JSettingValue v;
               v.color = m.derivedColor[level] ? JColor::black : m.colors[level];
               return v;
             },
             [level](JPoseMatcher& m, int, const JSettingValue& v) {
               if (level == 0) return;
               m.colors[level] = v.color;
               m.derivedColor[level] = false;
             })
      .init(kInitialColors[level])
      .notStored()
      .onChange<JPoseMatcher>([level](JPoseMatcher& m, int) { m.colourEdited(level); });
}

// Settings, in stored order; the level colours are stored first but offered last. Rows and
// colours size the band columns and divide: a value outside their range is left out, and a
// stored 0 keeps what the module held. A missing tick count reads as 0 as other numbers do.
const JSettings kSettings{
    JSetting::block<JPoseMatcher>("color0..color15", &JPoseMatcher::writeColours, &JPoseMatcher::readColours),
    JSetting::block<JPoseMatcher>("min0, max0 .. min9, max9", &JPoseMatcher::writeRanges, &JPoseMatcher::readRanges),
    JSetting::integer("numberRows", &JPoseMatcher::numberRows)
        .init(16)
        .range(2, BandSet::kBands, JOutOfRange::kIgnore)
        .storedZeroKeeps()
        .onChange(&JPoseMatcher::updateBands),
    JSetting::integer("numberColors", &JPoseMatcher::numberColors)
        .init(16)
        .range(1, JPoseMatcher::kLevels, JOutOfRange::kIgnore)
        .storedZeroKeeps()
        .onChange(&JPoseMatcher::updateBands),
    JSetting::integer("ticksNeededToAdvance", &JPoseMatcher::ticksNeededToAdvance)
        .init(1)
        .range(1, 100, JOutOfRange::kIgnore)
        .whenMissing(0)
        .onChange(&JPoseMatcher::updateBands),
    JSetting::integer("ticksNeededToDecay", &JPoseMatcher::ticksNeededToDecay)
        .init(1)
        .range(1, 100, JOutOfRange::kIgnore)
        .whenMissing(0)
        .onChange(&JPoseMatcher::updateBands),
    JSetting::flag("calibrated", &JPoseMatcher::calibrated).init(0).notProperty(),
    JSetting::integer("percentPropagationWidth", &JPoseMatcher::percentPropagationWidth)
        .init(100)
        .range(0, 100, JOutOfRange::kClamp)
        .notProperty(),
    JSetting::flag("adaptationEnabled", &JPoseMatcher::adaptationEnabled).init(1),
    JSetting::integer("adaptationSpeed", &JPoseMatcher::adaptationSpeed).init(30).range(0, 100, JOutOfRange::kIgnore),
    JSetting::integer("accuracyPercent", &JPoseMatcher::accuracyPercent)
        .init(80)
        .range(0, 100, JOutOfRange::kClamp)
        .onChange(&JPoseMatcher::updateErrorThreshold),
    JSetting::block<JPoseMatcher>("v-0..v-909", &JPoseMatcher::writePatterns, &JPoseMatcher::readPatterns),
    levelColour(0),
    levelColour(1),
    levelColour(2),
    levelColour(3),
    levelColour(4),
    levelColour(5),
    levelColour(6),
    levelColour(7),
    levelColour(8),
    levelColour(9),
    levelColour(10),
    levelColour(11),
    levelColour(12),
    levelColour(13),
    levelColour(14),
    levelColour(15),
};
static_assert(JPoseMatcher::kLevels == 16, "one colour row per level");
}  // namespace

std::atomic<int> JPoseMatcher::paintCounter{0};

JPoseMatcher::JPoseMatcher() {
  setPorts(kInputs, kOutputs);
  setSettings(kSettings);
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

// Level 0 is offered with the others but never painted: an edit of it is not taken.
bool JPoseMatcher::updateProperty(JProperty& p) {
  return p.getName().str() != colorKey(0) && JAddObj::updateProperty(p);
}

// The derived levels around an edited user colour are refilled unless it was set to black.
void JPoseMatcher::colourEdited(int level) {
  if (level < 1 || level >= kLevels) return;
  lastEditedColor = level;
  if (!isBlack(colors[level])) InterpolateColors();
  updateBands();
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
        colors[pendingFrom + m] = JColor(prev.getRed() + m * dr, prev.getGreen() + m * dg, prev.getBlue() + m * db);
        derivedColor[pendingFrom + m] = true;
      }
      pendingFrom = -1;
    }
    prev = next;
  }
}

// --- persistence ---

void JPoseMatcher::writeColours(JOutputStream& os) const {
  for (int i = 0; i < kLevels; ++i) putObject(os, colorKey(i).c_str(), derivedColor[i] ? JColor::black : colors[i]);
}

// A missing or unusable colour keeps the colour; derived ones are filled in again after loading.
void JPoseMatcher::readColours(JDictionary& dict) { getObjects(dict, "color", colors, kLevels); }

void JPoseMatcher::writeRanges(JOutputStream& os) const {
  for (int j = 0; j < kChannels; ++j) {
    putInteger(os, keyOf("min", j).c_str(), channelMin[j]);
    putInteger(os, keyOf("max", j).c_str(), channelMax[j]);
  }
}

void JPoseMatcher::readRanges(JDictionary& dict) {
  for (int j = 0; j < kChannels; ++j) {
    channelMin[j] = getInteger(dict, keyOf("min", j).c_str(), 0);
    channelMax[j] = getInteger(dict, keyOf("max", j).c_str(), 0);
  }
}

void JPoseMatcher::writePatterns(JOutputStream& os) const {
  for (int k = 0; k < kPatterns; ++k)
    for (int i = 0; i < JPatternFull::kEntries; ++i)
      putInteger(os, keyOf("v-", k * 100 + i).c_str(), patterns[k].values[i]);
}

// A missing entry reads as row 0; an unset one was stored as -1.
void JPoseMatcher::readPatterns(JDictionary& dict) {
  for (int k = 0; k < kPatterns; ++k)
    for (int i = 0; i < JPatternFull::kEntries; ++i)
      patterns[k].values[i] = getInteger(dict, keyOf("v-", k * 100 + i).c_str(), 0);
}

// Steps, band settings, propagation and derived colours follow what was loaded.
void JPoseMatcher::readContent(JDictionary& dict) {
  JAddObj::readContent(dict);
  for (int j = 0; j < kChannels; ++j)
    channelStep[j] = saturate((static_cast<long long>(channelMax[j]) - channelMin[j]) / numberRows);
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
    case kTimer: tick(); break;
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
    default: break;
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
  for (int i = 0; i < JPatternFull::kEntries; ++i) patterns[selectedPattern].values[i] = bandSets[i].getInputValue();
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

void JPoseMatcher::draw(JGraphics& g, int x, int y, int w, int h) {
  drawText(g, JString("sPattern"), JRect(x, y, w, h));
}

LOOMWORK_REGISTER(JPoseMatcher)
