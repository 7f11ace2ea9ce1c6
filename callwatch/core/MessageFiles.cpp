#include "core/MessageFiles.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>

namespace {

// The length of the valid UTF-8 sequence that starts at text[i] (overlong forms, surrogates and
// code points past U+10FFFF are not valid), 0 when none starts there; its code point in *cp.
size_t Utf8Sequence(const std::string& text, size_t i, uint32_t* cp) {
  const unsigned char lead = static_cast<unsigned char>(text[i]);
  size_t length;
  if (lead < 0x80) {
    *cp = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    *cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    *cp = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    *cp = lead & 0x07;
  } else {
    return 0;
  }
  if (text.size() - i < length) return 0;
  for (size_t k = 1; k < length; ++k) {
    const unsigned char next = static_cast<unsigned char>(text[i + k]);
    if ((next & 0xC0) != 0x80) return 0;
    *cp = (*cp << 6) | (next & 0x3F);
  }
  if (length == 3 && (*cp < 0x800 || (*cp >= 0xD800 && *cp <= 0xDFFF))) return 0;
  if (length == 4 && (*cp < 0x10000 || *cp > 0x10FFFF)) return 0;
  return length;
}

bool IsControl(uint32_t cp) { return cp < 32 || (cp >= 0x7F && cp <= 0x9F); }

}  // namespace

std::string SafeFileNamePart(const std::string& text) {
  std::string safe;
  for (size_t i = 0; i < text.size();) {
    uint32_t cp = 0;
    const size_t length = Utf8Sequence(text, i, &cp);
    const bool keep = length > 0 && !IsControl(cp) && cp != '/' && cp != '\\';
    const size_t width = keep ? length : 1;
    if (safe.size() + width > kMostCallerInFileName) break;  // never half a character
    if (keep) safe.append(text, i, length);
    else safe += '_';
    i += length > 0 ? length : 1;
  }
  if (!safe.empty() && (safe[0] == '.' || safe[0] == '-')) safe[0] = '_';
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
  if (!file.empty() && (file[0] == '.' || file[0] == '-')) file[0] = '_';
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

std::string UserMessagesFolder() {
  // A relative $XDG_DATA_HOME is not valid and is passed over, as the base directory rules say.
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data && data[0] == '/') return std::string(data) + "/Callwatch/Messages";
  std::string home;
  if (const char* env = std::getenv("HOME"); env && *env) {
    home = env;
  } else {
    struct passwd entry {};
    struct passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(::getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found && found->pw_dir)
      home = found->pw_dir;
  }
  if (home.empty()) return "";
  return home + "/.local/share/Callwatch/Messages";
}

bool WritableFolder(const std::string& folder) {
  if (folder.empty()) return false;
  // The missing parents first (~/.local/share may not exist yet).
  for (size_t slash = folder.find('/', 1); slash != std::string::npos; slash = folder.find('/', slash + 1)) {
    const std::string parent = folder.substr(0, slash);
    struct stat st;
    if (::stat(parent.c_str(), &st) != 0 && ::mkdir(parent.c_str(), 0755) != 0) return false;
  }
  if (!EnsureFolder(folder)) return false;
  // Permissions say little (root, read-only mounts): a file made and removed says it all.
  std::string probe = folder + "/.callwatch-XXXXXX";
  const int fd = ::mkstemp(probe.data());
  if (fd < 0) return false;
  ::close(fd);
  ::unlink(probe.c_str());
  return true;
}

std::string ChooseMessagesFolder(const std::string& given, std::vector<std::string>* tried) {
  std::vector<std::string> candidates;
  if (!given.empty()) {
    candidates.push_back(given);
  } else {
    candidates.push_back(DefaultMessagesFolder());
    if (std::string user = UserMessagesFolder(); !user.empty()) candidates.push_back(user);
  }
  for (const std::string& folder : candidates) {
    if (tried) tried->push_back(folder);
    if (WritableFolder(folder)) return folder;
  }
  return "";
}
