// The module kit: ports declared once, checked property edits.
#include <gtest/gtest.h>

#include "TestModules.h"
#include "loom/JPorts.h"
#include "testing/Harness.h"

namespace {
const JPortTable kIn{{kSideLeft, 0.1, 0.8, {"a", {"b", JStringData::id}}}, {kSideTop, 0.25, 0.5, {"c"}}};
const JPortTable kOut{{kSideRight, 0.05, 0.9, {"x", "y"}, 6, 0.1, 0.8},
                      {kSideBottom, 0.25, 0.5, {{"z", JBytesData::id}}}};

class Tabled : public JAddObj {
public:
  Tabled() { setPorts(kIn, kOut); }
  const char* className() const override { return "Tabled"; }
  JObject* clone() const override { return new Tabled(*this); }
};
}  // namespace

TEST(PortTable, CountsTagsTypesFacesAndGeometryComeFromOneTable) {
  Tabled m;
  m.rect = JRect(0, 0, 200, 100);
  EXPECT_EQ(m.inputCount, 3);
  EXPECT_EQ(m.outputCount, 3);
  const char* inTags[] = {"a", "b", "c"};
  const int inTypes[] = {JIntegerData::id, JStringData::id, JIntegerData::id};
  const int inFaces[] = {kSideLeft, kSideLeft, kSideTop};
  for (int n = 0; n < 3; ++n) {
    EXPECT_EQ(m.inputTag(n), JString(inTags[n]));
    EXPECT_EQ(m.inputType(n), inTypes[n]);
    EXPECT_EQ(m.inputFace(n), inFaces[n]);
  }
  EXPECT_EQ(m.inputArea(1), m.leftArea(1, 0, 2, 0.1, 0.8, 6));
  EXPECT_EQ(m.inputArea(2), m.topArea(2, 2, 1, 0.25, 0.5, 6));
  // A group whose area and link point use different fractions.
  EXPECT_EQ(m.outputArea(1), m.rightArea(1, 0, 2, 0.05, 0.9, 6));
  JLinkObj link(&m, 1, nullptr, 0);
  EXPECT_EQ(m.outputPoint(1, link), m.rightPoint(1, link, 0, 2, 0.1, 0.8));
  EXPECT_EQ(m.outputPoint(2, link), m.bottomPoint(2, link, 2, 1, 0.25, 0.5));
  EXPECT_EQ(m.outputType(2), JBytesData::id);
  EXPECT_EQ(m.outputFace(2), kSideBottom);
  // Past the table: an empty tag, the integer type, no area.
  EXPECT_EQ(m.outputTag(3), JString());
  EXPECT_EQ(m.outputArea(7), JFRect());
  // A clone declares the same ports.
  std::unique_ptr<JModuleObj> c(static_cast<JModuleObj*>(m.clone()));
  EXPECT_EQ(c->inputCount, 3);
  EXPECT_EQ(c->outputTag(2), JString("z"));
}

TEST(PortTable, EachTabledInputTakesOneLink) {
  JTestHarness h;
  auto& a = h.place<Tabled>("a");
  auto& b = h.place<Tabled>("b");
  h.link(a, 0, b, 0);
  EXPECT_FALSE(b.inputAllowed(0));
  EXPECT_TRUE(b.inputAllowed(2));
  EXPECT_THROW(h.link(b, 0, b, 0), JDiagramError);
  h.link(a, 0, b, 2);  // an output takes any number
  EXPECT_TRUE(a.outputAllowed(0));
}

TEST(PortTable, NumberedTablesFollowSettings) {
  auto t = JPortTable::numbered(kSideLeft, "in ", {kAnyDataType}, 4);
  EXPECT_EQ(t->count(), 4);
  EXPECT_EQ(t->tag(3), JString("in 3"));
  EXPECT_EQ(t->type(2), kAnyDataType);
  auto mixed = JPortTable::numbered(kSideRight, "out ", {JIntegerData::id, JStringData::id}, 2);
  EXPECT_EQ(mixed->type(1), JStringData::id);
  EXPECT_EQ(mixed->face(0), kSideRight);
}

TEST(Properties, AnEditOfTheWrongKindIsRefused) {
  JTestScaler m;
  JStringProperty textGain("gain", JString("7"));
  EXPECT_FALSE(m.updateProperty(textGain));
  EXPECT_EQ(m.gain, 1);
  JIntegerProperty intLabel("label", 5, 0, 9);
  EXPECT_FALSE(m.updateProperty(intLabel));
  EXPECT_EQ(m.label, JString("scaler"));
  JColorProperty colourEnabled("enabled", JColor::red);
  EXPECT_FALSE(m.updateProperty(colourEnabled));
  EXPECT_TRUE(m.enabled);
  // The right kinds are taken; a choice carries an integer, a flag is any nonzero value.
  JIntegerProperty gain("gain", 7, 0, 100);
  JIntegerListProperty enabled("enabled", 0, JIntegerListProperty::booleanTag);
  JStringProperty label("label", JString("new"));
  JColorProperty tint("tint", JColor::red);
  EXPECT_TRUE(m.updateProperty(gain) && m.updateProperty(enabled) && m.updateProperty(label) && m.updateProperty(tint));
  EXPECT_EQ(m.gain, 7);
  EXPECT_FALSE(m.enabled);
  EXPECT_EQ(m.label, JString("new"));
  EXPECT_EQ(m.tint, JColor::red);
  JIntegerProperty unknown("gian", 3, 0, 9);
  EXPECT_FALSE(m.updateProperty(unknown));
}
