// The picture of a diagram: wires run beneath the faces, never across them.
#include <gtest/gtest.h>

#include "Monitor.h"
#include "Player.h"
#include "Render.h"
#include "loom/JDiagram.h"

TEST(Render, WiresRunBeneathTheFaces) {
  JDiagram d;
  // The Player stands right of the Monitor it feeds: its wire runs back across both faces.
  auto* monitor = static_cast<Monitor*>(d.add(new Monitor(), "mon", JRect(20, 20, 120, 80)));
  auto* player = static_cast<Player*>(d.add(new Player(), "p", JRect(200, 30, 100, 60)));
  d.link(player, 0, monitor, 0);
  JCanvas c = renderDiagram(d);
  const JColor wire(40, 40, 160);
  auto wirePixels = [&](const JRect& r) {
    int n = 0;
    for (int y = r.y; y < r.y + r.height; ++y)
      for (int x = r.x; x < r.x + r.width; ++x) n += c.pixel(x, y) == wire;
    return n;
  };
  EXPECT_GT(wirePixels(JRect(141, 20, 58, 80)), 10) << "the wire between the two";
  EXPECT_EQ(wirePixels(JRect(20, 20, 120, 80)), 0) << "across the Monitor";
  EXPECT_EQ(wirePixels(JRect(200, 30, 100, 60)), 0) << "across the Player";
}
