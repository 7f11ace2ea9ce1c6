#include <gtest/gtest.h>

#include <cstdlib>

#include "base/JArray.h"
#include "base/JBlock.h"
#include "base/JFiles.h"
#include "base/JObject.h"
#include "base/JString.h"

namespace {
// A stored object of its own class: content under its class name.
class JBox : public JObject {
public:
  const char* className() const override { return "JBox"; }
  JObject* clone() const override { return new JBox(*this); }
  void writeContent(JOutputStream& os) override {
    putInteger(os, "w", w);
    putString(os, "name", name);
  }
  void readContent(JDictionary& dict) override {
    w = getInteger(dict, "w", 0);
    name = getString(dict, "name");
  }
  int w = 0;
  JString name;
};
}  // namespace

TEST(Persistence, KeysKeepWritingOrderAndKinds) {
  JOutputStream os;
  JObject::putInteger(os, "b", 2);
  JObject::putString(os, "a", "text");
  JBox box;
  box.w = 7;
  box.name = "inner";
  JObject::putObject(os, "box", box);
  JObject::putObject(os, "label", JString("plain"));
  JObject::putInteger(os, "b", 3);  // rewriting a key keeps its place
  const JNode& n = os.node();
  ASSERT_EQ(n.entries().size(), 4u);
  EXPECT_EQ(n.entries()[0].first, "b");
  EXPECT_EQ(n.entries()[0].second.asInteger(), 3);
  EXPECT_EQ(n.entries()[2].second.find("JBox")->find("w")->asInteger(), 7);
  EXPECT_TRUE(n.entries()[3].second.isText());

  JDictionary d(n);
  EXPECT_EQ(JObject::getInteger(d, "b", 9), 3);
  EXPECT_EQ(JObject::getInteger(d, "a", 9), 9);  // text where a number is wanted: noted
  EXPECT_EQ(JObject::getInteger(d, "missing", 9), 9);
  EXPECT_EQ(JObject::getString(d, "a"), JString("text"));
  EXPECT_EQ(JObject::getString(d, "b", "dflt"), JString("3"));  // a number read as text: plain conversion
  EXPECT_EQ(d.problems(), std::vector<std::string>{"key \"a\": \"text\" is not an integer"});
  JBox back;
  EXPECT_TRUE(JObject::getObject(d, "box", back));
  EXPECT_EQ(back.w, 7);
  EXPECT_EQ(back.name, JString("inner"));
  JBox untouched;
  untouched.w = 5;
  EXPECT_FALSE(JObject::getObject(d, "label", untouched));  // a text is no box
  EXPECT_FALSE(JObject::getObject(d, "nothing", untouched));
  EXPECT_EQ(untouched.w, 5);

  JNode huge = JNode::map();
  huge.set("big", JNode::integer(1LL << 40));
  EXPECT_EQ(JObject::getInteger(JDictionary(huge), "big", -1), -1);  // not an int: the default
}

TEST(Registry, RegisterKeepsAPrototypeThatClones) {
  JBox box;
  box.w = 3;
  JObject* proto = box.Register();
  ASSERT_NE(proto, nullptr);
  EXPECT_EQ(JClassRegistry::prototype("JBox"), proto);
  std::unique_ptr<JObject> made(JClassRegistry::create("JBox"));
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(static_cast<JBox*>(made.get())->w, 3);
  EXPECT_EQ(JClassRegistry::create("JNope"), nullptr);
}

TEST(Text, StringsBlocksAndNumbers) {
  JString s("  Hello, World \r\n");
  EXPECT_EQ(s.trim(), JString("Hello, World"));
  EXPECT_EQ(s.indexOf(','), 7);
  EXPECT_EQ(s.indexOf("World"), 9);
  EXPECT_EQ(s.indexOf('z'), -1);
  EXPECT_EQ(s.substring(2, 7), JString("Hello"));
  EXPECT_EQ(s.substring(-5, 999), s);
  EXPECT_EQ(s.substring(7, 2), JString());
  EXPECT_EQ(s.charAt(100), '\0');
  EXPECT_EQ(JString("a") + "b" + JString("c"), JString("abc"));
  EXPECT_EQ(JInteger::toJString(-42), JString("-42"));
  int v = 7;
  EXPECT_FALSE(JInteger::parse("12x", v));
  EXPECT_FALSE(JInteger::parse("99999999999", v));
  EXPECT_FALSE(JInteger::parse("", v));
  EXPECT_EQ(v, 7);
  EXPECT_TRUE(JInteger::parse("-2147483648", v));
  EXPECT_EQ(v, -2147483647 - 1);
  EXPECT_TRUE(JCharacter::isAlpha('q'));
  EXPECT_FALSE(JCharacter::isAlpha('7'));
  EXPECT_FALSE(JCharacter::isAlpha(0xE9));

  JBlock b(10);
  EXPECT_EQ(b.size(), 0);
  EXPECT_EQ(b.capacity(), 10);
  b.append('a');
  b.append(JBlock("bc", 2));
  EXPECT_EQ(b.size(), 3);
  EXPECT_EQ(b[2], 'c');
  EXPECT_EQ(b[3], 0);  // past the end reads 0, never out of bounds
  JBlock restored;
  EXPECT_TRUE(restored.fromNode(b.toNode()));
  EXPECT_EQ(restored, b);
  JNode bad = JNode::list();
  bad.push(JNode::integer(300));
  EXPECT_FALSE(restored.fromNode(bad));
  EXPECT_EQ(restored, b);
}

TEST(Containers, ArraysOwnAndCopyDeeply) {
  JArray a;
  a.append(new JString("one"));
  a.append(JString("two"));
  a.append(nullptr);
  ASSERT_EQ(a.size(), 2);
  JArray copy = a;
  static_cast<JString*>(copy[0])->operator+=("!");
  EXPECT_EQ(*static_cast<JString*>(a[0]), JString("one"));
  EXPECT_EQ(*static_cast<JString*>(copy[0]), JString("one!"));
  EXPECT_EQ(a[5], nullptr);
}

TEST(Files, BoundedReadsAndWholeWrites) {
  std::string dir = ::testing::TempDir() + "/jfiles";
  ASSERT_EQ(std::system(("mkdir -p " + dir).c_str()), 0);
  std::string path = dir + "/f.txt", text, error;
  ASSERT_TRUE(writeWholeFile(path, "0123456789", error));
  EXPECT_TRUE(readWholeFile(path, 10, text, error));
  EXPECT_EQ(text, "0123456789");
  EXPECT_FALSE(readWholeFile(path, 9, text, error));
  EXPECT_NE(error.find("larger than 9"), std::string::npos);
  EXPECT_FALSE(readWholeFile(dir, 100, text, error));  // a folder is no file
  EXPECT_FALSE(readWholeFile(dir + "/missing", 100, text, error));
  // A write that cannot happen leaves the old file as it was.
  EXPECT_FALSE(writeWholeFile(dir + "/no/such/folder/f.txt", "x", error));
  EXPECT_TRUE(readWholeFile(path, 100, text, error));
  EXPECT_EQ(text, "0123456789");
}
