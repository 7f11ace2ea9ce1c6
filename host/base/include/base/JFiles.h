#pragma once
// Whole-file reading and writing for the host's own files (diagrams, recordings, pictures).
#include <sys/types.h>

#include <string>

// Reads a regular file of at most maxBytes; false with the reason ("cannot read the file",
// "the file is larger than N bytes") in error.
bool readWholeFile(const std::string& path, size_t maxBytes, std::string& out, std::string& error);

// A file written beside the one it replaces and put in its place only once it is complete, so
// that a failure or a kill at any moment leaves either the old file or the new one, whole.
//
// - The new file has no name until commit() (an unnamed file where the file system offers one);
//   otherwise it is NAME.tmpPID beside the target, and files of that pattern left by processes
//   that no longer run are removed when the next one is opened.
// - A symbolic link is written through: its target is replaced, the link stays.
// - A file that exists keeps its permissions (and, where allowed, its owner and group).
// - A target that exists and is no regular file (a device, a pipe) is written in place.
// Errors name the reason (the system's text for it).
class JReplacingFile {
public:
  explicit JReplacingFile(std::string path);
  ~JReplacingFile();  // a file not committed is dropped
  JReplacingFile(const JReplacingFile&) = delete;
  JReplacingFile& operator=(const JReplacingFile&) = delete;

  bool open(std::string& error);
  // Descriptor to write to, after open().
  int fd() const { return fd_; }
  // A name that opens the same file, for writers that take a file name (an image library);
  // writing through it truncates what was written through fd().
  const std::string& writePath() const { return writePath_; }
  // Makes the written file durable and gives it the target's name. Once only.
  bool commit(std::string& error);

private:
  void drop();
  std::string path_;    // as given
  std::string target_;  // after following symbolic links
  std::string tempName_;
  std::string writePath_;
  int fd_ = -1;
  bool unnamed_ = false;  // an unnamed file (linked at commit)
  bool inPlace_ = false;  // a device or pipe, written directly
  bool exists_ = false;
  mode_t mode_ = 0;
  uid_t uid_ = 0;
  gid_t gid_ = 0;
};

// Writes a file through JReplacingFile, so that a failed write leaves the old file as it was.
bool writeWholeFile(const std::string& path, const std::string& text, std::string& error);

// Whether path can be written as a file before any work is done: its folder exists and takes
// new files, and it is no folder itself. False with the reason in error, one phrase without the
// path ("the folder F does not exist", "it is a folder", "the folder F is not writable: WHY",
// "the file is not writable: WHY").
bool checkWritableFile(const std::string& path, std::string& error);

// Removes NAME.tmpPID files beside path whose process no longer runs (left by a kill while
// saving). Returns how many were removed.
int removeStaleTemporaries(const std::string& path);
