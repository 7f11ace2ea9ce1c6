#pragma once
// The scene's object names as the viewer lists them: one comma-separated text, such as
// "box, ball,,cone". The mapper keeps one list for the whole library, shared by every instance.
#include <array>
#include <string>

constexpr int kSceneNames = 10;
constexpr size_t kSceneNameMax = 103;  // characters kept of one name; the rest is cut
using SceneNameList = std::array<std::string, kSceneNames>;

// "?1" .. "?10".
SceneNameList defaultSceneNames();
// The list a text gives: split at every comma, nothing trimmed, empty names skipped, names after
// the tenth ignored, each name cut to kSceneNameMax; entries not filled keep their default names.
SceneNameList parseDefList(const std::string& text);

// The library's shared list. Whoever receives a non-empty text rebuilds it.
class SharedSceneNames {
public:
  static SceneNameList get();
  static std::string name(int index);  // "" outside 0..9
  static void replace(const SceneNameList& names);
  static void restoreDefaults() { replace(defaultSceneNames()); }
};
