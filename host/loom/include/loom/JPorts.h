#pragma once
// A module's ports, declared once: each side's group of consecutive ports with its geometry, and
// in it every port's tag and data type in port order. Counts, tags, types, faces, areas and link
// points all come from this one table (JModuleObj::setPorts).
#include <cstddef>
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
  JPort(const char* tag, int type = JIntegerData::id)
      : tag(tag), type(type) {}  // NOLINT: a bare tag is an integer port
  JPort(std::string tag, int type) : tag(std::move(tag)), type(type) {}
  std::string tag;
  int type;
};

// A port's index worked out by the compiler from the tag list its table is built from, so that
// an index name cannot drift from the table: naming a tag the list does not hold stops the build.
//   static constexpr const char* kOutputTags[] = {"value", "text"};
//   static constexpr int kText = portIndex(kOutputTags, "text");
template <size_t N>
constexpr int portIndex(const char* const (&tags)[N], const char* tag) {
  for (size_t i = 0; i < N; ++i) {
    const char* a = tags[i];
    const char* b = tag;
    while (*a != '\0' && *a == *b) {
      ++a;
      ++b;
    }
    if (*a == *b) return static_cast<int>(i);
  }
  throw "no port has this tag";  // not a constant: the build stops here
}

// Ports first .. first + count - 1 of a tag list, for one group of a table: all of one type, or
// each of its own (types holds count entries).
template <size_t N>
std::vector<JPort> portsOf(const char* const (&tags)[N], int first, int count,
                           std::initializer_list<int> types = {JIntegerData::id}) {
  std::vector<JPort> out;
  for (int i = 0; i < count && first + i < static_cast<int>(N); ++i) {
    const int type = types.size() == static_cast<size_t>(count) ? types.begin()[i] : *types.begin();
    out.emplace_back(std::string(tags[first + i]), type);
  }
  return out;
}
template <size_t N>
std::vector<JPort> portsOf(const char* const (&tags)[N], std::initializer_list<int> types = {JIntegerData::id}) {
  return portsOf(tags, 0, static_cast<int>(N), types);
}

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
  const Slot* slot(int n) const { return (n >= 0 && n < count()) ? &index_[static_cast<size_t>(n)] : nullptr; }
  void build();

  std::vector<JPortGroup> groups_;
  std::vector<Slot> index_;
};
