// What tests compare broadcasts with: values of their own kind, each with its output.
#include <gtest/gtest.h>

#include "testing/Harness.h"

namespace {
// Three outputs: an integer, a text and bytes, each sending what the test put there.
class JThreeKinds : public JModuleObj {
public:
  JThreeKinds() {
    static const JPortTable kNone;
    static const JPortTable kOut{
        {kSideRight, 0.1, 0.8, {{"i", JIntegerData::id}, {"s", JStringData::id}, {"b", JBytesData::id}}}};
    setPorts(kNone, kOut);
  }
  const char* className() const override { return "JThreeKinds"; }
  JObject* clone() const override { return new JThreeKinds(*this); }
  void access(int n, JLinkObj&, const JDataType& data) override {
    if (n >= 0 && n < 3) values[n].fill(data);
  }
  void send(int n, const JWireValue& v) {
    values[n] = v;
    broadcast(n);
  }
  JWireValue values[3] = {JWireValue::ofInteger(0), JWireValue::ofText(""), JWireValue::ofBytes(JBlock())};
};
}  // namespace

TEST(HarnessOutputs, CompareValuesOfTheirOwnKindInOrder) {
  JTestHarness h;
  auto& m = h.place<JThreeKinds>("three");
  auto& other = h.place<JThreeKinds>("other");
  m.send(0, JWireValue::ofInteger(55));
  other.send(0, JWireValue::ofInteger(1));
  m.send(1, JWireValue::ofText("5"));
  m.send(2, JWireValue::ofBytes(JBlock("\x00\xff", 2)));
  m.send(0, JWireValue::ofInteger(-7));

  EXPECT_EQ(h.outputsOf(m), (Outputs{{0, 55}, {1, "5"}, {2, JBlock("\x00\xff", 2)}, {0, -7}}));
  EXPECT_EQ(h.outputsOf(other), (Outputs{{0, 1}}));
  // Texts written any way compare alike; the kind counts, and so does the output.
  EXPECT_EQ(h.outputsOf(m)[1], (JTestHarness::Output{1, std::string("5")}));
  EXPECT_EQ(h.outputsOf(m)[1], (JTestHarness::Output{1, JString("5")}));
  EXPECT_NE(h.outputsOf(m)[1], (JTestHarness::Output{1, 5}));
  EXPECT_NE(h.outputsOf(m)[0], (JTestHarness::Output{1, 55}));
  EXPECT_NE(h.outputsOf(m)[2], (JTestHarness::Output{2, "\x00\xff"}));
  EXPECT_NE(h.outputsOf(m), (Outputs{{0, 55}, {1, "5"}, {2, JBlock("\x00\xff", 2)}}));
  h.clear();
  EXPECT_TRUE(h.outputsOf(m).empty());
}

TEST(HarnessOutputs, AFailurePrintsEachValueAsTheTraceWould) {
  const Outputs outputs{{12, 55}, {0, "a \"b\""}, {3, JBlock("\x00\xff", 2)}, {4, JBlock()}};
  EXPECT_EQ(::testing::PrintToString(outputs), "{ {12, 55}, {0, \"a \\\"b\\\"\"}, {3, 0x00ff}, {4, 0x} }");
}
