// The settings table: one row per setting, and every road a value takes (property, text as the
// command line writes it, diagram file) giving the same result.
#include <gtest/gtest.h>

#include <memory>

#include "loom/JDiagram.h"
#include "modules/Module.h"
#include "testing/Harness.h"

namespace {

class JTestSettings : public JAddObj {
public:
  JTestSettings();
  const char* className() const override { return "JTestSettings"; }
  JObject* clone() const override { return new JTestSettings(*this); }
  void changed() { ++changes; }

  int level;
  int clamped;
  JAtomic<int> port;
  bool on;
  int mode;
  JString name;
  JString file;
  JColor tint;
  int mins[3];
  int rows;
  int secret = 0;  // stored through its own block
  int changes = 0;
};

const JSettings kSettings{
    JSetting::integer("level", &JTestSettings::level)
        .init(5)
        .range(0, 10, JOutOfRange::kRefuse)
        .onChange(&JTestSettings::changed),
    JSetting::integer("clamped", &JTestSettings::clamped).init(50).range(1, 100, JOutOfRange::kClamp),
    JSetting::integer("port", &JTestSettings::port).init(3502).range(3000, 8000, JOutOfRange::kIgnore).whenMissing(0),
    JSetting::flag("on", &JTestSettings::on).init(1),
    JSetting::choice("mode", &JTestSettings::mode, {"i", "s", "b"}).init(0).storedAsTag(),
    JSetting::text("hostName", &JTestSettings::name).key("address").init("localhost").whenMissingKeep(),
    JSetting::text("file", &JTestSettings::file).path().whenMissing(""),
    JSetting::colour("tint", &JTestSettings::tint).init(JColor(1, 2, 3)),
    JSetting::integers("min", &JTestSettings::mins).notProperty(),
    JSetting::integer("rows", &JTestSettings::rows).init(16).range(2, 32, JOutOfRange::kClamp).storedZeroKeeps(),
    JSetting::block<JTestSettings>(
        "secret", [](JTestSettings& m, JOutputStream& os) { JObject::putInteger(os, "secret", m.secret * 2); },
        [](JTestSettings& m, JDictionary& d) { m.secret = JObject::getInteger(d, "secret", 0) / 2; }),
};

const JPortTable kNoPorts{};

JTestSettings::JTestSettings() {
  setPorts(kNoPorts, kNoPorts);
  setSettings(kSettings);
}

JNode contentOf(const std::string& json) {
  auto d = JDiagram::loadText(
      R"({"loomwork": 1, "modules": [{"id": "m", "class": "JTestSettings", "content": )" + json + "}]}", "t.lwd");
  JOutputStream os;
  d->find("m")->writeContent(os);
  return os.node();
}

}  // namespace

LOOMWORK_REGISTER(JTestSettings)

TEST(Settings, InitialValuesComeFromTheRows) {
  JTestSettings m;
  EXPECT_EQ(m.level, 5);
  EXPECT_EQ(m.port.load(), 3502);
  EXPECT_TRUE(m.on);
  EXPECT_EQ(m.name, JString("localhost"));
  EXPECT_EQ(m.tint, JColor(1, 2, 3));
  EXPECT_EQ(m.rows, 16);
}

TEST(Settings, PropertiesListEveryOfferedRowWithItsRange) {
  JTestSettings m;
  JArray props = m.getProperties();
  std::vector<std::string> names;
  for (int i = 0; i < props.size(); ++i) names.push_back(static_cast<JProperty*>(props[i])->getName().str());
  EXPECT_EQ(names,
            (std::vector<std::string>{"level", "clamped", "port", "on", "mode", "hostName", "file", "tint", "rows"}));
  auto* port = static_cast<JProperty*>(props[2]);
  EXPECT_STREQ(port->kind(), "integer");
  EXPECT_EQ(port->rangeText(), JString("3000..8000"));
  EXPECT_EQ(static_cast<JProperty*>(props[4])->rangeText(), JString("i|s|b"));
}

