#pragma once
#include <cstdint>
#include <string>
#include <vector>
#include "gfxkit/JColor.h"
#include "gfxkit/JGeometry.h"

// An RGBA raster that JGraphics draws into and that can be written as a PNG file.
// Pixels are stored row by row, 4 bytes each (r, g, b, a, not premultiplied).
class JCanvas {
public:
  // Every pixel starts as exactly `background` (no blending). Negative sizes count as 0.
  JCanvas(int width, int height, const JColor& background = JColor::white);
  int width() const { return w_; }
  int height() const { return h_; }
  JColor pixel(int x, int y) const;  // black outside the canvas
  // Ignored outside the canvas. Alpha 255 overwrites, 0 does nothing, anything between is drawn
  // over the pixel (source-over compositing, rounded to the nearest value).
  void setPixel(int x, int y, const JColor& c);
  // setPixel for every pixel of r that lies on the canvas (no clip region involved).
  void blendRect(const JRect& r, const JColor& c);
  JRect bounds() const { return JRect(0, 0, w_, h_); }
  const std::vector<uint8_t>& rgba() const { return px_; }

  // Writes the canvas as an 8-bit RGBA PNG; false (with the reason in error) on failure,
  // including for an empty (0-pixel) canvas, which PNG cannot represent.
  bool writePNG(const std::string& path, std::string* error = nullptr) const;
  // Reads a PNG back (for tests and tools), converted to 8-bit RGBA; false on failure (with the
  // reason in error), leaving `out` unchanged. Images over 2^26 pixels are refused.
  static bool readPNG(const std::string& path, JCanvas& out, std::string* error = nullptr);

private:
  int w_, h_;
  std::vector<uint8_t> px_;
};
