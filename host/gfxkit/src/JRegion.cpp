#include "gfxkit/JRegion.h"

#include <algorithm>
#include <climits>

namespace {
// Edges are computed in 64 bits (x + width can exceed INT_MAX). The far edge is clamped to the
// int pixel space (last pixel INT_MAX) and so that the width still fits an int.
long long right(const JRect& r) { return static_cast<long long>(r.x) + r.width; }
long long bottom(const JRect& r) { return static_cast<long long>(r.y) + r.height; }

JRect fromEdges(long long x1, long long y1, long long x2, long long y2) {
  constexpr long long kEnd = static_cast<long long>(INT_MAX) + 1;
  x2 = std::min({x2, x1 + INT_MAX, kEnd});
  y2 = std::min({y2, y1 + INT_MAX, kEnd});
  if (x2 <= x1 || y2 <= y1) return JRect();
  return JRect(static_cast<int>(x1), static_cast<int>(y1), static_cast<int>(x2 - x1), static_cast<int>(y2 - y1));
}

// Appends the pixels of a that are not in b: at most four pieces (full-width bands above and
// below b, and the parts left and right of b between them).
void subtractInto(const JRect& a, const JRect& b, std::vector<JRect>& out) {
  JRect common = a.intersection(b);
  if (common.isEmpty()) {
    out.push_back(a);
    return;
  }
  const long long ax2 = right(a), ay2 = bottom(a);
  const long long cx2 = right(common), cy2 = bottom(common);
  auto add = [&](long long x1, long long y1, long long x2, long long y2) {
    JRect r = fromEdges(x1, y1, x2, y2);
    if (!r.isEmpty()) out.push_back(r);
  };
  add(a.x, a.y, ax2, common.y);       // above
  add(a.x, cy2, ax2, ay2);            // below
  add(a.x, common.y, common.x, cy2);  // left
  add(cx2, common.y, ax2, cy2);       // right
}

// Merges rectangles that together form a rectangle (same rows and touching sideways, or same
// columns and touching vertically), so repeated operations do not fragment the region needlessly.
void coalesce(std::vector<JRect>& rects) {
  bool merged = true;
  while (merged) {
    merged = false;
    for (size_t i = 0; i < rects.size() && !merged; ++i) {
      for (size_t j = i + 1; j < rects.size(); ++j) {
        JRect& a = rects[i];
        const JRect& b = rects[j];
        JRect m;
        if (a.y == b.y && a.height == b.height && (right(a) == b.x || right(b) == a.x))
          m = fromEdges(std::min(a.x, b.x), a.y, std::max(right(a), right(b)), bottom(a));
        else if (a.x == b.x && a.width == b.width && (bottom(a) == b.y || bottom(b) == a.y))
          m = fromEdges(a.x, std::min(a.y, b.y), right(a), std::max(bottom(a), bottom(b)));
        else continue;
        // Skip a merge whose size would not fit an int (the clamp in fromEdges shrank it).
        if (static_cast<long long>(m.width) * m.height !=
            static_cast<long long>(a.width) * a.height + static_cast<long long>(b.width) * b.height)
          continue;
        a = m;
        rects.erase(rects.begin() + static_cast<std::ptrdiff_t>(j));
        merged = true;
        break;
      }
    }
  }
}
}  // namespace

JRect JRect::intersection(const JRect& o) const {
  if (isEmpty() || o.isEmpty()) return JRect();
  return fromEdges(std::max(x, o.x), std::max(y, o.y), std::min(right(*this), right(o)),
                   std::min(bottom(*this), bottom(o)));
}

JRect JRect::unionWith(const JRect& o) const {
  if (isEmpty()) return o;
  if (o.isEmpty()) return *this;
  return fromEdges(std::min(x, o.x), std::min(y, o.y), std::max(right(*this), right(o)),
                   std::max(bottom(*this), bottom(o)));
}

JRegion::JRegion(const JRect& r) {
  if (!r.isEmpty()) rects_.push_back(r);
}

bool JRegion::contains(int x, int y) const {
  for (const JRect& r : rects_)
    if (r.contains(x, y)) return true;
  return false;
}

JRect JRegion::bounds() const {
  if (rects_.empty()) return JRect();
  long long x1 = LLONG_MAX, y1 = LLONG_MAX, x2 = LLONG_MIN, y2 = LLONG_MIN;
  for (const JRect& r : rects_) {
    x1 = std::min<long long>(x1, r.x);
    y1 = std::min<long long>(y1, r.y);
    x2 = std::max(x2, right(r));
    y2 = std::max(y2, bottom(r));
  }
  return fromEdges(x1, y1, x2, y2);
}

long long JRegion::area() const {
  long long a = 0;
  for (const JRect& r : rects_) a += static_cast<long long>(r.width) * r.height;
  return a;
}

JRegion& JRegion::unite(const JRect& r) {
  if (r.isEmpty()) return *this;
  // Add only the parts of r not already covered, keeping the rectangles disjoint.
  std::vector<JRect> pieces{r}, next;
  for (const JRect& have : rects_) {
    next.clear();
    for (const JRect& p : pieces) subtractInto(p, have, next);
    pieces.swap(next);
    if (pieces.empty()) return *this;
  }
  rects_.insert(rects_.end(), pieces.begin(), pieces.end());
  coalesce(rects_);
  return *this;
}

JRegion& JRegion::intersect(const JRect& r) {
  std::vector<JRect> out;
  for (const JRect& have : rects_) {
    JRect c = have.intersection(r);
    if (!c.isEmpty()) out.push_back(c);
  }
  rects_.swap(out);
  return *this;
}

JRegion& JRegion::intersect(const JRegion& r) {
  if (&r == this) return *this;
  std::vector<JRect> out;
  for (const JRect& have : rects_)
    for (const JRect& other : r.rects_) {
      JRect c = have.intersection(other);
      if (!c.isEmpty()) out.push_back(c);
    }
  rects_.swap(out);
  coalesce(rects_);
  return *this;
}

JRegion& JRegion::subtract(const JRect& r) {
  if (r.isEmpty()) return *this;
  std::vector<JRect> out;
  for (const JRect& have : rects_) subtractInto(have, r, out);
  rects_.swap(out);
  coalesce(rects_);
  return *this;
}

JRegion& JRegion::subtract(const JRegion& r) {
  if (&r == this) {
    rects_.clear();
    return *this;
  }
  for (const JRect& other : r.rects_) subtract(other);
  return *this;
}
