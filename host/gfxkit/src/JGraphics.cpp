#include "gfxkit/JGraphics.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

JGraphics::JGraphics(JCanvas& canvas) : canvas_(canvas), clip_(canvas.bounds()) {}

void JGraphics::setClip(const JRegion& clip) {
  clip_ = clip;
  clip_.intersect(canvas_.bounds());
}

void JGraphics::setClip(const JRect& clip) { setClip(JRegion(clip)); }

void JGraphics::fillRect(int x, int y, int w, int h) {
  const JRect r(x, y, w, h);
  if (r.isEmpty()) return;
  // The clip rectangles are disjoint, so every pixel is blended once.
  for (const JRect& c : clip_.rects()) canvas_.blendRect(r.intersection(c), color_);
}

void JGraphics::fill3DJRect(const JRect& r, bool raised, int depth) {
  if (r.isEmpty()) return;
  const JColor face = color_;
  const JColor light = raised ? face.brighter() : face.darker();
  const JColor dark = raised ? face.darker() : face.brighter();
  depth = std::max(depth, 0);
  int rings = 0;
  for (; rings < depth; ++rings) {
    const JRect q = r.shrink(rings);
    if (q.isEmpty()) break;
    color_ = light;
    fillRect(q.x, q.y, q.width - 1, 1);                        // top, without its last pixel
    if (q.width > 1) fillRect(q.x, q.y + 1, 1, q.height - 2);  // left, without either end
    color_ = dark;
    fillRect(q.x + q.width - 1, q.y, 1, q.height);                        // right, in full
    if (q.height > 1) fillRect(q.x, q.y + q.height - 1, q.width - 1, 1);  // bottom
  }
  color_ = face;
  if (rings == depth) fillJRect(r.shrink(depth));
}

void JGraphics::drawRect(int x, int y, int w, int h) {
  if (w <= 0 || h <= 0) return;
  const long long right = static_cast<long long>(x) + w - 1, bottom = static_cast<long long>(y) + h - 1;
  fillRect(x, y, w, 1);
  if (h > 1) fillRect(x, static_cast<int>(bottom), w, 1);
  if (h > 2) {
    fillRect(x, y + 1, 1, h - 2);
    if (w > 1) fillRect(static_cast<int>(right), y + 1, 1, h - 2);
  }
}

void JGraphics::drawLine(int x1, int y1, int x2, int y2) {
  if (clip_.isEmpty()) return;
  const long long dx = static_cast<long long>(x2) - x1, dy = static_cast<long long>(y2) - y1;
  const bool xMajor = std::llabs(dx) >= std::llabs(dy);
  // Walk the major axis one pixel per step; the minor coordinate at step k is the nearest pixel
  // to the ideal line (the midpoint/Bresenham choice), computed in closed form so that steps
  // outside the clip's bounds can be skipped without changing which pixels are drawn.
  const long long m0 = xMajor ? x1 : y1, n0 = xMajor ? y1 : x1;
  const long long md = xMajor ? dx : dy, nd = xMajor ? dy : dx;
  const long long steps = std::llabs(md), minorSteps = std::llabs(nd);
  const int sm = md < 0 ? -1 : 1, sn = nd < 0 ? -1 : 1;

  const JRect b = clip_.bounds();
  const long long lo = xMajor ? b.x : b.y;
  const long long hi = lo + (xMajor ? b.width : b.height) - 1;
  long long kFrom = sm > 0 ? lo - m0 : m0 - hi;
  long long kTo = sm > 0 ? hi - m0 : m0 - lo;
  kFrom = std::max(kFrom, 0LL);
  kTo = std::min(kTo, steps);
  for (long long k = kFrom; k <= kTo; ++k) {
    long long off = 0;
    if (steps > 0)
      off = static_cast<long long>((static_cast<__int128>(2) * k * minorSteps + steps) /
                                   (static_cast<__int128>(2) * steps));
    const long long m = m0 + sm * k, n = n0 + sn * off;
    const long long px = xMajor ? m : n, py = xMajor ? n : m;
    if (px < INT_MIN || px > INT_MAX || py < INT_MIN || py > INT_MAX) continue;
    if (clip_.contains(static_cast<int>(px), static_cast<int>(py)))
      canvas_.setPixel(static_cast<int>(px), static_cast<int>(py), color_);
  }
}

std::string JGraphics::defaultFontPath() {
  const char* env = std::getenv("LOOMWORK_FONT");
  if (env && *env) return env;
  return "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
}
