#pragma once
// Integer and floating rectangles and points.

class JRect {
public:
  int x = 0, y = 0, width = 0, height = 0;
  JRect() = default;
  JRect(int x_, int y_, int w_, int h_) : x(x_), y(y_), width(w_), height(h_) {}
  bool isEmpty() const { return width <= 0 || height <= 0; }
  bool contains(int px, int py) const {
    return px >= x && py >= y && px < static_cast<long long>(x) + width && py < static_cast<long long>(y) + height;
  }
  // The common pixels; an empty JRect() when there are none (or either rect is empty).
  JRect intersection(const JRect& o) const;
  // The smallest rect holding both (the other one when either is empty).
  JRect unionWith(const JRect& o) const;
  JRect shrink(int d) const { return JRect(x + d, y + d, width - 2 * d, height - 2 * d); }
  bool operator==(const JRect& o) const { return x == o.x && y == o.y && width == o.width && height == o.height; }
  bool operator!=(const JRect& o) const { return !(*this == o); }
};

class JFRect {
public:
  double x = 0, y = 0, width = 0, height = 0;
  JFRect() = default;
  JFRect(double x_, double y_, double w_, double h_) : x(x_), y(y_), width(w_), height(h_) {}
  bool operator==(const JFRect& o) const { return x == o.x && y == o.y && width == o.width && height == o.height; }
};

class JFPoint {
public:
  double x = 0, y = 0;
  JFPoint() = default;
  JFPoint(double x_, double y_) : x(x_), y(y_) {}
  bool operator==(const JFPoint& o) const { return x == o.x && y == o.y; }
};
