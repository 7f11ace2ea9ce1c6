// sceneview: a stand-in for the 3-D scene viewer that the plot feed talks to. It prints every
// change the feed makes to its objects as a line, and can draw a top view of them.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "SceneProtocol.h"
#include "Viewer.h"

namespace {
std::atomic<bool> stopRequested{false};
void onSignal(int) { stopRequested.store(true); }

const char* kUsage =
    "usage: sceneview [--port N] [--scenes DIR] [--png FILE] [--seconds S] [--quiet]\n"
    "  --port N      TCP port on 127.0.0.1 (default 3501; 0 picks a free one)\n"
    "  --scenes DIR  folder of the scene files the feed names (default: the current folder); a name\n"
    "                is taken only inside it, as a regular file of at most 4 MiB\n"
    "  --png FILE    writes a top view of the objects every second and at the end\n"
    "  --seconds S   ends after S seconds (default: at SIGINT or SIGTERM)\n"
    "  --quiet       no change lines\n"
    "  --help        this text\n"
    "  --version     the version\n"
    "A client that sends nothing for 30 s is dropped (a feed connects again by itself).\n"
    "Environment:\n"
    "  LOOMWORK_FONT           font file for the names in the --png picture (default DejaVu Sans)\n"
    "  SCENEVIEW_TEST_IDLE_MS  for tests only: drop silent clients after this many ms instead\n";

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
    } else if (a == "--version") {
      std::printf("sceneview %s\n", SCENEVIEW_VERSION);
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
  // Tests shorten the wait for silent clients; users have no need to.
  if (const char* idle = std::getenv("SCENEVIEW_TEST_IDLE_MS")) {
    long v = 0;
    if (number(idle, 1, 3600000, v)) options.idleMs = static_cast<int>(v);
  }
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
  std::signal(SIGPIPE, SIG_IGN);
  sceneview::Viewer viewer(options);
  std::string error;
  if (!viewer.checkPaths(error)) {
    std::fprintf(stderr, "sceneview: %s\n", sceneview::printable(error).c_str());
    return 2;
  }
  if (!viewer.listen(error)) {
    std::fprintf(stderr, "sceneview: cannot listen: %s\n", error.c_str());
    return 2;
  }
  std::printf("listening on %d\n", viewer.port());
  viewer.serve(stopRequested, seconds >= 0 ? seconds * 1000 : -1);
  return 0;
}
