#pragma once
// Editable settings a module offers in its property dialog.
#include <initializer_list>
#include <vector>
#include "base/JString.h"
#include "gfxkit/JColor.h"

class JProperty : public JObject {
public:
  explicit JProperty(const JString& name) : name_(name) {}
  const JString& getName() const { return name_; }

  virtual const char* kind() const = 0;   // "integer", "choice", "text", "colour"
  virtual JString valueText() const = 0;  // the value as a user writes it
  // Takes a value written as text (a number, a tag or its index, a text, "r,g,b");
  // false with the reason in error when it is not acceptable.
  virtual bool parseValue(const JString& text, JString& error) = 0;
  virtual JString rangeText() const { return JString(); }  // "0..100", "false|true"

  // The edited value when this property is of that kind (integer and choice properties carry an
  // integer); false for any other kind, so that a mislabelled property is refused, never misread.
  virtual bool integerValue(int&) const { return false; }
  virtual bool textValue(JString&) const { return false; }
  virtual bool colorValue(JColor&) const { return false; }
  // The usual test of updateProperty: this is the property `name` and carries a value of the
  // kind asked for (a flag is any integer, nonzero for true).
  bool is(const char* name, int& v) const { return name_.str() == name && integerValue(v); }
  bool is(const char* name, bool& flag) const;
  bool is(const char* name, JString& v) const { return name_.str() == name && textValue(v); }
  bool is(const char* name, JColor& v) const { return name_.str() == name && colorValue(v); }

  const char* className() const override { return "JProperty"; }

private:
  JString name_;
};

class JIntegerProperty : public JProperty {
public:
  JIntegerProperty(const JString& name, int value, int minimum, int maximum)
      : JProperty(name), value(value), minimum(minimum), maximum(maximum) {}
  int getValue() const { return value; }
  void setValue(int v) { value = v; }

  const char* kind() const override { return "integer"; }
  JString valueText() const override { return JInteger::toJString(value); }
  bool parseValue(const JString& text, JString& error) override;
  JString rangeText() const override;
  bool integerValue(int& v) const override {
    v = value;
    return true;
  }
  const char* className() const override { return "JIntegerProperty"; }
  JObject* clone() const override { return new JIntegerProperty(*this); }

  int value, minimum, maximum;
};

class JIntegerListProperty : public JProperty {
public:
  static const std::vector<JString> booleanTag;  // "false", "true"

  JIntegerListProperty(const JString& name, int value, const std::vector<JString>& tags)
      : JProperty(name), value(value), tags(tags) {}
  JIntegerListProperty(const JString& name, int value, std::initializer_list<const char*> tagList)
      : JProperty(name), value(value) {
    for (const char* t : tagList) tags.emplace_back(t);
  }
  int getValue() const { return value; }
  void setValue(int v) { value = v; }

  const char* kind() const override { return "choice"; }
  JString valueText() const override;
  bool parseValue(const JString& text, JString& error) override;
  JString rangeText() const override;
  bool integerValue(int& v) const override {
    v = value;
    return true;
  }
  const char* className() const override { return "JIntegerListProperty"; }
  JObject* clone() const override { return new JIntegerListProperty(*this); }

  int value;
  std::vector<JString> tags;
};

class JStringProperty : public JProperty {
public:
  JStringProperty(const JString& name, const JString& value) : JProperty(name), value(value) {}
  const JString& getValue() const { return value; }
  void setValue(const JString& v) { value = v; }

  const char* kind() const override { return "text"; }
  JString valueText() const override { return value; }
  bool parseValue(const JString& text, JString& error) override {
    value = text;
    return true;
  }
  bool textValue(JString& v) const override {
    v = value;
    return true;
  }
  const char* className() const override { return "JStringProperty"; }
  JObject* clone() const override { return new JStringProperty(*this); }

  JString value;
};

class JColorProperty : public JProperty {
public:
  JColorProperty(const JString& name, const JColor& color) : JProperty(name), color(color) {}
  const JColor& getColor() const { return color; }
  const JColor& getValue() const { return color; }
  void setColor(const JColor& c) { color = c; }

  const char* kind() const override { return "colour"; }
  JString valueText() const override;
  bool parseValue(const JString& text, JString& error) override;
  bool colorValue(JColor& v) const override {
    v = color;
    return true;
  }
  const char* className() const override { return "JColorProperty"; }
  JObject* clone() const override { return new JColorProperty(*this); }

  JColor color;
};
