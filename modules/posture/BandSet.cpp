#include "BandSet.h"

#include <climits>

#include "JPatternFull.h"

// --- AdvanceDecayActivator ---

void AdvanceDecayActivator::Init(Activatable* t, int ticksToAdvance, int ticksToDecay) {
  target = t;
  ticksNeededToAdvance = ticksToAdvance;
  ticksNeededToDecay = ticksToDecay;
}

void AdvanceDecayActivator::Reset() {
  advanceCount = 0;
  decayCount = 0;
}

bool AdvanceDecayActivator::Activate() {
  if (!target) return false;
  // Leaving level 0 needs no votes: a fresh band shows up at once.
  if (target->AdvanceFromZero()) return true;
  if (++advanceCount < ticksNeededToAdvance) return false;
  bool advanced = target->Advance();
  Reset();
  return advanced;
}

void AdvanceDecayActivator::Deactivate() {
  if (!target) return;
  if (++decayCount >= ticksNeededToDecay) {
    target->Decay();
    Reset();
  }
}

// --- BandActivator ---

BandActivator::BandActivator(const BandActivator& o) : Activatable(o) { *this = o; }

BandActivator& BandActivator::operator=(const BandActivator& o) {
  if (this != &o) {
    color = o.color;
    numberColors = o.numberColors;
    lastPaintColor = o.lastPaintColor;
    activator = o.activator;
    next = o.next;
    prev = o.prev;
    propagationWidth = o.propagationWidth;
    row = o.row;
    if (activator.target == &o) activator.target = this;
  }
  return *this;
}

void BandActivator::Init(int colors, int ticksToAdvance, int ticksToDecay) {
  numberColors = colors;
  activator.Init(this, ticksToAdvance, ticksToDecay);
}

bool BandActivator::AdvanceFromZero() {
  if (color != 0) return false;
  color = 1;
  return true;
}

bool BandActivator::Advance() {
  if (color >= numberColors - 1) return false;
  ++color;
  Propagate();
  return true;
}

void BandActivator::Decay() {
  if (color > 0) --color;
}

bool BandActivator::setMinColor(int c) {
  if (c <= color) return false;
  color = c;
  return true;
}

void BandActivator::Propagate() {
  if (propagationWidth <= 0) return;
  // Walk each way along the whole chain: w bands at color - 1, the next w at color - 2, ...
  BandActivator* column = this - row;  // the column's bands sit in one array
  for (int side = 0; side < 2; ++side) {
    int level = color - 1;
    int steps = 0;
    for (int r = side == 0 ? next : prev; r >= 0 && level > 0; r = side == 0 ? column[r].next : column[r].prev) {
      column[r].setMinColor(level);
      if (++steps == propagationWidth) {
        steps = 0;
        --level;
      }
    }
  }
}

int BandActivator::GetPaintColor() {
  if (color == lastPaintColor) return -1;
  lastPaintColor = color;
  return color;
}

// --- BandSet ---

BandSet::BandSet() { SetupLinks(); }

void BandSet::SetupLinks() {
  for (int i = 0; i < kBands; ++i) {
    bands[i].row = i;
    bands[i].setLinks(i + 1 < kBands ? i + 1 : -1, i - 1);
  }
}

void BandSet::Init(int rows, int colors, int ticksToAdvance, int ticksToDecay) {
  // The chain has 32 bands; more rows than that cannot be in use.
  numberRows = rows < 0 ? 0 : (rows > kBands ? kBands : rows);
  numberColors = colors;
  for (int i = 0; i < numberRows; ++i) bands[i].Init(colors, ticksToAdvance, ticksToDecay);
  updatePropagationWidth();
}

void BandSet::updatePropagationWidth(int w) {
  propagationWidth = w;
  updatePropagationWidth();
}

void BandSet::updatePropagationWidth() {
  for (int i = 0; i < numberRows; ++i) bands[i].updatePropagationWidth(propagationWidth);
}

void BandSet::ActivateRow(int row) {
  if (numberRows <= 0) return;
  if (row >= numberRows) {
    row = numberRows - 1;
  } else if (row < 0) {
    row = 0;
  }
  // A band that just rose leaves the others alone for this tick.
  if (bands[row].Activate()) return;
  for (int i = 0; i < numberRows; ++i)
    if (i != row) bands[i].Deactivate();
}

int BandSet::currentRow() const {
  int best = 0;
  int bestColor = bands[0].color;
  for (int i = 1; i < numberRows; ++i) {
    if (bands[i].color > bestColor) {
      best = i;
      bestColor = bands[i].color;
    }
  }
  return best;
}

int BandSet::getInputValue() const { return numberRows <= 0 ? -1 : currentRow(); }

int BandSet::getDistanceTo(int target, int& drift) const {
  if (target == -1) return numberRows;
  return getDistanceFrom(currentRow(), target, drift);
}

int BandSet::getDistanceFrom(int current, int target, int& drift) const {
  if (target == -1) return numberRows;
  // A row read from a diagram may be any integer, and drift runs on for as long as a posture is
  // held away from the pattern: both are held to the int range instead of wrapping.
  const long long d = static_cast<long long>(current) - target;
  if (d > 0) {
    if (drift < INT_MAX) ++drift;
    return d > INT_MAX ? INT_MAX : static_cast<int>(d);
  }
  if (d < 0) {
    if (drift > INT_MIN) --drift;
    return -d > INT_MAX ? INT_MAX : static_cast<int>(-d);
  }
  if (drift > 0) {
    --drift;
  } else if (drift < 0) {
    ++drift;
  }
  return 0;
}

void BandSet::rowSpan(int r, int y, int h, int& top, int& height) const {
  int hr = h / numberRows;
  int extra = h % numberRows;  // one more pixel on each of the first `extra` rows
  top = y + r * hr + (r < extra ? r : extra);
  height = hr + (r < extra ? 1 : 0);
}

namespace {
int paletteIndex(int level) {
  return level < 0 ? 0 : (level >= BandSet::kPaletteSize ? BandSet::kPaletteSize - 1 : level);
}
}  // namespace

void BandSet::paint(JGraphics& g, int x, int y, int w, int h, const JColor* colors) const {
  if (numberRows <= 0 || w <= 0 || h <= 0) return;
  for (int r = 0; r < numberRows; ++r) {
    int c = bands[r].color;
    if (c <= 0) continue;
    int top, height;
    rowSpan(r, y, h, top, height);
    g.setJColor(colors[paletteIndex(c)]);
    g.fillRect(x, top, w, height);
  }
}

void BandSet::paint(JGraphics& g, int x, int y, int w, int h, const JColor* colors, const JPatternFull& p) const {
  if (numberRows <= 0 || w <= 0 || h <= 0 || id < 0 || id >= JPatternFull::kEntries) return;
  int row = p.values[id];
  if (row < 0 || row >= numberRows) return;
  int top, height;
  rowSpan(row, y, h, top, height);
  g.setJColor(colors[paletteIndex(numberColors - 1)]);
  g.fillRect(x, top, w, height);
}
