// The listings of `loomwork modules` and `props`, and the event lines of a run, byte for byte:
// scripts and the reference page read them, so their form must not drift.
#include <gtest/gtest.h>

#include "ClassDescription.h"
#include "OutputLines.h"
#include "loom/JModuleObj.h"

namespace {

// A class with one port of each kind, a tag and texts that need care, and every kind of property.
class JListedThing : public JModuleObj {
public:
  JListedThing() {
    static const JPortTable kIn{{kSideLeft, 0.1, 0.8, {{"level", JIntegerData::id}, {"a|b", JStringData::id}}}};
    static const JPortTable kOut{{kSideBottom, 0.25, 0.5, {{"bytes", JBytesData::id}}}};
    setPorts(kIn, kOut);
  }
  const char* className() const override { return "JListedThing"; }
  JObject* clone() const override { return new JListedThing(*this); }
  JArray getProperties() override {
    JArray a;
    a.append(new JIntegerProperty("gain", gain, -5, 500));
    a.append(new JIntegerListProperty("mode", 1, {"off", "on"}));
    a.append(new JStringProperty("name", name));
    a.append(new JColorProperty("colour", JColor(1, 2, 3)));
    return a;
  }
  void writeContent(JOutputStream& os) override {
    JModuleObj::writeContent(os);
    putInteger(os, "gain", gain);
    putString(os, "name", name);
  }

  int gain = 7;
  JString name = "say \"hi\" | go";
};

class JBareThing : public JModuleObj {
public:
  const char* className() const override { return "JBareThing"; }
  JObject* clone() const override { return new JBareThing(*this); }
};

}  // namespace

TEST(ClassDescription, TextJsonMarkdownAndPropsListTheSameDescription) {
  JListedThing m;
  const ClassDescription c = ClassDescription::of("JListedThing", m);
  ASSERT_EQ(c.inputs.size(), 2u);
  EXPECT_EQ(c.storedKeys, (std::vector<std::string>{"gain", "name"}));

  EXPECT_EQ(describeAsText(c),
            "JListedThing\n"
            "  inputs:\n"
            "     0  level                        integer  left\n"
            "     1  a|b                          text     left\n"
            "  outputs:\n"
            "     0  bytes                        bytes    bottom\n"
            "  properties:\n"
            "    gain                         integer 7  -5..500\n"
            "    mode                         choice  on  off|on\n"
            "    name                         text    \"say \\\"hi\\\" | go\"\n"
            "    colour                       colour  1,2,3\n");

  EXPECT_EQ(describeAsJson(c).dump(),
            R"({"class":"JListedThing",)"
            R"("inputs":[{"index":0,"tag":"level","type":"integer","side":"left"},)"
            R"({"index":1,"tag":"a|b","type":"text","side":"left"}],)"
            R"("outputs":[{"index":0,"tag":"bytes","type":"bytes","side":"bottom"}],)"
            R"("properties":[{"name":"gain","kind":"integer","value":7,"minimum":-5,"maximum":500},)"
            R"({"name":"mode","kind":"choice","value":1,"choices":["off","on"]},)"
            R"({"name":"name","kind":"text","value":"say \"hi\" | go"},)"
            R"({"name":"colour","kind":"colour","value":[1,2,3]}],"keys":["gain","name"]})");

  EXPECT_EQ(describeAsMarkdown(c),
            "\n## JListedThing\n"
            "\nInputs:\n"
            "\n| # | tag | type | side |\n| --- | --- | --- | --- |\n"
            "| 0 | level | integer | left |\n"
            "| 1 | a\\|b | text | left |\n"
            "\nOutputs:\n"
            "\n| # | tag | type | side |\n| --- | --- | --- | --- |\n"
            "| 0 | bytes | bytes | bottom |\n"
            "\nProperties:\n"
            "\n| name | kind | default | range |\n| --- | --- | --- | --- |\n"
            "| gain | integer | 7 | -5..500 |\n"
            "| mode | choice | on | off\\|on |\n"
            "| name | text | \"say \\\"hi\\\" \\| go\" |   |\n"
            "| colour | colour | 1,2,3 |   |\n"
            "\nStored keys, in order: `gain`, `name`\n");

  EXPECT_EQ(describePropertyLines(c),
            "gain integer 7 -5..500\n"
            "mode choice on off|on\n"
            "name text \"say \\\"hi\\\" | go\"\n"
            "colour colour 1,2,3\n");
}

TEST(ClassDescription, AClassWithoutPortsOrPropertiesSaysNone) {
  JBareThing m;
  const ClassDescription c = ClassDescription::of("JBareThing", m);
  EXPECT_EQ(describeAsText(c), "JBareThing\n  inputs: none\n  outputs: none\n  properties: none\n");
  EXPECT_EQ(describeAsJson(c).dump(), R"({"class":"JBareThing","inputs":[],"outputs":[],"properties":[],"keys":[]})");
  EXPECT_EQ(describeAsMarkdown(c),
            "\n## JBareThing\n\nInputs: none\n\nOutputs: none\n\nProperties: none\n\nStored keys, in order: none\n");
  EXPECT_EQ(describePropertyLines(c), "");
}

TEST(OutputLines, TraceAndMonitorLinesForEveryKindOfValue) {
  EXPECT_EQ(OutputLines::trace("p", 0, JWireValue::ofInteger(-2147483647 - 1)), "T p.0 -2147483648");
  EXPECT_EQ(OutputLines::monitor("mon", 15, JWireValue::ofInteger(65535)), "M mon.15 65535");
  EXPECT_EQ(OutputLines::trace("a.b", 3, JWireValue::ofText("q\"\\\n\x01")), "T a.b.3 \"q\\\"\\\\\\n\\u0001\"");
  EXPECT_EQ(OutputLines::monitor("m", 1, JWireValue::ofBytes(JBlock("\x00\xff\x10", 3))), "M m.1 0x00ff10");
  EXPECT_EQ(OutputLines::monitor("m", 2, JWireValue::ofBytes(JBlock())), "M m.2 0x");
}
