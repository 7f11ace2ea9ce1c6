#include "base/JFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

bool readWholeFile(const std::string& path, size_t maxBytes, std::string& out, std::string& error) {
  out.clear();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    if (fd >= 0) ::close(fd);
    error = "cannot read the file";
    return false;
  }
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      error = "cannot read the file";
      out.clear();
      return false;
    }
    if (n == 0) break;
    if (out.size() + static_cast<size_t>(n) > maxBytes) {
      ::close(fd);
      error = "the file is larger than " + std::to_string(maxBytes) + " bytes";
      out.clear();
      return false;
    }
    out.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return true;
}

bool writeWholeFile(const std::string& path, const std::string& text, std::string& error) {
  std::string temp = path + ".tmp" + std::to_string(::getpid());
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    error = "cannot write the file";
    return false;
  }
  const char* p = text.data();
  size_t left = text.size();
  bool ok = true;
  while (left > 0 && ok) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ok = false;
    else {
      p += n;
      left -= static_cast<size_t>(n);
    }
  }
  if (::close(fd) != 0) ok = false;
  if (!ok || std::rename(temp.c_str(), path.c_str()) != 0) {
    ::unlink(temp.c_str());
    error = "cannot write the file";
    return false;
  }
  return true;
}
