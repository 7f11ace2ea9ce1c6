// Escaping of quoted input, and files replaced whole: permissions, links, stale temporaries,
// write errors, and the check made before a run.
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <set>
#include <sstream>

#include "base/JFiles.h"
#include "base/JString.h"

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

class Folder {
public:
  Folder() {
    std::string tmpl = (fs::temp_directory_path() / "jfiles-XXXXXX").string();
    if (::mkdtemp(tmpl.data())) path_ = tmpl;
    ::chmod(path_.c_str(), 0755);  // reachable by the unprivileged child of the read-only case
  }
  ~Folder() {
    std::error_code ec;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    for (const auto& e : fs::recursive_directory_iterator(path_, ec))
      if (e.is_directory(ec)) fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
  }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  std::string put(const std::string& name, const std::string& text, mode_t mode = 0644) const {
    std::ofstream(file(name), std::ios::binary) << text;
    ::chmod(file(name).c_str(), mode);
    return file(name);
  }
  std::set<std::string> names() const {
    std::set<std::string> n;
    for (const auto& e : fs::directory_iterator(path_)) n.insert(e.path().filename().string());
    return n;
  }
  const std::string& path() const { return path_; }

private:
  std::string path_;
};

std::string read(const std::string& path) {
  std::ostringstream s;
  s << std::ifstream(path, std::ios::binary).rdbuf();
  return s.str();
}

mode_t modeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

bool isLink(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// Runs body in a child process and gives back its exit status (or -1): for limits and users that
// must not touch the test process itself.
int inChild(const std::function<int()>& body) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(body());
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

pid_t deadPid() {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(0);
  ::waitpid(pid, nullptr, 0);
  return pid;
}

}  // namespace

TEST(EscapeForMessage, ControlsAndInvalidUtf8BecomeHexTheRestStays) {
  // What a hostile CSV field did to a terminal: set the title, clear the screen.
  EXPECT_EQ(escapeForMessage("\x1b]0;owned\x07\x1b[2J"), "\\x1b]0;owned\\x07\\x1b[2J");
  EXPECT_EQ(escapeForMessage("a\tb\nc\rd\x7f"
                             "e\0f"s),
            "a\\x09b\\x0ac\\x0dd\\x7fe\\x00f");
  // Printable ASCII, quotes and backslashes, and valid UTF-8 up to four bytes are left alone.
  for (const std::string& same :
       {""s, "id \"v\" C:\\dir\\x1b ~"s, "Grüße € \xf0\x9d\x84\x9e \xc2\xa0nbsp"s, "\xef\xbf\xbf \xf4\x8f\xbf\xbf"s})
    EXPECT_EQ(escapeForMessage(same), same);
  // C1 controls (a one-byte CSI for some terminals) are escaped though they are valid UTF-8.
  EXPECT_EQ(escapeForMessage("\xc2\x9b"
                             "2J \xc2\x85"),
            "\\xc2\\x9b2J \\xc2\\x85");
  // Invalid sequences, byte by byte: stray bytes, a cut sequence, an overlong form, a surrogate,
  // a value past U+10FFFF, a lead byte followed by ASCII.
  EXPECT_EQ(escapeForMessage("\xff\xfe"), "\\xff\\xfe");
  EXPECT_EQ(escapeForMessage("end\xe2\x82"), "end\\xe2\\x82");
  EXPECT_EQ(escapeForMessage("\xc0\xaf\xe0\x80\xaf"), "\\xc0\\xaf\\xe0\\x80\\xaf");
  EXPECT_EQ(escapeForMessage("\xed\xa0\x80"), "\\xed\\xa0\\x80");
  EXPECT_EQ(escapeForMessage("\xf4\x90\x80\x80"), "\\xf4\\x90\\x80\\x80");
  EXPECT_EQ(escapeForMessage("\xc3"
                             "A\xc3\xa9"),
            "\\xc3A\xc3\xa9");
  // Every byte value alone and in a row: nothing below 0x20 or at 0x7f survives, and escaping
  // what is already escaped changes nothing, so layers may each escape.
  std::string all;
  for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
  const std::string once = escapeForMessage(all);
  for (char c : once)
    EXPECT_TRUE(static_cast<unsigned char>(c) >= 0x20 && c != 0x7f && static_cast<unsigned char>(c) < 0x80);
  EXPECT_EQ(escapeForMessage(once), once);
}

