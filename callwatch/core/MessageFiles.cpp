#include "core/MessageFiles.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

std::string SafeFileNamePart(const std::string& text) {
  std::string safe = text.substr(0, kMostCallerInFileName);
  for (char& c : safe) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 32 || u == 127 || c == '/' || c == '\\') c = '_';
  }
  if (!safe.empty() && safe[0] == '.') safe[0] = '_';
  return safe;
}

std::string MessageFileName(const std::string& name, const std::string& number, const struct tm& localTime) {
  std::string file;
  if (!name.empty() && name[0] != '<') file += SafeFileNamePart(name) + " ";
  if (!number.empty() && number[0] != '<') file += ", " + SafeFileNamePart(number) + " ";
  char when[65];
  // The C locale's day and month names, whatever the user's locale.
  size_t n = std::strftime(when, sizeof when, "%a, %b %d, %H%M hours", &localTime);
  file.append(when, n);
  if (!file.empty() && file[0] == '.') file[0] = '_';
  return file + ".wav";
}

std::string FreeMessagePath(const std::string& folder, const std::string& fileName) {
  std::string path = folder + "/" + fileName;
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 && errno == ENOENT) return path;
  std::string stem = fileName;
  if (stem.size() >= 4 && stem.compare(stem.size() - 4, 4, ".wav") == 0) stem.resize(stem.size() - 4);
  for (int i = 2; i < 10000; ++i) {
    path = folder + "/" + stem + " (" + std::to_string(i) + ").wav";
    if (::lstat(path.c_str(), &st) != 0 && errno == ENOENT) return path;
  }
  return "";
}

std::string DefaultMessagesFolder() {
  char path[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  std::string program = n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string("./x");
  return program.substr(0, program.rfind('/')) + "/Messages";
}

bool EnsureFolder(const std::string& folder) {
  struct stat st;
  if (::stat(folder.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  return ::mkdir(folder.c_str(), 0755) == 0;
}
