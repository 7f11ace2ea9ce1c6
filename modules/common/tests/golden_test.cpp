// Every class this build makes, as `loomwork modules --json` lists it from the libraries, against
// the golden file beside its tests: the tags, types and sides of its ports and its properties.
#include <gtest/gtest.h>

#include "testing/Golden.h"

TEST(Golden, EveryClassListsThePortsAndPropertiesOfItsGoldenFile) {
  const auto differences = compareModulesWithGolden(LOOMWORK_BIN, LOOMWORK_MODULES_DIR, LOOMWORK_SOURCE_DIR);
  for (const auto& d : differences) ADD_FAILURE() << d.className << ": " << d.what;
}
