#include "link/DigitTrace.h"

#include <cstdarg>

bool CDigitTrace::Open(const std::string& path) {
  Close();
  file_ = std::fopen(path.c_str(), "w");
  return file_ != nullptr;
}

void CDigitTrace::Close() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
}

void CDigitTrace::Write(const char* format, ...) {
  if (!file_) return;
  va_list args;
  va_start(args, format);
  std::vfprintf(file_, format, args);
  va_end(args);
  std::fflush(file_);
}