// The same out-of-range value by the three roads: property, text, file.
TEST(Settings, OutOfRangeRuleIsTheSameOnEveryRoad) {
  struct Case {
    const char* property;
    int value;
    int expected;  // the setting afterwards
    JSettingResult::Status status;
  };
  const Case cases[] = {
      {"level", 11, 5, JSettingResult::kRefused},      {"level", -1, 5, JSettingResult::kRefused},
      {"level", 10, 10, JSettingResult::kApplied},     {"clamped", 0, 1, JSettingResult::kClamped},
      {"clamped", 900, 100, JSettingResult::kClamped}, {"port", 9000, 3502, JSettingResult::kIgnored},
      {"port", 2999, 3502, JSettingResult::kIgnored},  {"port", 4000, 4000, JSettingResult::kApplied},
      {"mode", 3, 0, JSettingResult::kIgnored},
  };
  auto valueOf = [](JTestSettings& m, const char* property) {
    int index = 0;
    return m.settings()->byProperty(property, index)->get(m, index).number;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.property) + "=" + std::to_string(c.value));
    JTestSettings byProperty, byText, byFile;
    JIntegerProperty p(c.property, c.value, INT_MIN, INT_MAX);
    EXPECT_TRUE(byProperty.updateProperty(p));
    EXPECT_EQ(valueOf(byProperty, c.property), c.expected);

    JSettingResult r;
    ASSERT_TRUE(byText.applySetting(c.property, std::to_string(c.value), r));
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(valueOf(byText, c.property), c.expected);

    const std::string key = std::string(c.property) == "mode" ? "mode" : c.property;
    const std::string json =
        "{\"" + key +
        "\": " + (std::string(c.property) == "mode" ? "\"" + std::to_string(c.value) + "\"" : std::to_string(c.value)) +
        "}";
    if (std::string(c.property) == "mode") continue;  // stored as its tag: below
    const std::string diagram =
        R"({"loomwork": 1, "modules": [{"id": "m", "class": "JTestSettings", "content": )" + json + "}]}";
    if (c.status == JSettingResult::kRefused) {
      try {
        JDiagram::loadText(diagram, "t.lwd");
        ADD_FAILURE() << "a refused value loaded";
      } catch (const JDiagramError& e) {
        EXPECT_NE(std::string(e.what()).find(r.message), std::string::npos) << e.what();
      }
      continue;
    }
    auto d = JDiagram::loadText(diagram, "t.lwd");
    EXPECT_EQ(valueOf(*static_cast<JTestSettings*>(d->find("m")), c.property), c.expected);
    if (c.status == JSettingResult::kIgnored) {
      ASSERT_EQ(d->loadWarnings().size(), 1u);
      EXPECT_NE(d->loadWarnings()[0].find(r.message), std::string::npos) << d->loadWarnings()[0];
    } else {
      EXPECT_TRUE(d->loadWarnings().empty());
    }
  }
}

TEST(Settings, TextsAreParsedByKindAndRefusedWithAReason) {
  JTestSettings m;
  JSettingResult r;
  ASSERT_TRUE(m.applySetting("level", "x7", r));
  EXPECT_EQ(r.status, JSettingResult::kRefused);
  EXPECT_EQ(r.message, "\"x7\" is not an integer");
  ASSERT_TRUE(m.applySetting("on", "false", r));
  EXPECT_FALSE(m.on);
  ASSERT_TRUE(m.applySetting("on", "7", r));  // a flag is any number, nonzero for true
  EXPECT_TRUE(m.on);
  ASSERT_TRUE(m.applySetting("on", "maybe", r));
  EXPECT_EQ(r.message, "\"maybe\" is not one of false|true");
  ASSERT_TRUE(m.applySetting("mode", "b", r));
  EXPECT_EQ(m.mode, 2);
  ASSERT_TRUE(m.applySetting("tint", "10,20,30", r));
  EXPECT_EQ(m.tint, JColor(10, 20, 30));
  ASSERT_TRUE(m.applySetting("tint", "red", r));
  EXPECT_EQ(r.status, JSettingResult::kRefused);
  EXPECT_EQ(m.tint, JColor(10, 20, 30));
  EXPECT_FALSE(m.applySetting("min0", "3", r)) << "stored-only rows are no property";
  EXPECT_FALSE(m.applySetting("nothing", "3", r));
}

TEST(Settings, HookRunsAfterAChangeByPropertyOrTextNotOnLoadOrRefusal) {
  JTestSettings m;
  JIntegerProperty p("level", 7, 0, 10);
  m.updateProperty(p);
  JSettingResult r;
  m.applySetting("level", "8", r);
  m.applySetting("level", "80", r);
  EXPECT_EQ(m.changes, 2);
  JDictionary d(JNode::map());
  m.readContent(d);
  EXPECT_EQ(m.changes, 2);
}

TEST(Settings, WrongKindOfPropertyIsNotRecognised) {
  JTestSettings m;
  JStringProperty text("level", "4");
  EXPECT_FALSE(m.updateProperty(text));
  EXPECT_EQ(m.level, 5);
  JColorProperty colour("tint", JColor(9, 9, 9));
  EXPECT_TRUE(m.updateProperty(colour));
  EXPECT_EQ(m.tint, JColor(9, 9, 9));
}

TEST(Settings, StoredKeysInRowOrderWithArraysTagsAndBlocks) {
  JTestSettings m;
  m.mins[0] = 4;
  m.secret = 21;
  JNode c = JTestHarness::content(m);
  EXPECT_EQ(JTestHarness::keysOf(c),
            (std::vector<std::string>{"level", "clamped", "port", "on", "mode", "address", "file", "tint", "min0",
                                      "min1", "min2", "rows", "secret"}));
  EXPECT_EQ(c.find("mode")->asText(), "i");
  EXPECT_EQ(c.find("on")->asInteger(), 1);
  EXPECT_EQ(c.find("secret")->asInteger(), 42);
  auto copy = JTestHarness::roundTrip(m);
  auto* back = static_cast<JTestSettings*>(copy.get());
  EXPECT_EQ(back->mins[0], 4);
  EXPECT_EQ(back->secret, 21);
  EXPECT_EQ(back->name, JString("localhost"));
}

