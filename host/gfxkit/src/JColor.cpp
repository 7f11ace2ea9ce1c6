#include "gfxkit/JColor.h"

#include <algorithm>

// All constant-initialised (the constructor is constexpr), so they are valid before any static
// initialiser of any library runs.
const JColor JColor::black(0, 0, 0);
const JColor JColor::white(255, 255, 255);
const JColor JColor::red(255, 0, 0);
const JColor JColor::green(0, 255, 0);
const JColor JColor::blue(0, 0, 255);
const JColor JColor::yellow(255, 255, 0);
const JColor JColor::cyan(0, 255, 255);
const JColor JColor::magenta(255, 0, 255);
const JColor JColor::orange(255, 200, 0);
const JColor JColor::pink(255, 175, 175);
const JColor JColor::gray(128, 128, 128);
const JColor JColor::lightGray(192, 192, 192);
const JColor JColor::darkGray(64, 64, 64);

namespace {
constexpr double kFactor = 0.7;
constexpr int kMinBright = 3;  // int(1 / (1 - 0.7))

int darken(int c) { return static_cast<int>(c * kFactor); }
int brighten(int c) {
  if (c > 0 && c < kMinBright) c = kMinBright;
  return std::min(static_cast<int>(c / kFactor), 255);
}
}  // namespace

JColor JColor::darker() const { return JColor(darken(r_), darken(g_), darken(b_), a_); }

JColor JColor::brighter() const {
  if (r_ == 0 && g_ == 0 && b_ == 0) return JColor(kMinBright, kMinBright, kMinBright, a_);
  return JColor(brighten(r_), brighten(g_), brighten(b_), a_);
}

JNode JColor::toNode() const {
  JNode channels = JNode::list();
  channels.push(JNode::integer(r_));
  channels.push(JNode::integer(g_));
  channels.push(JNode::integer(b_));
  if (a_ != 255) channels.push(JNode::integer(a_));
  JNode tagged = JNode::map();
  tagged.set(className(), std::move(channels));
  return tagged;
}

bool JColor::fromNode(const JNode& n) {
  if (!n.isMap() || n.entries().size() != 1 || n.entries()[0].first != className()) return false;
  const JNode& list = n.entries()[0].second;
  if (!list.isList()) return false;
  const auto& items = list.items();
  if (items.size() != 3 && items.size() != 4) return false;
  int v[4] = {0, 0, 0, 255};
  for (size_t i = 0; i < items.size(); ++i) {
    if (!items[i].isInteger()) return false;
    v[i] = static_cast<int>(std::clamp(items[i].asInteger(), 0LL, 255LL));
  }
  *this = JColor(v[0], v[1], v[2], v[3]);
  return true;
}
