// docs/modules.md is what `loomwork modules --markdown` writes for every class of a full build.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "testing/Process.h"
#include "testing/TempFolder.h"

TEST(Docs, TheModuleReferenceIsUpToDate) {
  const std::string path = std::string(LOOMWORK_SOURCE_DIR) + "/docs/modules.md";
  const ProcessResult r = runProcess(LOOMWORK_BIN, {"modules", "--markdown", "--modules", LOOMWORK_MODULES_DIR}, 60000);
  ASSERT_EQ(r.status, 0) << r.err;
  if (std::getenv("LOOMWORK_UPDATE_GOLDEN")) {
    std::filesystem::create_directories(std::string(LOOMWORK_SOURCE_DIR) + "/docs");
    std::ofstream(path) << r.out;
    return;
  }
  const std::string kept = TempFolder::read(path);
  // A build of only some module folders lists fewer classes: it cannot judge the page.
  for (size_t at = kept.find("\n## "); at != std::string::npos; at = kept.find("\n## ", at + 1)) {
    const size_t end = kept.find('\n', at + 4);
    const std::string heading = kept.substr(at, end == std::string::npos ? std::string::npos : end - at + 1);
    if (r.out.find(heading) == std::string::npos) GTEST_SKIP() << heading.substr(4) << " is not part of this build";
  }
  EXPECT_EQ(r.out, kept) << "docs/modules.md is out of date: run the test with LOOMWORK_UPDATE_GOLDEN=1";
}