// Missing keys: numbers read as a stored 0 through the row's rules, unless the row gives the key
// a rule of its own.
TEST(Settings, MissingKeysFollowTheKindOrTheRowsOwnRule) {
  JTestSettings m;
  m.name = JString("kept");
  m.file = JString("f.csv");
  m.rows = 20;
  JDictionary empty(JNode::map());
  m.readContent(empty);
  EXPECT_EQ(m.port.load(), 0) << "the key's own missing value, past the range";
  EXPECT_EQ(m.clamped, 1) << "a missing number is a stored 0, held to the range";
  EXPECT_EQ(m.level, 0) << "a stored 0 inside the range is taken";
  EXPECT_FALSE(m.on);
  EXPECT_EQ(m.name, JString("kept"));
  EXPECT_EQ(m.file, JString(""));
  EXPECT_EQ(m.rows, 20) << "a stored 0 keeps rows";
  EXPECT_TRUE(empty.problems().empty());
  // What a missing key gives, the module saves; stored, it reads back as it is.
  JTestSettings back;
  JTestHarness::restore(back, JTestHarness::content(m));
  EXPECT_EQ(back.port.load(), 0);
}

TEST(Settings, KindConversionsAndBadEntriesInFiles) {
  JNode c = contentOf(R"({"level": "7", "address": 12, "mode": "s"})");
  EXPECT_EQ(c.find("level")->asInteger(), 7);
  EXPECT_EQ(c.find("address")->asText(), "12");
  EXPECT_EQ(c.find("mode")->asText(), "s");
  EXPECT_THROW(contentOf(R"({"mode": "q"})"), JDiagramError);
  EXPECT_THROW(contentOf(R"({"level": [1]})"), JDiagramError);
  EXPECT_THROW(contentOf(R"({"tint": "red"})"), JDiagramError);
}

TEST(Settings, CopiesKeepTheTableAndTheValues) {
  JTestSettings m;
  JSettingResult r;
  m.applySetting("port", "4100", r);
  std::unique_ptr<JObject> copy(m.clone());
  auto* c = static_cast<JTestSettings*>(copy.get());
  EXPECT_EQ(c->settings(), m.settings());
  EXPECT_EQ(c->port.load(), 4100);
}

TEST(Settings, ListingTexts) {
  int i = 0;
  const JSetting* port = kSettings.byProperty("port", i);
  ASSERT_NE(port, nullptr);
  EXPECT_EQ(port->rangeText(), "3000..8000");
  EXPECT_EQ(port->ruleText(), "ignored");
  EXPECT_EQ(port->initText(), "3502");
  EXPECT_EQ(port->missingText(), "missing or stored: 0");
  const JSetting* rows = kSettings.byProperty("rows", i);
  EXPECT_EQ(rows->missingText(), "stored 0: kept");
  EXPECT_TRUE(kSettings.byProperty("file", i)->isPath());
  EXPECT_EQ(kSettings.byProperty("tint", i)->initText(), "1,2,3");
}

TEST(Ports, IndexNamesComeFromTheTagListAtCompileTime) {
  static constexpr const char* kTags[] = {"a", "bb", "b"};
  static_assert(portIndex(kTags, "b") == 2, "");
  static_assert(portIndex(kTags, "bb") == 1, "");
  const auto ports = portsOf(kTags, 1, 2, {JIntegerData::id, JStringData::id});
  ASSERT_EQ(ports.size(), 2u);
  EXPECT_EQ(ports[1].tag, "b");
  EXPECT_EQ(ports[1].type, JStringData::id);
}

namespace {
class JTestPhrases : public JAddObj {
public:
  JTestPhrases();
  const char* className() const override { return "JTestPhrases"; }
  JObject* clone() const override { return new JTestPhrases(*this); }
  JString phrases[3];
};
const JSettings kPhraseSettings{JSetting::texts("phrase-", &JTestPhrases::phrases).firstIndex(1)};
JTestPhrases::JTestPhrases() {
  setPorts(kNoPorts, kNoPorts);
  setSettings(kPhraseSettings);
}
}  // namespace

// Text arrays named from a first index of 1: "phrase-1" is entry 0, "phrase-0" and "phrase-4" are none.
TEST(Settings, ArraysNamedFromAFirstIndex) {
  JTestPhrases m;
  JSettingResult r;
  ASSERT_TRUE(m.applySetting("phrase-3", "lights on", r));
  EXPECT_EQ(m.phrases[2], JString("lights on"));
  EXPECT_FALSE(m.applySetting("phrase-0", "x", r));
  EXPECT_FALSE(m.applySetting("phrase-4", "x", r));
  JStringProperty p("phrase-1", "open");
  EXPECT_TRUE(m.updateProperty(p));
  EXPECT_EQ(m.phrases[0], JString("open"));
  EXPECT_EQ(JTestHarness::keysOf(JTestHarness::content(m)),
            (std::vector<std::string>{"phrase-1", "phrase-2", "phrase-3"}));
}
