// The wired pair as a user wires it (motion sum into the creator, its output into "create
// pattern"), fed the recording of examples/posture as the example diagram plays it: Player lines
// at their times and a 20 ms timer. The three postures are learned while held still and
// recognised when the person comes back to them.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "JPoseMaker.h"
#include "JPoseMatcher.h"
#include "testing/Harness.h"

TEST(PostureExample, RecordingTeachesThreePostures) {
  std::ifstream csv(std::string(LOOMWORK_SOURCE_DIR) + "/examples/posture/posture.csv");
  ASSERT_TRUE(csv.good());
  struct Line {
    long long at;
    int output, value;
  };
  std::vector<Line> lines;
  std::string text;
  while (std::getline(csv, text) && lines.size() < 100000) {
    Line l{};
    char c1 = 0, c2 = 0;
    std::istringstream in(text);
    ASSERT_TRUE((in >> l.at >> c1 >> l.output >> c2 >> l.value) && c1 == ',' && c2 == ',') << text;
    lines.push_back(l);
  }
  ASSERT_GT(lines.size(), 1000u);

  JTestHarness h;
  auto& pose = h.place<JPoseMatcher>("pose");
  auto& maker = h.place<JPoseMaker>("maker");
  maker.easyToHardPercent = 80;  // as in the diagram's content
  // The player's outputs, in the diagram's wiring.
  const std::pair<JModuleObj*, int> wiredTo[] = {
      {&pose, 0}, {&pose, 1}, {&pose, 2}, {&pose, JPoseMatcher::kCalibrator}, {&maker, JPoseMaker::kEnabled}};
  for (const auto& w : wiredTo) h.sourceFor(*w.first, w.second);
  h.link(pose, JPoseMatcher::kAutoCreateSignal, maker, JPoseMaker::kAutoCreateSignal);
  h.link(maker, 0, pose, JPoseMatcher::kCreatePattern);
  pose.startup();
  maker.startup();

  size_t next = 0;
  int tick = 0;
  for (long long now = 0; next < lines.size() && now < 600000; now += 20) {
    for (; next < lines.size() && lines[next].at <= now; ++next) {
      ASSERT_LT(lines[next].output, 5);
      const auto& w = wiredTo[lines[next].output];
      h.send(*w.first, w.second, lines[next].value);
    }
    if (now > 0) h.send(pose, JPoseMatcher::kTimer, ++tick);
  }
  for (int i = 0; i < 10; ++i) h.send(pose, JPoseMatcher::kTimer, ++tick);

  const int expected[3][3] = {{3, 12, 7}, {12, 3, 13}, {7, 8, 2}};
  for (int k = 0; k < 3; ++k)
    for (int i = 0; i < 3; ++i) EXPECT_EQ(pose.patterns[k].values[i], expected[k][i]) << "pattern " << k;
  EXPECT_FALSE(pose.patterns[3].isSet());

  // The postures a Monitor on "recognized pattern" sees, repeats and zeros left out.
  std::vector<int> seen;
  for (const auto& o : h.outputsOf(pose)) {
    if (o.output != JPoseMatcher::kRecognizedPattern) continue;
    ASSERT_EQ(o.value.type(), JIntegerData::id);
    const int v = o.value.integer();
    if (v != 0 && (seen.empty() || seen.back() != v)) seen.push_back(v);
  }
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 3, 1, 3, 2, 1}));
}
