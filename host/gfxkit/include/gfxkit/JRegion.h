#pragma once
#include <vector>
#include "gfxkit/JGeometry.h"

// A set of pixels made of non-overlapping rectangles: the clip of a drawing.
class JRegion {
public:
  JRegion() = default;
  explicit JRegion(const JRect& r);

  bool isEmpty() const { return rects_.empty(); }
  bool contains(int x, int y) const;
  const std::vector<JRect>& rects() const { return rects_; }
  JRect bounds() const;
  long long area() const;

  JRegion& unite(const JRect& r);        // this ∪ r
  JRegion& intersect(const JRect& r);    // this ∩ r
  JRegion& intersect(const JRegion& r);  // this ∩ r
  JRegion& subtract(const JRect& r);     // this \ r
  JRegion& subtract(const JRegion& r);   // this \ r

private:
  std::vector<JRect> rects_;  // disjoint, none empty
};
