// The Player's "outputs" changed while it plays (from the canvas, say): the file is played again
// from the start with the new types, a file the new types cannot play stops it with a line, and
// a text that is no list of types leaves the ports as they are. Never a value on a port that is gone.
#include <gtest/gtest.h>

#include "Player.h"
#include "base/JClock.h"
#include "testing/Harness.h"
#include "testing/TempFolder.h"

namespace {
void advance(JTestHarness& h, JClock::Manual& clock, long long ms) {
  for (long long i = 0; i < ms; ++i) {
    clock.advance(1);
    h.runPending();
  }
}
}  // namespace

TEST(Player, OutputsChangedWhilePlaying) {
  TempFolder dir;
  JClock::Manual clock(1000);
  JTestHarness h;
  auto& p = h.place<Player>("p");
  p.file = dir.write("v.csv", "0,0,1\n100,1,2\n100000,1,3\n");
  p.outputs = "ii";
  p.applyOutputs();
  std::string error;
  ASSERT_TRUE(p.prepareRun(error)) << error;
  p.startup();
  advance(h, clock, 150);
  ASSERT_EQ(h.broadcastsOf(p).size(), 2u);

  JStringProperty three("outputs", "iii");
  ASSERT_TRUE(p.updateProperty(three));
  EXPECT_EQ(p.outputCount, 3);
  advance(h, clock, 150);
  const auto all = h.broadcastsOf(p);
  ASSERT_EQ(all.size(), 4u) << "played again from the start";
  EXPECT_EQ(all[2].output, 0);
  EXPECT_EQ(all[3].output, 1);

  JStringProperty bad("outputs", "q");
  {
    JComponent::Scope scope(&p);
    ASSERT_TRUE(p.updateProperty(bad));
  }
  EXPECT_EQ(p.outputCount, 3) << "the ports stay";

  JStringProperty one("outputs", "i");  // the file plays output 1, which is gone now
  {
    JComponent::Scope scope(&p);
    ASSERT_TRUE(p.updateProperty(one));
  }
  EXPECT_EQ(p.outputCount, 1);
  const auto lines = h.debugLines();
  h.clear();
  advance(h, clock, 200000);
  EXPECT_TRUE(h.broadcastsOf(p).empty());
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].rfind("p: outputs: ", 0), 0u) << lines[0];
  EXPECT_NE(lines[1].find("v.csv: error: line 2"), std::string::npos) << lines[1];
}
