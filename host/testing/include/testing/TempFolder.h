#pragma once
// A fresh folder under the system's temporary folder, removed with everything in it at the end.
#include <string>

class TempFolder {
public:
  explicit TempFolder(const std::string& prefix = "loomwork-test");
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  bool ok() const { return !path_.empty(); }
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  // Writes a file in the folder; returns its path.
  std::string write(const std::string& name, const std::string& content) const;
  static std::string read(const std::string& path);  // "" when it cannot be read

private:
  std::string path_;
};
