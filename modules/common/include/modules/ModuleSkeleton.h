#pragma once
// What every module repeats, written once: port-group geometry tables, tag tables, the
// one-link-per-input rule, keyed-array persistence and registration.
#include <climits>
#include <initializer_list>
#include <string>
#include <vector>

#include "loom/JModuleObj.h"

// Side codes of ports.
enum JPortSide { kSideLeft = 0, kSideTop = 1, kSideRight = 2, kSideBottom = 3 };

// One group of consecutive ports on one side. The area and the link point may spread the group
// over different fractions of the side; by default both use start and length.
struct JPortGroup {
  int first;
  int count;
  int side;
  double start;
  double length;
  double thickness = 6;
  double pointStart = -1;   // < 0: same as start
  double pointLength = -1;  // < 0: same as length
};

// The port groups of one direction (inputs or outputs) of a module, as its description lists them.
class JPortLayout {
public:
  JPortLayout(std::initializer_list<JPortGroup> groups) : groups_(groups) {}
  const JPortGroup* groupOf(int n) const;
  JFRect area(JModuleObj& m, int n) const;
  JFPoint point(JModuleObj& m, int n, JLinkObj& link) const;
  int face(int n) const;

private:
  std::vector<JPortGroup> groups_;
};

// The usual inputAllowed: one link per input.
inline bool oneLinkPerInput(const JModuleObj& m, int n) { return m.inputSet(n).size() == 0; }

// The usual base of a module whose ports are laid out by two tables: one link per input, and the
// area, face and link point of every port taken from inputLayout() and outputLayout().
class JTabledAddObj : public JAddObj {
public:
  bool inputAllowed(int n) override { return oneLinkPerInput(*this, n); }
  JFRect inputArea(int n) override { return inputLayout().area(*this, n); }
  JFRect outputArea(int n) override { return outputLayout().area(*this, n); }
  int inputFace(int n) override { return inputLayout().face(n); }
  int outputFace(int n) override { return outputLayout().face(n); }
  JFPoint inputPoint(int n, JLinkObj& link) override { return inputLayout().point(*this, n, link); }
  JFPoint outputPoint(int n, JLinkObj& link) override { return outputLayout().point(*this, n, link); }

protected:
  virtual const JPortLayout& inputLayout() const = 0;
  virtual const JPortLayout& outputLayout() const = 0;
};

// Signal scale: integer wires span 0 to 65535; a percentage arriving on one is value / 655
// (integer division) held to 0..100.
inline int clampTo(long long v, int lo, int hi) { return v < lo ? lo : (v > hi ? hi : static_cast<int>(v)); }
inline int percentOf(int wireValue) { return clampTo(wireValue / 655, 0, 100); }
// Sums and products are done in 64 bits and stored held to the 32-bit range.
inline int saturate(long long v) { return clampTo(v, INT_MIN, INT_MAX); }

// The integer an edited integer or choice property carries; false for a property of another kind,
// so that a mislabelled property is refused rather than misread.
inline bool integerValueOf(JProperty& p, int& v) {
  if (auto* ip = dynamic_cast<JIntegerProperty*>(&p)) { v = ip->value; return true; }
  if (auto* lp = dynamic_cast<JIntegerListProperty*>(&p)) { v = lp->value; return true; }
  return false;
}

// Tag n of a table of constant texts (empty past its end).
template <size_t N>
JString tagOf(const char* const (&table)[N], int n) {
  return (n >= 0 && static_cast<size_t>(n) < N) ? JString(table[n]) : JString();
}


// Keyed arrays: element i is stored under prefix + i in decimal ("min0", "minX-3").
std::string keyOf(const char* prefix, int index);
void putIntegers(JOutputStream& os, const char* prefix, const int* values, int count);
void getIntegers(const JDictionary& dict, const char* prefix, int* values, int count);  // missing: 0
void putFlags(JOutputStream& os, const char* prefix, const bool* values, int count);
void getFlags(const JDictionary& dict, const char* prefix, bool* values, int count);    // nonzero: true
template <class T>
void putObjects(JOutputStream& os, const char* prefix, const T* values, int count) {
  for (int i = 0; i < count; ++i) JObject::putObject(os, keyOf(prefix, i).c_str(), values[i]);
}
template <class T>
void getObjects(const JDictionary& dict, const char* prefix, T* values, int count) {  // missing: kept
  for (int i = 0; i < count; ++i) JObject::getObject(dict, keyOf(prefix, i).c_str(), values[i]);
}

// A module value read from an input: the receiver's side of a wire.
inline int readInteger(JLinkObj& link) {
  int v = 0;
  link.access(JIntegerData(v));
  return v;
}
JString readText(JLinkObj& link);
JBlock readBytes(JLinkObj& link);

// Registers a module class when its library is loaded: one temporary instance calls Register()
// and the returned prototype is kept in a library global.
#define LOOMWORK_REGISTER(ClassName)                          \
  namespace {                                                 \
  JObject* registered##ClassName = [] {                       \
    ClassName temporary;                                      \
    return temporary.Register();                              \
  }();                                                        \
  }
