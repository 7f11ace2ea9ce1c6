#include "modules/ModuleSkeleton.h"

const JPortGroup* JPortLayout::groupOf(int n) const {
  for (const auto& g : groups_)
    if (n >= g.first && n < g.first + g.count) return &g;
  return nullptr;
}

JFRect JPortLayout::area(JModuleObj& m, int n) const {
  const JPortGroup* g = groupOf(n);
  if (!g) return JFRect();
  switch (g->side) {
    case kSideTop: return m.topArea(n, g->first, g->count, g->start, g->length, g->thickness);
    case kSideRight: return m.rightArea(n, g->first, g->count, g->start, g->length, g->thickness);
    case kSideBottom: return m.bottomArea(n, g->first, g->count, g->start, g->length, g->thickness);
    default: return m.leftArea(n, g->first, g->count, g->start, g->length, g->thickness);
  }
}

JFPoint JPortLayout::point(JModuleObj& m, int n, JLinkObj& link) const {
  const JPortGroup* g = groupOf(n);
  if (!g) return JFPoint();
  double s = g->pointStart >= 0 ? g->pointStart : g->start;
  double l = g->pointLength >= 0 ? g->pointLength : g->length;
  switch (g->side) {
    case kSideTop: return m.topPoint(n, link, g->first, g->count, s, l);
    case kSideRight: return m.rightPoint(n, link, g->first, g->count, s, l);
    case kSideBottom: return m.bottomPoint(n, link, g->first, g->count, s, l);
    default: return m.leftPoint(n, link, g->first, g->count, s, l);
  }
}

int JPortLayout::face(int n) const {
  const JPortGroup* g = groupOf(n);
  return g ? g->side : kSideLeft;
}

std::string keyOf(const char* prefix, int index) { return std::string(prefix) + std::to_string(index); }

void putIntegers(JOutputStream& os, const char* prefix, const int* values, int count) {
  for (int i = 0; i < count; ++i) JObject::putInteger(os, keyOf(prefix, i).c_str(), values[i]);
}

void getIntegers(const JDictionary& dict, const char* prefix, int* values, int count) {
  for (int i = 0; i < count; ++i) values[i] = JObject::getInteger(dict, keyOf(prefix, i).c_str(), 0);
}

void putFlags(JOutputStream& os, const char* prefix, const bool* values, int count) {
  for (int i = 0; i < count; ++i) JObject::putInteger(os, keyOf(prefix, i).c_str(), values[i] ? 1 : 0);
}

void getFlags(const JDictionary& dict, const char* prefix, bool* values, int count) {
  for (int i = 0; i < count; ++i) values[i] = JObject::getInteger(dict, keyOf(prefix, i).c_str(), 0) != 0;
}

JString readText(JLinkObj& link) {
  JString s;
  link.access(JStringData(s));
  return s;
}

JBlock readBytes(JLinkObj& link) {
  JBlock b;
  link.access(JBytesData(b));
  return b;
}
