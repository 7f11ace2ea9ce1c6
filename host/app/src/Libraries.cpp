#include "Libraries.h"

#include <dirent.h>
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "Monitor.h"
#include "Player.h"
#include "SerialPort.h"
#include "Timer.h"
#include "Value.h"

namespace {
bool isDir(const std::string& p) {
  struct stat st {};
  return ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string programFolder() {
  char buf[4096];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  std::string p(buf, static_cast<size_t>(n));
  auto slash = p.rfind('/');
  return slash == std::string::npos ? "." : p.substr(0, slash);
}

std::vector<std::string> split(const std::string& s, char sep) {
  std::vector<std::string> out;
  size_t b = 0;
  for (;;) {
    size_t e = s.find(sep, b);
    std::string part = s.substr(b, e == std::string::npos ? std::string::npos : e - b);
    if (!part.empty()) out.push_back(part);
    if (e == std::string::npos) break;
    b = e + 1;
  }
  return out;
}

void loadFolder(const std::string& folder) {
  DIR* d = ::opendir(folder.c_str());
  if (!d) {
    std::fprintf(stderr, "loomwork: warning: cannot read module folder %s\n", folder.c_str());
    return;
  }
  std::vector<std::string> names;
  while (dirent* e = ::readdir(d)) {
    std::string n = e->d_name;
    if (n.size() > 3 && n.compare(n.size() - 3, 3, ".so") == 0) names.push_back(n);
  }
  ::closedir(d);
  std::sort(names.begin(), names.end());
  for (const auto& n : names) {
    std::string path = folder + "/" + n;
    // Libraries stay loaded for the whole process: their classes' prototypes live in them.
    if (!::dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL))
      std::fprintf(stderr, "loomwork: warning: cannot load %s: %s\n", path.c_str(), ::dlerror());
  }
}
}  // namespace

std::vector<std::string> loadModuleLibraries(const std::vector<std::string>& folders) {
  std::vector<std::string> use = folders;
  if (use.empty()) {
    if (const char* env = std::getenv("LOOMWORK_MODULES")) use = split(env, ':');
  }
  if (use.empty()) {
    std::string here = programFolder();
    std::vector<std::string> looked;
    for (const char* rel : {"/../modules", "/../lib/loomwork/modules"}) {
      if (isDir(here + rel)) {
        use.push_back(here + rel);
        break;
      }
      looked.push_back(here + rel + " (no such folder)");
    }
    // Neither beside the program (a binary moved away from its tree): name the places looked at.
    if (use.empty()) {
      looked.push_back("$LOOMWORK_MODULES (not set)");
      return looked;
    }
  }
  for (const auto& f : use) loadFolder(f);
  return use;
}

void registerHostModules() {
  Player().Register();
  Monitor().Register();
  Timer().Register();
  Value().Register();
  SerialPort().Register();
}
