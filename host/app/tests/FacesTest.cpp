// Module faces in the pictures of every example: each label's ink stays inside its module's face
// and off the port bars, whatever the class and the size of its rectangle.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "Libraries.h"
#include "Monitor.h"
#include "Timer.h"
#include "loom/JDiagram.h"

namespace fs = std::filesystem;

namespace {
// The bars as the picture draws them, in diagram coordinates.
std::vector<JRect> portBars(JModuleObj& m) {
  std::vector<JRect> bars;
  auto add = [&](const JFRect& a) {
    const int x1 = static_cast<int>(std::floor(m.rect.x + a.x)), y1 = static_cast<int>(std::floor(m.rect.y + a.y));
    const int x2 = static_cast<int>(std::ceil(m.rect.x + a.x + a.width));
    const int y2 = static_cast<int>(std::ceil(m.rect.y + a.y + a.height));
    bars.emplace_back(x1, y1, x2 - x1, y2 - y1);
  };
  for (int i = 0; i < m.inputCount; ++i) add(m.inputArea(i));
  for (int i = 0; i < m.outputCount; ++i) add(m.outputArea(i));
  return bars;
}

// What is wrong with the labels of one module's face ("" when nothing).
std::string labelFaults(JModuleObj& m) {
  JCanvas canvas(m.rect.x + m.rect.width + 10, m.rect.y + m.rect.height + 10, JColor::white);
  JGraphics g(canvas);
  std::vector<JGraphics::DrawnText> drawn;
  g.logTextInto(&drawn);
  JRegion all(JRect(0, 0, canvas.width(), canvas.height()));
  {
    JComponent::Scope scope(&m);
    m.paint(g, 0, 0, all, 1.0);
  }
  std::string faults;
  const JRect face = m.getIExtent(0, 0, 1.0);
  for (const auto& t : drawn) {
    const std::string where = " (" + std::to_string(t.ink.x) + "," + std::to_string(t.ink.y) + " " +
                              std::to_string(t.ink.width) + "x" + std::to_string(t.ink.height) + ")";
    if (t.ink.intersection(face) != t.ink) faults += "\"" + t.text + "\" leaves the face" + where + "; ";
    for (const JRect& bar : portBars(m))
      if (!t.ink.intersection(bar).isEmpty()) {
        faults += "\"" + t.text + "\" crosses a port bar" + where + "; ";
        break;
      }
  }
  return faults;
}
}  // namespace

TEST(Faces, EveryExampleLabelFitsItsFaceAndKeepsOffThePortBars) {
  registerHostModules();
  loadModuleLibraries({LOOMWORK_MODULES_DIR});
  int diagrams = 0, modules = 0;
  for (const auto& e : fs::recursive_directory_iterator(std::string(LOOMWORK_SOURCE_DIR) + "/examples")) {
    if (e.path().extension() != ".lwd" || e.path().parent_path().filename() == "sdk") continue;
    std::unique_ptr<JDiagram> d;
    try {
      d = JDiagram::loadFile(e.path().string());
    } catch (const std::exception& x) {
      ADD_FAILURE() << x.what();
      continue;
    }
    ++diagrams;
    for (JModuleObj* m : d->modules()) {
      ++modules;
      const std::string faults = labelFaults(*m);
      EXPECT_EQ(faults, "") << e.path().filename().string() << ": " << m->id() << " (" << m->className() << ")";
    }
  }
  EXPECT_GE(diagrams, 10);
  EXPECT_GE(modules, 30);
}

// Small faces: a label that has no room is left out rather than drawn across the bars or cut.
TEST(Faces, CrampedFacesKeepTheirLabelsInside) {
  for (const JRect& r : {JRect(0, 0, 80, 30), JRect(0, 0, 40, 20), JRect(0, 0, 200, 14)}) {
    Timer timer;
    timer.rect = r;
    EXPECT_EQ(labelFaults(timer), "") << r.width << "x" << r.height;
    Monitor monitor;
    monitor.rect = r;
    EXPECT_EQ(labelFaults(monitor), "") << r.width << "x" << r.height;
  }
}
