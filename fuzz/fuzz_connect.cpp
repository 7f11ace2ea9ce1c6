// The digit link's reading of "connect.txt": any file gives a host name within the line bound,
// without control characters at its end, and never an empty one.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "link/DigitLink.h"
#include "link/DigitTrace.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = [] {
    char tmpl[] = "/tmp/fuzz-connect-XXXXXX";
    int fd = mkstemp(tmpl);
    if (fd >= 0) close(fd);
    return std::string(tmpl);
  }();
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  CDigitTrace trace;  // not open: nothing is written
  std::string host = ReadLoomworkHost(path, trace);
  if (host.empty() || host.size() > static_cast<size_t>(kMaxHostLine)) std::abort();
  return 0;
}