TEST(ReplacingFile, KeepsPermissionsAndWritesThroughLinks) {
  Folder dir;
  std::string error;
  const std::string secret = dir.put("secret.lwd", "old", 0600);
  const std::string shared = dir.put("shared.lwd", "old", 0640);
  ASSERT_TRUE(writeWholeFile(secret, "new", error)) << error;
  ASSERT_TRUE(writeWholeFile(shared, "new", error)) << error;
  EXPECT_EQ(read(secret), "new");
  EXPECT_EQ(modeOf(secret), 0600u);
  EXPECT_EQ(modeOf(shared), 0640u);
  const mode_t old = ::umask(027);
  ASSERT_TRUE(writeWholeFile(dir.file("fresh.lwd"), "x", error)) << error;
  ::umask(old);
  EXPECT_EQ(modeOf(dir.file("fresh.lwd")), 0640u);  // a new file as the umask says

  // Links, relative and absolute and in a chain, are written through and stay links.
  fs::create_directory(dir.file("sub"));
  const std::string inner = dir.put("sub/inner.lwd", "old", 0600);
  fs::create_symlink("sub/inner.lwd", dir.file("rel.lwd"));
  fs::create_symlink(dir.file("rel.lwd"), dir.file("abs.lwd"));
  ASSERT_TRUE(writeWholeFile(dir.file("abs.lwd"), "through", error)) << error;
  EXPECT_TRUE(isLink(dir.file("rel.lwd")) && isLink(dir.file("abs.lwd")));
  EXPECT_EQ(read(inner), "through");
  EXPECT_EQ(modeOf(inner), 0600u);
  // A link to nothing yet makes its target.
  fs::create_symlink("sub/later.lwd", dir.file("later.lwd"));
  ASSERT_TRUE(writeWholeFile(dir.file("later.lwd"), "made", error)) << error;
  EXPECT_TRUE(isLink(dir.file("later.lwd")));
  EXPECT_EQ(read(dir.file("sub/later.lwd")), "made");
  // A loop of links and a folder are refused with the reason.
  fs::create_symlink("loop2", dir.file("loop1"));
  fs::create_symlink("loop1", dir.file("loop2"));
  EXPECT_FALSE(writeWholeFile(dir.file("loop1"), "x", error));
  EXPECT_EQ(error, "cannot write the file: Too many levels of symbolic links");
  EXPECT_FALSE(writeWholeFile(dir.file("sub"), "x", error));
  EXPECT_EQ(error, "cannot write the file: Is a directory");
  EXPECT_TRUE(fs::is_directory(dir.file("sub")));
  // Nothing else was left behind.
  EXPECT_EQ(dir.names(), (std::set<std::string>{"secret.lwd", "shared.lwd", "fresh.lwd", "sub", "rel.lwd", "abs.lwd",
                                                "later.lwd", "loop1", "loop2"}));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.file("sub")), fs::directory_iterator()), 2);
}

