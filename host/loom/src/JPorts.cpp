#include "loom/JPorts.h"

#include "loom/JModuleObj.h"

JPortTable::JPortTable(std::initializer_list<JPortGroup> groups) : groups_(groups) { build(); }
JPortTable::JPortTable(std::vector<JPortGroup> groups) : groups_(std::move(groups)) { build(); }

void JPortTable::build() {
  index_.clear();
  for (size_t g = 0; g < groups_.size(); ++g) {
    const int first = count();
    for (size_t i = 0; i < groups_[g].ports.size(); ++i) index_.push_back({static_cast<int>(g), first});
  }
}

std::shared_ptr<const JPortTable> JPortTable::numbered(int side, const char* prefix, const std::vector<int>& types,
                                                       int count) {
  JPortGroup g{side, 0.1, 0.8, {}};
  for (int i = 0; i < count; ++i) {
    const int type =
        types.empty() ? JIntegerData::id : types[types.size() == 1 ? 0 : static_cast<size_t>(i) % types.size()];
    g.ports.emplace_back(prefix + std::to_string(i), type);
  }
  return std::make_shared<const JPortTable>(std::vector<JPortGroup>{g});
}

JString JPortTable::tag(int n) const {
  const Slot* s = slot(n);
  return s ? JString(groups_[static_cast<size_t>(s->group)].ports[static_cast<size_t>(n - s->first)].tag) : JString();
}

int JPortTable::type(int n) const {
  const Slot* s = slot(n);
  return s ? groups_[static_cast<size_t>(s->group)].ports[static_cast<size_t>(n - s->first)].type : JIntegerData::id;
}

int JPortTable::face(int n) const {
  const Slot* s = slot(n);
  return s ? groups_[static_cast<size_t>(s->group)].side : kSideLeft;
}

JFRect JPortTable::area(JModuleObj& m, int n) const {
  const Slot* s = slot(n);
  if (!s) return JFRect();
  const JPortGroup& g = groups_[static_cast<size_t>(s->group)];
  const int count = static_cast<int>(g.ports.size());
  switch (g.side) {
    case kSideTop: return m.topArea(n, s->first, count, g.start, g.length, g.thickness);
    case kSideRight: return m.rightArea(n, s->first, count, g.start, g.length, g.thickness);
    case kSideBottom: return m.bottomArea(n, s->first, count, g.start, g.length, g.thickness);
    default: return m.leftArea(n, s->first, count, g.start, g.length, g.thickness);
  }
}

JFPoint JPortTable::point(JModuleObj& m, int n, JLinkObj& link) const {
  const Slot* s = slot(n);
  if (!s) return JFPoint();
  const JPortGroup& g = groups_[static_cast<size_t>(s->group)];
  const int count = static_cast<int>(g.ports.size());
  const double start = g.pointStart >= 0 ? g.pointStart : g.start;
  const double length = g.pointLength >= 0 ? g.pointLength : g.length;
  switch (g.side) {
    case kSideTop: return m.topPoint(n, link, s->first, count, start, length);
    case kSideRight: return m.rightPoint(n, link, s->first, count, start, length);
    case kSideBottom: return m.bottomPoint(n, link, s->first, count, start, length);
    default: return m.leftPoint(n, link, s->first, count, start, length);
  }
}
