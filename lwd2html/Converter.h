// Core of lwd2html: output naming, byte formatting and the file conversion itself.
// main.cpp only parses the command line and prints the messages.
#pragma once

#include <cstddef>
#include <string>

namespace lwd2html {

// Name of the page written for `inputPath`: the path cut before the first '.' of its file
// name (the part after the last '/'), followed by "_lwd.html". A file name without '.' gets
// the suffix appended to the whole path. The rule is deliberately plain, so a file name that
// starts with '.' is cut right there: "dir/.hidden" -> "dir/_lwd.html".
std::string outputName(const std::string& inputPath);

// The input path as the page's title: a path is any bytes, so '<', '>', '&' and '"' are written
// as entities and cannot open markup. Every other byte stays as it is.
std::string titleText(const std::string& inputPath);

// Formats bytes as three decimal digits each ("000".."255"), with a line end after every
// tenth byte of the stream. Keeps its place in the current line between calls, so a file may
// be fed in blocks of any size.
class ByteLines {
public:
  static constexpr std::size_t kPerLine = 10;

  // Room `format` needs for n input bytes (it may scribble one byte past what it returns).
  static constexpr std::size_t capacityFor(std::size_t n) { return 3 * n + n / kPerLine + 2; }

  // Writes the text for in[0..n) to out (capacityFor(n) bytes) and returns its end.
  char* format(const unsigned char* in, std::size_t n, char* out);

private:
  std::size_t column_ = 0;  // bytes already written on the current line
};

enum class Outcome { Written, OpenFailed, ReadFailed, WriteFailed };

// Writes the page for `inputPath` to `outputPath`. The input is opened first; the output is
// created only once the input is known to be readable (and is not the input itself).
Outcome convert(const std::string& inputPath, const std::string& outputPath);

}  // namespace lwd2html
