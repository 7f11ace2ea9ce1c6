#pragma once
// A module's settings, declared once beside its port table: one row per setting with its
// property name, stored key, kind, initial value, range and what becomes of a value outside it,
// the member it lives in, a follow-up to run after a change, and whether it names a file. The
// property dialog, the diagram file, `loomwork set`/`--set`, the listings and `--save`'s path
// rewriting all work from the rows, so a value is taken the same way whichever road it comes by.
//
//   const JSettings kSettings{
//       JSetting::integer("port", &JToneDigitObj::port).init(3502).range(3000, 8000, JOutOfRange::kIgnore)
//           .whenMissing(0),
//   };
//   JToneDigitObj::JToneDigitObj() { setPorts(kInputs, kOutputs); setSettings(kSettings); }
#include <atomic>
#include <climits>
#include <cstddef>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "base/JGuarded.h"
#include "base/JString.h"
#include "gfxkit/JColor.h"

class JArray;
class JDictionary;
class JModuleObj;
class JOutputStream;
class JProperty;

// What becomes of a value outside a setting's range: left out (the setting keeps what it had, a
// warning says why), held to the nearest end, or refused (an error).
enum class JOutOfRange { kIgnore, kClamp, kRefuse };

// One setting's value on its way in or out; the kind of the row says which part counts.
struct JSettingValue {
  int number = 0;
  JString text;
  JColor color;
};

// How one attempt to change a setting ended. `message` says why a value was not taken as given
// ("9000 is outside 3000..8000"); the caller adds where it came from.
struct JSettingResult {
  enum Status { kApplied, kClamped, kIgnored, kRefused };
  Status status = kApplied;
  std::string message;
  bool taken() const { return status == kApplied || status == kClamped; }
};

class JSetting {
public:
  enum Kind { kInteger, kFlag, kChoice, kText, kColour };
  using Getter = std::function<JSettingValue(const JModuleObj&, int index)>;
  using Setter = std::function<void(JModuleObj&, int index, const JSettingValue&)>;
  using Hook = std::function<void(JModuleObj&, int index)>;
  // A stored block the module writes and reads itself (pattern tables and the like), kept at its
  // place in the writing order.
  using BlockWriter = std::function<void(JModuleObj&, JOutputStream&)>;
  using BlockReader = std::function<void(JModuleObj&, JDictionary&)>;

  // --- rows on a member (int, bool, JAtomic<int>, JAtomic<bool>, JString, JGuarded<JString>,
  // JColor) ---
  template <class M, class T>
  static JSetting integer(const char* name, T M::*member) {
    return JSetting(kInteger, name, memberGetter(member), memberSetter(member));
  }
  template <class M, class T>
  static JSetting flag(const char* name, T M::*member) {
    return JSetting(kFlag, name, memberGetter(member), memberSetter(member));
  }
  template <class M, class T>
  static JSetting choice(const char* name, T M::*member, std::vector<std::string> tags) {
    JSetting s(kChoice, name, memberGetter(member), memberSetter(member));
    s.tags_ = std::move(tags);
    s.min_ = 0;
    s.max_ = static_cast<int>(s.tags_.size()) - 1;
    s.ranged_ = true;
    return s;
  }
  template <class M, class T>
  static JSetting text(const char* name, T M::*member) {
    return JSetting(kText, name, memberGetter(member), memberSetter(member));
  }
  template <class M, class T>
  static JSetting colour(const char* name, T M::*member) {
    return JSetting(kColour, name, memberGetter(member), memberSetter(member));
  }
  // An array member: entry i is the property and key prefix + i ("min0", "color15").
  template <class M, class T, size_t N>
  static JSetting integers(const char* prefix, T (M::*member)[N]) {
    return array(kInteger, prefix, member);
  }
  template <class M, class T, size_t N>
  static JSetting flags(const char* prefix, T (M::*member)[N]) {
    return array(kFlag, prefix, member);
  }
  template <class M, class T, size_t N>
  static JSetting colours(const char* prefix, T (M::*member)[N]) {
    return array(kColour, prefix, member);
  }
  template <class M, class T, size_t N>
  static JSetting texts(const char* prefix, T (M::*member)[N]) {
    return array(kText, prefix, member);
  }

  // --- rows whose value the module hands over itself (a value shown otherwise than kept) ---
  template <class M>
  static JSetting custom(Kind kind, const char* name, std::function<JSettingValue(const M&, int)> get,
                         std::function<void(M&, int, const JSettingValue&)> set) {
    return JSetting(
        kind, name, [get](const JModuleObj& m, int i) { return get(static_cast<const M&>(m), i); },
        [set](JModuleObj& m, int i, const JSettingValue& v) { set(static_cast<M&>(m), i, v); });
  }
  template <class M>
  static JSetting block(const char* keysText, std::function<void(M&, JOutputStream&)> write,
                        std::function<void(M&, JDictionary&)> read) {
    JSetting s(kText, "", nullptr, nullptr);
    s.blockKeys_ = keysText;
    s.writeBlock_ = [write](JModuleObj& m, JOutputStream& os) { write(static_cast<M&>(m), os); };
    s.readBlock_ = [read](JModuleObj& m, JDictionary& d) { read(static_cast<M&>(m), d); };
    s.property_.clear();
    return s;
  }

