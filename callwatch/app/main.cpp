// callwatch [--headless] [--messages DIR] [END-SEQUENCE]
// Callwatch opens its window; with --headless it runs without one (app/headless).
#include <cstdio>
#include <string>
#include <vector>

#include "app/Session.h"
#include "app/desktop/DesktopMain.h"
#include "app/headless/HeadlessFront.h"
#include "app/settings/QtSettingsStore.h"

namespace {

int Usage(const char* problem) {
  if (problem) std::fprintf(stderr, "callwatch: %s\n", problem);
  std::fprintf(stderr, "usage: callwatch [--headless] [--messages DIR] [END-SEQUENCE]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  bool headless = false;
  std::string messages;
  // The parameters left for the end sequence: a folder named "2024" is not one.
  std::vector<const char*> parameters{argv[0]};
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--headless") {
      headless = true;
    } else if (arg == "--messages") {
      if (i + 1 >= argc) return Usage("--messages needs a folder");
      messages = argv[++i];
    } else if (arg == "--help" || arg == "-h") {
      Usage(nullptr);
      return 0;
    } else if (!arg.empty() && arg[0] == '-') {
      return Usage(("unknown option " + arg).c_str());
    } else {
      parameters.push_back(argv[i]);
    }
  }
  CQtSettingsStore settings;
  CCallwatchSession session(settings);
  session.Configure(parameters, messages);
  return headless ? RunHeadless(session) : RunDesktop(argc, argv, session);
}