TEST(ReplacingFile, WriteErrorsNameTheReasonAndKeepTheOldFile) {
  Folder dir;
  std::string error;
  // A full disk, as a device that is always full: written in place, the reason named.
  EXPECT_FALSE(writeWholeFile("/dev/full", "x", error));
  EXPECT_EQ(error, "cannot write the file: No space left on device");
  struct stat st {};
  EXPECT_TRUE(::stat("/dev/full", &st) == 0 && S_ISCHR(st.st_mode));
  EXPECT_FALSE(writeWholeFile(dir.file("no/such/f.lwd"), "x", error));
  EXPECT_EQ(error, "cannot write the file: No such file or directory");

  // A file size limit stops the write half way: the old file stays, nothing is left beside it.
  const std::string f = dir.put("f.lwd", "old", 0600);
  const int status = inChild([&] {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4096, 4096};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::string why;
    if (writeWholeFile(f, std::string(100000, 'n'), why)) return 1;
    return why == "cannot write the file: File too large" ? 0 : 2;
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(read(f), "old");
  EXPECT_EQ(dir.names(), std::set<std::string>{"f.lwd"});

  // A file marked read-only is not replaced (root may write anything, so only for others).
  if (::geteuid() != 0) {
    const std::string ro = dir.put("ro.lwd", "old", 0444);
    EXPECT_FALSE(writeWholeFile(ro, "new", error));
    EXPECT_EQ(error, "cannot write the file: Permission denied");
    EXPECT_EQ(read(ro), "old");
  }
}

TEST(ReplacingFile, StaleTemporariesOfEndedWritersAreRemoved) {
  Folder dir;
  const std::string f = dir.put("d.lwd", "old");
  const std::string dead = "d.lwd.tmp" + std::to_string(deadPid());
  const std::string live = "d.lwd.tmp" + std::to_string(::getppid());
  for (const std::string& name : {dead, live, "d.lwd.tmpx1"s, "e.lwd.tmp" + dead.substr(9)}) dir.put(name, "debris");
  std::string error;
  ASSERT_TRUE(writeWholeFile(f, "new", error)) << error;
  EXPECT_EQ(read(f), "new");
  // Only the dead writer's file of this target goes: one still running may be writing it.
  EXPECT_EQ(dir.names(), (std::set<std::string>{"d.lwd", live, "d.lwd.tmpx1", "e.lwd.tmp" + dead.substr(9)}));
  dir.put(dead, "debris");
  EXPECT_EQ(removeStaleTemporaries(f), 1);
  EXPECT_EQ(removeStaleTemporaries(f), 0);

  // A name too long for a suffix still gets a temporary, and its debris is still found.
  const std::string longName(250, 'n');
  const std::string stale = longName.substr(0, 200) + ".tmp" + std::to_string(deadPid());
  dir.put(stale, "debris");
  ASSERT_TRUE(writeWholeFile(dir.file(longName), "long", error)) << error;
  EXPECT_EQ(read(dir.file(longName)), "long");
  EXPECT_FALSE(fs::exists(dir.file(stale)));
}

TEST(CheckWritableFile, RefusesFoldersMissingFoldersAndFoldersThatTakeNoFiles) {
  Folder dir;
  std::string error;
  EXPECT_TRUE(checkWritableFile("", error));
  EXPECT_TRUE(checkWritableFile(dir.file("new.png"), error)) << error;
  EXPECT_TRUE(checkWritableFile(dir.put("old.png", "x"), error)) << error;
  EXPECT_TRUE(checkWritableFile("/dev/null", error)) << error;  // a device is written in place
  EXPECT_EQ(dir.names(), std::set<std::string>{"old.png"});     // checking made nothing

  EXPECT_FALSE(checkWritableFile(dir.path(), error));
  EXPECT_EQ(error, "it is a folder");
  fs::create_symlink(dir.path(), dir.file("to-folder"));
  EXPECT_FALSE(checkWritableFile(dir.file("to-folder"), error));
  EXPECT_EQ(error, "it is a folder");
  EXPECT_FALSE(checkWritableFile(dir.file("missing/x.lwd"), error));
  EXPECT_EQ(error, "the folder " + dir.file("missing") + " does not exist");
  EXPECT_FALSE(checkWritableFile(dir.file("old.png/x.lwd"), error));
  EXPECT_EQ(error, "it cannot be reached: Not a directory");

  // A folder without write permission, seen by a user it applies to (root passes every mode).
  fs::create_directory(dir.file("ro"));
  ::chmod(dir.file("ro").c_str(), 0555);
  const std::string ro = dir.file("ro/out.lwd");
  const int status = inChild([&] {
    if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)) return 3;
    std::string why;
    if (checkWritableFile(ro, why)) return 1;
    return why == "the folder " + dir.file("ro") + " is not writable: Permission denied" ? 0 : 2;
  });
  EXPECT_EQ(status, 0);
}
