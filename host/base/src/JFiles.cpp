#include "base/JFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>

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

namespace {

constexpr int kMaxLinkHops = 40;
// A temporary's name is the target's name (cut to this many bytes, so that the suffix still
// fits in a name) followed by ".tmp" and the process id.
constexpr size_t kMaxTempStem = 200;

std::string folderOf(const std::string& path) {
  size_t end = path.size();
  while (end > 1 && path[end - 1] == '/') --end;  // "out/" names the folder "out"
  const size_t slash = path.rfind('/', end - 1);
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file a path finally names, through any symbolic links (relative ones are taken from the
// link's own folder). A link that leads nowhere gives the path it leads to, which is created.
std::string followLinks(const std::string& path) {
  std::string p = path;
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    struct stat st {};
    if (::lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return p;
    char buf[PATH_MAX];
    const ssize_t n = ::readlink(p.c_str(), buf, sizeof buf - 1);
    if (n <= 0) return p;
    std::string to(buf, static_cast<size_t>(n));
    if (to[0] != '/') {
      const size_t slash = p.rfind('/');
      if (slash != std::string::npos) to = p.substr(0, slash + 1) + to;
    }
    p = to;
  }
  return p;  // still a link: a loop, reported when it is opened
}

std::string tempStem(const std::string& target) {
  const std::string name = nameOf(target);
  const std::string folder = folderOf(target);
  return (folder == "/" ? "" : folder) + "/" + name.substr(0, kMaxTempStem);
}

std::string tempNameFor(const std::string& target) { return tempStem(target) + ".tmp" + std::to_string(::getpid()); }

std::string reason(const std::string& what, int err) { return what + ": " + std::strerror(err); }

// Reopening an unnamed file by its /proc name is how writers that want a name reach it, and how
// it is linked without privileges.
std::string procName(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

void syncFolder(const std::string& folder) {
  const int d = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (d < 0) return;
  ::fsync(d);  // the rename itself; a failure here leaves a complete file either way
  ::close(d);
}

}  // namespace

JReplacingFile::JReplacingFile(std::string path) : path_(std::move(path)) {}

JReplacingFile::~JReplacingFile() { drop(); }

void JReplacingFile::drop() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!tempName_.empty()) ::unlink(tempName_.c_str());
  tempName_.clear();
}

bool JReplacingFile::open(std::string& error) {
  const std::string what = "cannot write the file";
  target_ = followLinks(path_);
  struct stat st {};
  if (::lstat(target_.c_str(), &st) == 0) {
    if (S_ISLNK(st.st_mode)) {
      error = reason(what, ELOOP);
      return false;
    }
    if (S_ISDIR(st.st_mode)) {
      error = reason(what, EISDIR);
      return false;
    }
    exists_ = true;
    mode_ = st.st_mode & 07777;
    uid_ = st.st_uid;
    gid_ = st.st_gid;
    if (!S_ISREG(st.st_mode)) {
      // A device or a pipe has no folder entry to replace; it takes the bytes as they come.
      inPlace_ = true;
      fd_ = ::open(target_.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
      if (fd_ < 0) {
        error = reason(what, errno);
        return false;
      }
      writePath_ = ::access(procName(fd_).c_str(), F_OK) == 0 ? procName(fd_) : target_;
      return true;
    }
    // The new file replaces the name, but one marked read-only is not to be replaced.
    if (::access(target_.c_str(), W_OK) != 0) {
      error = reason(what, errno);
      return false;
    }
  } else if (errno != ENOENT) {
    error = reason(what, errno);
    return false;
  }
  removeStaleTemporaries(target_);
  // A file that exists gets its own permissions at commit; until then only we may read it.
  const mode_t createMode = exists_ ? 0600 : 0666;
  fd_ = ::open(folderOf(target_).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, createMode);
  if (fd_ >= 0) {
    if (::access(procName(fd_).c_str(), F_OK) == 0) {
      unnamed_ = true;
      writePath_ = procName(fd_);
      return true;
    }
    ::close(fd_);
    fd_ = -1;
  }
  tempName_ = tempNameFor(target_);
  fd_ = ::open(tempName_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, createMode);
  if (fd_ < 0) {
    error = reason(what, errno);
    tempName_.clear();
    return false;
  }
  writePath_ = tempName_;
  return true;
}

bool JReplacingFile::commit(std::string& error) {
  const std::string what = "cannot write the file";
  if (fd_ < 0) {
    error = reason(what, EBADF);
    return false;
  }
  if (inPlace_) {
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) {
      error = reason(what, errno);
      return false;
    }
    return true;
  }
  // Data first: a rename that reaches the disk before the data would leave an empty file.
  if (::fsync(fd_) != 0 && errno != EINVAL) {
    error = reason(what, errno);
    drop();
    return false;
  }
  if (exists_) {
    // Owner and group as they were where allowed (root editing another's file); else at least
    // the group, when the writer belongs to it.
    if (::fchown(fd_, uid_, gid_) != 0) static_cast<void>(::fchown(fd_, static_cast<uid_t>(-1), gid_) == 0);
    if (::fchmod(fd_, mode_) != 0) {
      error = reason(what, errno);
      drop();
      return false;
    }
  }
  if (unnamed_) {
    tempName_ = tempNameFor(target_);
    ::unlink(tempName_.c_str());
    if (::linkat(AT_FDCWD, writePath_.c_str(), AT_FDCWD, tempName_.c_str(), AT_SYMLINK_FOLLOW) != 0 &&
        ::linkat(fd_, "", AT_FDCWD, tempName_.c_str(), AT_EMPTY_PATH) != 0) {
      const int err = errno;
      tempName_.clear();  // nothing was named
      drop();
      error = reason(what, err);
      return false;
    }
  }
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) {
    error = reason(what, errno);
    drop();
    return false;
  }
  if (std::rename(tempName_.c_str(), target_.c_str()) != 0) {
    error = reason(what, errno);
    drop();
    return false;
  }
  tempName_.clear();
  syncFolder(folderOf(target_));
  return true;
}

