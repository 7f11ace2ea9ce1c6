#pragma once
// The digit link's trace file ("test.txt"): every step of the link, one line at a time, flushed
// at once so that the file tells what happened even when Callwatch is stopped mid-call. Lines
// are written only while the file is open.
#include <cstdio>
#include <string>

class CDigitTrace {
public:
  CDigitTrace() = default;
  ~CDigitTrace() { Close(); }
  CDigitTrace(const CDigitTrace&) = delete;
  CDigitTrace& operator=(const CDigitTrace&) = delete;

  bool Open(const std::string& path);  // truncates; false when it cannot be written
  void Close();
  bool IsOpen() const { return file_ != nullptr; }
  void Write(const char* format, ...) __attribute__((format(printf, 2, 3)));

private:
  FILE* file_ = nullptr;
};
