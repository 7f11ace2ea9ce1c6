#include "SceneNames.h"

#include <mutex>

SceneNameList defaultSceneNames() {
  SceneNameList names;
  for (int i = 0; i < kSceneNames; ++i) names[static_cast<size_t>(i)] = "?" + std::to_string(i + 1);
  return names;
}

SceneNameList parseDefList(const std::string& text) {
  SceneNameList names = defaultSceneNames();
  size_t next = 0;
  size_t start = 0;
  while (start <= text.size() && next < names.size()) {
    size_t comma = text.find(',', start);
    if (comma == std::string::npos) comma = text.size();
    if (comma > start) names[next++] = text.substr(start, std::min(comma - start, kSceneNameMax));
    start = comma + 1;
  }
  return names;
}

namespace {
// Mappers of several diagrams may live in one process (and in tests on several threads).
std::mutex& namesMutex() {
  static std::mutex m;
  return m;
}
SceneNameList& sharedNames() {
  static SceneNameList names = defaultSceneNames();
  return names;
}
}  // namespace

SceneNameList SharedSceneNames::get() {
  std::lock_guard<std::mutex> g(namesMutex());
  return sharedNames();
}

std::string SharedSceneNames::name(int index) {
  if (index < 0 || index >= kSceneNames) return std::string();
  std::lock_guard<std::mutex> g(namesMutex());
  return sharedNames()[static_cast<size_t>(index)];
}

void SharedSceneNames::replace(const SceneNameList& names) {
  std::lock_guard<std::mutex> g(namesMutex());
  sharedNames() = names;
}
