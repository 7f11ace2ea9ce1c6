// The installed tree as a user gets it: `cmake --install` into a fresh prefix, an example run from
// there with only the prefix's bin on PATH and no LOOMWORK_MODULES, and the SDK example built
// against the prefix through find_package(Loomwork) and loaded by the installed loomwork.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "testing/Process.h"
#include "testing/TempFolder.h"

namespace fs = std::filesystem;

namespace {
// Runs a command line through env, with the given PATH and LOOMWORK_MODULES unset.
ProcessResult shell(const std::string& path, const std::vector<std::string>& args, int ms) {
  std::vector<std::string> all{"-u", "LOOMWORK_MODULES", "PATH=" + path};
  all.insert(all.end(), args.begin(), args.end());
  return runProcess("/usr/bin/env", all, ms);
}
}  // namespace

TEST(Install, ThePrefixRunsExamplesAndBuildsTheSdkExample) {
  TempFolder dir("loomwork-install");
  const std::string prefix = dir.file("prefix");
  const std::string systemPath = "/usr/local/bin:/usr/bin:/bin";
  ProcessResult r = shell(systemPath, {"cmake", "--install", LOOMWORK_BUILD_DIR, "--prefix", prefix}, 120000);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_TRUE(fs::exists(prefix + "/bin/loomwork"));
  EXPECT_TRUE(fs::exists(prefix + "/bin/lwd2html"));
  EXPECT_TRUE(fs::exists(prefix + "/share/loomwork/examples/first/first.lwd"));
  EXPECT_TRUE(fs::exists(prefix + "/include/loomwork/loom/JModuleObj.h"));
  EXPECT_FALSE(fs::exists(prefix + "/bin/loomwork_tests")) << "test programs are not installed";

  // The installed program on its own: its modules folder found beside it, examples runnable.
  r = shell(prefix + "/bin", {"loomwork", "run", prefix + "/share/loomwork/examples/first/first.lwd", "--until-idle"},
            60000);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("M monitor.0 "), std::string::npos) << r.out;
  r = shell(prefix + "/bin", {"loomwork", "modules", "--json"}, 60000);
  EXPECT_EQ(r.status, 0) << r.err;
  if (fs::exists(std::string(LOOMWORK_MODULES_DIR) + "/JToneDigitObj.so")) {
    EXPECT_NE(r.out.find("\"JToneDigitObj\""), std::string::npos) << "the installed module libraries";
  }

  // The SDK example against the prefix.
  const std::string sdkBuild = dir.file("sdk-build");
  r = shell(systemPath,
            {"cmake", "-S", std::string(LOOMWORK_SOURCE_DIR) + "/examples/sdk", "-B", sdkBuild, "-G",
             LOOMWORK_GENERATOR, "-DCMAKE_PREFIX_PATH=" + prefix},
            120000);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  r = shell(systemPath, {"cmake", "--build", sdkBuild}, 240000);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  ASSERT_TRUE(fs::exists(sdkBuild + "/JStepCounter.so"));
  r = shell(prefix + "/bin",
            {"loomwork", "run", std::string(LOOMWORK_SOURCE_DIR) + "/examples/sdk/counter.lwd", "--seconds", "1.05",
             "--modules", sdkBuild},
            60000);
  EXPECT_EQ(r.status, 0) << r.err;
  // Ticks every 100 ms, steps of 5, past 20 back to 0.
  const auto lines = r.outLines();
  ASSERT_GE(lines.size(), 10u) << r.out;
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 10),
            (std::vector<std::string>{"M mon.0 5", "M mon.1 \"5\"", "M mon.0 10", "M mon.1 \"10\"", "M mon.0 15",
                                      "M mon.1 \"15\"", "M mon.0 20", "M mon.1 \"20\"", "M mon.0 0", "M mon.1 \"0\""}));
}