  // --- what the row says of itself (chained after the maker) ---
  JSetting& key(const char* storedKey) {
    key_ = storedKey;
    return *this;
  }  // stored under another key
  JSetting& notStored() {
    key_.clear();
    return *this;
  }  // a property only
  JSetting& notProperty() {
    property_.clear();
    return *this;
  }                                  // stored only
  JSetting& firstIndex(int first) {  // array rows: entry 0 is named prefix + first ("phrase-1")
    first_ = first;
    return *this;
  }
  JSetting& entries(int count) {
    count_ = count;
    return *this;
  }  // array rows: how many
  JSetting& init(int v) {
    init_.number = v;
    hasInit_ = true;
    return *this;
  }
  JSetting& init(const char* v) {
    init_.text = JString(v);
    hasInit_ = true;
    return *this;
  }
  JSetting& init(const JColor& v) {
    init_.color = v;
    hasInit_ = true;
    return *this;
  }
  JSetting& range(int lo, int hi, JOutOfRange rule) {
    min_ = lo;
    max_ = hi;
    rule_ = rule;
    ranged_ = true;
    return *this;
  }
  JSetting& outside(JOutOfRange rule) {
    rule_ = rule;
    return *this;
  }  // for choices
  // The stored key's own rules: the value a missing key gives (taken as it is, past the range),
  // or that a missing key leaves the setting as it was; a stored 0 that keeps what the setting had.
  JSetting& whenMissing(int v) {
    missing_ = kMissingValue;
    missingValue_.number = v;
    return *this;
  }
  JSetting& whenMissing(const char* v) {
    missing_ = kMissingValue;
    missingValue_.text = JString(v);
    return *this;
  }
  JSetting& whenMissingKeep() {
    missing_ = kMissingKeeps;
    return *this;
  }
  JSetting& storedZeroKeeps() {
    zeroKeeps_ = true;
    return *this;
  }
  JSetting& storedAsTag() {
    storedAsTag_ = true;
    return *this;
  }  // a choice written as its tag text
  JSetting& path() {
    path_ = true;
    return *this;
  }  // a file name, relative to the diagram
  JSetting& note(const char* text) {
    note_ = text;
    return *this;
  }  // when and why a user changes it, for the module reference
  JSetting& tags(std::vector<std::string> t) {
    tags_ = std::move(t);
    return *this;
  }  // flag labels
  template <class M>
  JSetting& onChange(void (M::*hook)()) {
    onChange_ = [hook](JModuleObj& m, int) { (static_cast<M&>(m).*hook)(); };
    return *this;
  }
  template <class M>
  JSetting& onChange(std::function<void(M&, int)> hook) {
    onChange_ = [hook](JModuleObj& m, int i) { hook(static_cast<M&>(m), i); };
    return *this;
  }

  // --- reading the row ---
  Kind kind() const { return kind_; }
  const char* kindName() const;  // "integer", "flag", "choice", "text", "colour"
  int count() const { return count_; }
  bool isArray() const { return array_; }
  bool isBlock() const { return static_cast<bool>(writeBlock_); }
  bool isProperty() const { return !property_.empty() && !isBlock(); }
  bool isStored() const { return !key_.empty() || isBlock(); }
  bool isPath() const { return path_; }
  const char* noteText() const { return note_ ? note_ : ""; }
  bool isStoredAsTag() const { return storedAsTag_; }
  bool keepsStoredZero() const { return zeroKeeps_; }
  // A stored number taken as it stands, past the range: what a missing key gives.
  bool takesStored(int v) const { return missing_ == kMissingValue && numeric() && v == missingValue_.number; }
  bool hasRange() const { return ranged_; }
  int minimum() const { return min_; }
  int maximum() const { return max_; }
  JOutOfRange rule() const { return rule_; }
  const std::vector<std::string>& tagList() const { return tags_; }
  const std::string& blockKeys() const { return blockKeys_; }
  // Entry i's property name and stored key (the names themselves for a single setting).
  std::string propertyName(int i = 0) const { return array_ ? property_ + std::to_string(i + first_) : property_; }
  std::string storedKey(int i = 0) const { return array_ ? key_ + std::to_string(i + first_) : key_; }
  // Texts for listings: "3000..8000", "false|true"; the initial value; the out-of-range rule and
  // the stored key's own rules ("missing: 0").
  std::string rangeText() const;
  std::string initText() const;
  std::string ruleText() const;
  std::string missingText() const;

  JSettingValue get(const JModuleObj& m, int i = 0) const { return get_(m, i); }
  // The value as a user writes it ("3502", "true", "10,20,30").
  std::string valueText(const JModuleObj& m, int i = 0) const;

