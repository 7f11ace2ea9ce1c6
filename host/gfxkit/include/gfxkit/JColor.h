#pragma once
#include "base/JObject.h"

// An RGB colour with alpha; stored in diagrams as {"JColor": [r, g, b]}.
class JColor : public JObject {
public:
  JColor() = default;
  // Each channel is clamped to 0..255. constexpr so the named colours below are constant-
  // initialised (usable from any library's static initialisers).
  constexpr JColor(int r, int g, int b, int a = 255) : r_(clamp(r)), g_(clamp(g)), b_(clamp(b)), a_(clamp(a)) {}

  int getRed() const { return r_; }
  int getGreen() const { return g_; }
  int getBlue() const { return b_; }
  int getAlpha() const { return a_; }
  // r, g and b each times 0.7, truncated (int(c * 0.7)); alpha kept.
  JColor darker() const;
  // Roughly the inverse of darker: r, g and b each divided by 0.7, truncated and capped at 255
  // (int(c / 0.7)); alpha kept. So that repeated calls always progress: black becomes (3, 3, 3),
  // and a channel of 1 or 2 is first raised to 3. Zero channels of a non-black colour stay 0, so
  // the hue is kept (red stays red).
  JColor brighter() const;
  bool operator==(const JColor& o) const { return r_ == o.r_ && g_ == o.g_ && b_ == o.b_ && a_ == o.a_; }
  bool operator!=(const JColor& o) const { return !(*this == o); }

  static const JColor black, white, red, green, blue, yellow, cyan, magenta, orange, pink, gray, lightGray, darkGray;

  const char* className() const override { return "JColor"; }
  JObject* clone() const override { return new JColor(*this); }
  // {"JColor": [r, g, b]}; a translucent colour adds its alpha as a fourth integer.
  JNode toNode() const override;
  // Accepts exactly a map with the one key "JColor" holding 3 integers (alpha 255) or 4 (with
  // alpha), each clamped to 0..255. Anything else returns false and leaves the colour unchanged.
  bool fromNode(const JNode& n) override;

private:
  static constexpr int clamp(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }
  int r_ = 0, g_ = 0, b_ = 0, a_ = 255;
};