bool writeWholeFile(const std::string& path, const std::string& text, std::string& error) {
  JReplacingFile file(path);
  if (!file.open(error)) return false;
  const char* p = text.data();
  size_t left = text.size();
  while (left > 0) {
    const ssize_t n = ::write(file.fd(), p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = reason("cannot write the file", n < 0 ? errno : ENOSPC);
      return false;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  return file.commit(error);
}

bool checkWritableFile(const std::string& path, std::string& error) {
  if (path.empty()) return true;
  const std::string target = followLinks(path);
  struct stat st {};
  if (::lstat(target.c_str(), &st) == 0) {
    if (S_ISLNK(st.st_mode)) {
      error = reason("it cannot be reached", ELOOP);
      return false;
    }
    if (S_ISDIR(st.st_mode)) {
      error = "it is a folder";
      return false;
    }
    if (::access(target.c_str(), W_OK) != 0) {
      error = reason("the file is not writable", errno);
      return false;
    }
    if (!S_ISREG(st.st_mode)) return true;  // a device or pipe, written in place
  } else if (errno != ENOENT) {
    error = reason("it cannot be reached", errno);
    return false;
  }
  const std::string folder = folderOf(target);
  struct stat fst {};
  if (::stat(folder.c_str(), &fst) != 0 || !S_ISDIR(fst.st_mode)) {
    error = "the folder " + folder + " does not exist";
    return false;
  }
  // The only sure test of a folder (permissions, a read-only mount, quotas) is to make a file.
  int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (fd >= 0) {
    ::close(fd);
    return true;
  }
  if (errno == EACCES || errno == EPERM || errno == EROFS || errno == ENOSPC || errno == EDQUOT) {
    error = reason("the folder " + folder + " is not writable", errno);
    return false;
  }
  const std::string probe = tempNameFor(target);
  fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0 && errno != EEXIST) {
    error = reason("the folder " + folder + " is not writable", errno);
    return false;
  }
  if (fd >= 0) {
    ::close(fd);
    ::unlink(probe.c_str());
  }
  return true;
}

int removeStaleTemporaries(const std::string& path) {
  const std::string target = followLinks(path);
  const std::string folder = folderOf(target);
  const std::string prefix = nameOf(target).substr(0, kMaxTempStem) + ".tmp";
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return 0;
  int removed = 0;
  while (const dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name.size() <= prefix.size() || name.size() > prefix.size() + 10 || name.compare(0, prefix.size(), prefix) != 0)
      continue;
    long long pid = 0;
    bool digits = true;
    for (size_t i = prefix.size(); i < name.size() && digits; ++i) {
      digits = name[i] >= '0' && name[i] <= '9';
      pid = pid * 10 + (name[i] - '0');
    }
    if (!digits || pid <= 0 || pid > INT_MAX || pid == ::getpid()) continue;
    if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;  // its writer may still run
    const std::string full = (folder == "/" ? "" : folder) + "/" + name;
    struct stat st {};
    if (::lstat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::unlink(full.c_str()) == 0) ++removed;
  }
  ::closedir(dir);
  return removed;
}