  // --- changing the setting, the same whichever road the value comes by ---
  // A value of the row's kind, through its range rule, then the follow-up.
  JSettingResult apply(JModuleObj& m, int i, const JSettingValue& v) const;
  // A value written as a user writes it: a number, a tag or its index, a text, "r,g,b".
  JSettingResult applyText(JModuleObj& m, int i, const std::string& text) const;
  // From an edited property: false when it is not this entry's property or not of its kind.
  bool applyProperty(JModuleObj& m, JProperty& p, JSettingResult& result) const;
  JProperty* makeProperty(const JModuleObj& m, int i) const;  // a new property with the value now
  void write(JModuleObj& m, JOutputStream& os) const;
  void read(JModuleObj& m, JDictionary& dict) const;
  void setInitial(JModuleObj& m) const;  // the initial value into every entry

private:
  enum Missing { kMissingByKind, kMissingValue, kMissingKeeps };

  JSetting(Kind kind, const char* name, Getter get, Setter set)
      : kind_(kind), property_(name), key_(name), get_(std::move(get)), set_(std::move(set)) {}

  template <class M, class T, size_t N>
  static JSetting array(Kind kind, const char* prefix, T (M::*member)[N]) {
    JSetting s(
        kind, prefix,
        [member](const JModuleObj& m, int i) {
          JSettingValue v;
          load(v, (static_cast<const M&>(m).*member)[i]);
          return v;
        },
        [member](JModuleObj& m, int i, const JSettingValue& v) { store((static_cast<M&>(m).*member)[i], v); });
    s.array_ = true;
    s.count_ = static_cast<int>(N);
    return s;
  }
  template <class M, class T>
  static Getter memberGetter(T M::*member) {
    return [member](const JModuleObj& m, int) {
      JSettingValue v;
      load(v, static_cast<const M&>(m).*member);
      return v;
    };
  }
  template <class M, class T>
  static Setter memberSetter(T M::*member) {
    return [member](JModuleObj& m, int, const JSettingValue& v) { store(static_cast<M&>(m).*member, v); };
  }

  // The member kinds a row can live in.
  static void load(JSettingValue& v, int f) { v.number = f; }
  static void load(JSettingValue& v, bool f) { v.number = f ? 1 : 0; }
  template <class T>
  static void load(JSettingValue& v, const std::atomic<T>& f) {
    v.number = static_cast<int>(f.load());
  }
  static void load(JSettingValue& v, const JString& f) { v.text = f; }
  static void load(JSettingValue& v, const JGuarded<JString>& f) { v.text = f.get(); }
  static void load(JSettingValue& v, const JColor& f) { v.color = f; }
  static void store(int& f, const JSettingValue& v) { f = v.number; }
  static void store(bool& f, const JSettingValue& v) { f = v.number != 0; }
  template <class T>
  static void store(std::atomic<T>& f, const JSettingValue& v) {
    f.store(static_cast<T>(v.number));
  }
  static void store(JString& f, const JSettingValue& v) { f = v.text; }
  static void store(JGuarded<JString>& f, const JSettingValue& v) { f.set(v.text); }
  static void store(JColor& f, const JSettingValue& v) { f = v.color; }

  bool numeric() const { return kind_ == kInteger || kind_ == kFlag || kind_ == kChoice; }
  JSettingResult put(JModuleObj& m, int i, JSettingValue v, bool fromFile) const;

  Kind kind_;
  std::string property_, key_;
  Getter get_;
  Setter set_;
  Hook onChange_;
  BlockWriter writeBlock_;
  BlockReader readBlock_;
  std::string blockKeys_;
  std::vector<std::string> tags_;
  JSettingValue init_, missingValue_;
  bool hasInit_ = false;
  bool array_ = false;
  int count_ = 1;
  int first_ = 0;
  bool ranged_ = false;
  int min_ = INT_MIN, max_ = INT_MAX;
  JOutOfRange rule_ = JOutOfRange::kIgnore;
  Missing missing_ = kMissingByKind;
  bool zeroKeeps_ = false;
  bool storedAsTag_ = false;
  bool path_ = false;
  const char* note_ = nullptr;
};

// One class's rows, in the order of its property dialog and of its stored keys.
class JSettings {
public:
  JSettings(std::initializer_list<JSetting> rows) : rows_(rows) {}
  const std::vector<JSetting>& rows() const { return rows_; }
  // The row and entry offered as property `name`; nullptr when none is.
  const JSetting* byProperty(const std::string& name, int& index) const;

  void appendProperties(const JModuleObj& m, JArray& into) const;
  // Applies an edited property; false when no row offers it (or it is of another kind).
  bool applyProperty(JModuleObj& m, JProperty& p, JSettingResult& result) const;
  void write(JModuleObj& m, JOutputStream& os) const;
  void read(JModuleObj& m, JDictionary& dict) const;
  void setInitial(JModuleObj& m) const;

private:
  std::vector<JSetting> rows_;
};
