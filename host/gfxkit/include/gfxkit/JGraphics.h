#pragma once
#include <string>
#include <vector>

#include "gfxkit/JCanvas.h"
#include "gfxkit/JColor.h"
#include "gfxkit/JGeometry.h"
#include "gfxkit/JRegion.h"

// Drawing onto a canvas in the current colour, clipped to a region.
class JGraphics {
public:
  explicit JGraphics(JCanvas& canvas);  // clip: the whole canvas

  void setJColor(const JColor& c) { color_ = c; }
  const JColor& getJColor() const { return color_; }
  void setClip(const JRegion& clip);  // clipped further to the canvas
  void setClip(const JRect& clip);
  const JRegion& getClip() const { return clip_; }

  // Every drawing call below blends the current colour (see JCanvas::setPixel) into the pixels
  // it covers that lie in the clip; each pixel is drawn at most once per call.

  // The pixels x..x+w-1, y..y+h-1; nothing when w or h <= 0.
  void fillRect(int x, int y, int w, int h);
  void fillJRect(const JRect& r) { fillRect(r.x, r.y, r.width, r.height); }
  // A raised (or sunken) box: the face in the current colour, a border `depth` pixels wide,
  // lighter on the top and left and darker on the bottom and right (swapped when sunken).
  // Exactly: light = colour.brighter(), dark = colour.darker(). Ring i (0 = outermost, i < depth)
  // is the outline of r.shrink(i): its top row and left column are light except for their last
  // pixel, its bottom row and right column are dark in full; so the top-left corner pixel of a
  // ring is light and its other three corners are dark (raised). Sunken swaps light and dark.
  // The face is r.shrink(depth). Rings that would be empty are skipped; depth <= 0 gives a plain
  // fill.
  void fill3DJRect(const JRect& r, bool raised = true, int depth = 2);
  // One-pixel outline of the pixels x..x+w-1, y..y+h-1 (the same pixels fillRect's border would
  // cover; not one pixel wider). Nothing when w or h <= 0.
  void drawRect(int x, int y, int w, int h);
  // Both end points included; one pixel per step along the longer axis, the other coordinate
  // rounded to the nearest pixel (halves away from the start point), as Bresenham's algorithm.
  void drawLine(int x1, int y1, int x2, int y2);

  // Text in the current colour, centred in r, sized to fit its height; nothing is drawn (and
  // false returned) when the font cannot be loaded.
  // The text is UTF-8. The pixel size is 80% of r's height (at least 6, at most 256), reduced
  // until the text fits r's width (never below 6: a longer text is cut at both ends). Glyphs are
  // anti-aliased, clipped to the clip region and to r. Thread-safe; each font file is loaded
  // once per process.
  bool drawText(const std::string& text, const JRect& r);

  // What drawText put down, for checks of a picture's layout: the text and the box of its ink as
  // laid out, before any clipping (so a label cut by its rectangle or the clip shows it).
  struct DrawnText {
    std::string text;
    JRect ink;
  };
  // Each drawText call then appends to `log` (nullptr: nothing is kept, the default).
  void logTextInto(std::vector<DrawnText>* log) { textLog_ = log; }

  // The font file drawText uses: LOOMWORK_FONT when set and not empty, otherwise
  // /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf. Read at every drawText call.
  static std::string defaultFontPath();
  // Makes this JGraphics draw text with the given font file instead; "" restores the default.
  void setFontPath(const std::string& path) { fontPath_ = path; }
  const std::string& fontPath() const { return fontPath_; }

  JCanvas& canvas() { return canvas_; }

private:
  JCanvas& canvas_;
  JColor color_ = JColor::black;
  JRegion clip_;
  std::string fontPath_;
  std::vector<DrawnText>* textLog_ = nullptr;
};
