// sceneview: a stand-in for the 3-D scene viewer that the plot feed talks to. It prints every
// change the feed makes to its objects as a line, and can draw a top view of them.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "Viewer.h"

namespace {
std::atomic<bool> stopRequested{false};
void onSignal(int) { stopRequested.store(true); }

const char* kUsage =
    "usage: sceneview [--port N] [--scenes DIR] [--png FILE] [--seconds S] [--quiet]\n"
    "  --port N      TCP port on 127.0.0.1 (default 3501; 0 picks a free one)\n"
    "  --scenes DIR  folder of the scene files the feed names (default: the current folder)\n"
    "  --png FILE    writes a top view of the objects every second and at the end\n"
    "  --seconds S   ends after S seconds (default: at SIGINT or SIGTERM)\n"
    "  --quiet       no change lines\n";

bool number(const char* text, long lo, long hi, long& v) {
  char* end = nullptr;
  v = std::strtol(text, &end, 10);
  return end && *end == '\0' && end != text && v >= lo && v <= hi;
}
}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  sceneview::ViewerOptions options;
  long seconds = -1;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool hasValue = i + 1 < argc;
    long v = 0;
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (a == "--quiet") {
      options.quiet = true;
    } else if (a == "--port" && hasValue && number(argv[i + 1], 0, 65535, v)) {
      options.port = static_cast<int>(v);
      ++i;
    } else if (a == "--seconds" && hasValue && number(argv[i + 1], 0, 1000000, v)) {
      seconds = v;
      ++i;
    } else if (a == "--scenes" && hasValue) {
      options.scenes = argv[++i];
    } else if (a == "--png" && hasValue) {
      options.png = argv[++i];
    } else {
      std::fprintf(stderr, "sceneview: bad argument %s\n%s", a.c_str(), kUsage);
      return 2;
    }
  }
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
  std::signal(SIGPIPE, SIG_IGN);
  sceneview::Viewer viewer(options);
  std::string error;
  if (!viewer.listen(error)) {
    std::fprintf(stderr, "sceneview: cannot listen: %s\n", error.c_str());
    return 2;
  }
  std::printf("listening on %d\n", viewer.port());
  viewer.serve(stopRequested, seconds >= 0 ? seconds * 1000 : -1);
  return 0;
}
