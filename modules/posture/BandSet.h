#pragma once
// Band columns: each sensor channel of the posture recognizer becomes a column of rows (bands).
// The band at the channel's current row climbs one level at a time, the others decay, and a
// rising band lifts its neighbours so the column forms a peak around the recent value.
#include "gfxkit/JColor.h"
#include "gfxkit/JGraphics.h"

class JPatternFull;

// Something that an AdvanceDecayActivator moves up and down.
class Activatable {
public:
  virtual ~Activatable() = default;
  virtual bool AdvanceFromZero() = 0;
  virtual bool Advance() = 0;
  virtual void Decay() = 0;
};

// Counts activations and deactivations so that a band moves only after enough of one kind
// (hysteresis against a noisy channel).
class AdvanceDecayActivator {
public:
  void Init(Activatable* target, int ticksToAdvance, int ticksToDecay);
  void Reset();
  bool Activate();
  void Deactivate();

  Activatable* target = nullptr;  // not owned
  int ticksNeededToAdvance = 0;
  int advanceCount = 0;
  int ticksNeededToDecay = 0;
  int decayCount = 0;
};

// One band (row) of a column. Its neighbours are rows of the same column, by index (-1: none),
// so a copied column is chained to its own bands as it stands.
class BandActivator : public Activatable {
public:
  BandActivator() = default;
  // The activator keeps driving the band it belongs to: a copy that advanced its source would be
  // a dangling write once the source is gone.
  BandActivator(const BandActivator& o);
  BandActivator& operator=(const BandActivator& o);

  void Init(int numberColors, int ticksToAdvance, int ticksToDecay);
  bool Activate() { return activator.Activate(); }
  void Deactivate() { activator.Deactivate(); }
  bool AdvanceFromZero() override;
  bool Advance() override;
  void Decay() override;
  bool setMinColor(int c);
  void Propagate();
  int GetCurrentColor() const { return color; }
  int GetPaintColor();
  void setLinks(int nextRow, int prevRow) {
    next = nextRow;
    prev = prevRow;
  }
  void updatePropagationWidth(int w) { propagationWidth = w; }

  int color = 0;
  int numberColors = 0;
  int lastPaintColor = -1;
  int row = 0;  // this band's own index in its column, from which the neighbours are found
  AdvanceDecayActivator activator;
  int next = -1;
  int prev = -1;
  int propagationWidth = 0;
};

// The column of one channel: 32 chained bands of which the first numberRows are in use.
class BandSet {
public:
  static constexpr int kBands = 32;
  static constexpr int kPaletteSize = 16;  // entries of the colour table paint() is handed

  BandSet();

  void SetupLinks();  // chains all 32 bands; the constructor does it, copies keep the chain
  void Init(int rows, int colors, int ticksToAdvance, int ticksToDecay);
  void updatePropagationWidth(int w);
  void ActivateRow(int row);
  int getInputValue() const;
  int getDistanceTo(int target, int& drift) const;
  // getDistanceTo for a current row already known (the recognizer reads each column once per
  // tick and compares it with every pattern).
  int getDistanceFrom(int current, int target, int& drift) const;
  void paint(JGraphics& g, int x, int y, int w, int h, const JColor* colors) const;
  void paint(JGraphics& g, int x, int y, int w, int h, const JColor* colors, const JPatternFull& p) const;
  void setId(int i) { id = i; }
  int getId() const { return id; }
  void debugOn() { debug = true; }

  BandActivator bands[kBands];
  int numberRows = 0;
  int numberColors = 0;
  int propagationWidth = 0;
  bool debug = false;
  int id = 0;

private:
  void updatePropagationWidth();
  int currentRow() const;  // row 0 when no row is in use
  // Top and height of row r when h pixels are split over numberRows rows.
  void rowSpan(int r, int y, int h, int& top, int& height) const;
};
