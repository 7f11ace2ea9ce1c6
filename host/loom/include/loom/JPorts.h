#pragma once
// A module's ports, declared once: each side's group of consecutive ports with its geometry, and
// in it every port's tag and data type in port order. Counts, tags, types, faces, areas and link
// points all come from this one table (JModuleObj::setPorts).
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "base/JString.h"
#include "gfxkit/JGeometry.h"
#include "loom/JDataType.h"

class JLinkObj;
class JModuleObj;

// Side codes of ports.
enum JPortSide { kSideLeft = 0, kSideTop = 1, kSideRight = 2, kSideBottom = 3 };

// One port: its tag and the data type it carries.
struct JPort {
  JPort(const char* tag, int type = JIntegerData::id) : tag(tag), type(type) {}  // NOLINT: a bare tag is an integer port
  JPort(std::string tag, int type) : tag(std::move(tag)), type(type) {}
  std::string tag;
  int type;
};

// One group of consecutive ports on one side. The area and the link point may spread the group
// over different fractions of the side; by default both use start and length.
struct JPortGroup {
  int side;
  double start;
  double length;
  std::vector<JPort> ports;
  double thickness = 6;
  double pointStart = -1;   // < 0: same as start
  double pointLength = -1;  // < 0: same as length
};

// The ports of one direction (inputs or outputs), group after group: the first group holds ports
// 0 to its size - 1, the next continues from there.
class JPortTable {
public:
  JPortTable() = default;
  JPortTable(std::initializer_list<JPortGroup> groups);
  explicit JPortTable(std::vector<JPortGroup> groups);

  int count() const { return static_cast<int>(index_.size()); }
  // Tag, type and side of port n; an index past the table gives an empty tag, integer, left.
  JString tag(int n) const;
  int type(int n) const;
  int face(int n) const;
  JFRect area(JModuleObj& m, int n) const;
  JFPoint point(JModuleObj& m, int n, JLinkObj& link) const;
  const std::vector<JPortGroup>& groups() const { return groups_; }

  // A table made at run time for ports that follow a module's settings: count ports tagged
  // prefix + index, of the given types (one for all when it holds one), spread over 0.1 to 0.9 of
  // one side.
  static std::shared_ptr<const JPortTable> numbered(int side, const char* prefix, const std::vector<int>& types,
                                                    int count);

private:
  struct Slot {
    int group;
    int first;  // index of the group's first port
  };
  const Slot* slot(int n) const {
    return (n >= 0 && n < count()) ? &index_[static_cast<size_t>(n)] : nullptr;
  }
  void build();

  std::vector<JPortGroup> groups_;
  std::vector<Slot> index_;
};
