#include "Render.h"

#include <algorithm>

#include "base/JFiles.h"

namespace {
constexpr int kMargin = 10;

JFPoint absolute(const JModuleObj& m, const JFPoint& p) { return JFPoint(m.rect.x + p.x, m.rect.y + p.y); }

}  // namespace

// Ports: small dark boxes where the module puts them, a pixel apart.
void drawPortMarks(JGraphics& g, JModuleObj& m, int x, int y) {
  g.setJColor(JColor::darkGray);
  auto mark = [&](const JFRect& a) {
    int px = x + static_cast<int>(a.x), py = y + static_cast<int>(a.y);
    int w = std::max(1, static_cast<int>(a.width)), h = std::max(1, static_cast<int>(a.height));
    if (w > h && w > 2) {  // along a top or bottom side
      ++px;
      w -= 2;
    } else if (h > 2) {
      ++py;
      h -= 2;
    }
    g.fillRect(px, py, w, h);
  };
  for (int i = 0; i < m.inputCount; ++i) mark(m.inputArea(i));
  for (int i = 0; i < m.outputCount; ++i) mark(m.outputArea(i));
}

JCanvas renderDiagram(JDiagram& d) {
  int w = 1, h = 1;
  for (JModuleObj* m : d.modules()) {
    w = std::max(w, m->rect.x + m->rect.width + kMargin);
    h = std::max(h, m->rect.y + m->rect.height + kMargin);
  }
  w = std::min(w, 16384);
  h = std::min(h, 16384);
  JCanvas canvas(w, h, JColor(245, 245, 240));
  JGraphics g(canvas);
  JRegion all(JRect(0, 0, w, h));
  // Wires first: the faces drawn after them cover whatever part of a wire runs beneath a module.
  g.setJColor(JColor(40, 40, 160));
  for (const auto& l : d.links()) {
    JFPoint a = absolute(*l->from, l->from->outputPoint(l->fromPort, *l));
    JFPoint b = absolute(*l->to, l->to->inputPoint(l->toPort, *l));
    g.drawLine(static_cast<int>(a.x), static_cast<int>(a.y), static_cast<int>(b.x), static_cast<int>(b.y));
  }
  for (JModuleObj* m : d.modules()) {
    JComponent::Scope scope(m);
    JRegion clip(all);
    clip.intersect(m->getExtent(0, 0, 1.0));
    m->paint(g, 0, 0, clip, 1.0);
    g.setClip(all);
    drawPortMarks(g, *m, m->rect.x, m->rect.y);
  }
  return canvas;
}

bool writeDiagramPicture(JDiagram& d, const std::string& path, std::string& error) {
  JCanvas canvas = renderDiagram(d);
  JReplacingFile file(path);
  if (!file.open(error)) return false;
  std::string why;
  if (!canvas.writePNG(file.writePath(), &why)) {
    // The image library names the file it was given, which may be the temporary's.
    const std::string named = file.writePath() + ": ";
    if (why.compare(0, named.size(), named) == 0) why.erase(0, named.size());
    error = "cannot write the picture: " + why;
    return false;
  }
  return file.commit(error);
}

void drawHostLabel(JModuleObj& m, JGraphics& g, const JString& text, int x, int y, int w, int h, int row, int rows) {
  constexpr int kRow = 15;     // 80 % of it is the 12-pixel label size
  constexpr int kMinRow = 10;  // the smallest row whose text is still read (8 pixels)
  constexpr int kInset = 9;    // the port marks (6 pixels) and a little air
  // Rows share the height, each up to kRow; rows that have no room left are left out, never cut.
  const int fit = std::min(rows, h / kMinRow);
  if (row < 0 || row >= fit) return;
  const int rowHeight = std::min(kRow, h / fit);
  const int top = y + (h - fit * rowHeight) / 2;
  m.drawText(g, text, JRect(x + kInset, top + row * rowHeight, std::max(1, w - 2 * kInset), rowHeight));
}
