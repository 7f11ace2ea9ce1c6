#include "Converter.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lwd2html {
namespace {

constexpr std::size_t kBlock = std::size_t{1} << 20;  // input bytes per read

// Digits of every byte value. Entries are 4 bytes wide so one fixed-size copy places a byte's
// text; the 4th byte is overwritten by whatever follows.
using DigitTable = std::array<std::array<char, 4>, 256>;
constexpr DigitTable makeTable() {
  DigitTable t{};
  for (int v = 0; v < 256; ++v) { t[v] = {char('0' + v / 100), char('0' + v / 10 % 10), char('0' + v % 10), '\0'}; }
  return t;
}
constexpr DigitTable kDigits = makeTable();

inline char* put(char* out, unsigned char byte) {
  std::memcpy(out, kDigits[byte].data(), 4);
  return out + 3;
}

// Closes a descriptor on every path that does not close it explicitly.
struct Fd {
  int fd;
  explicit Fd(int f) : fd(f) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

bool writeAll(int fd, const char* p, std::size_t n) {
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return true;
}

}  // namespace

std::string outputName(const std::string& inputPath) {
  std::size_t slash = inputPath.rfind('/');
  std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  std::size_t dot = inputPath.find('.', nameStart);  // npos keeps the whole path
  return inputPath.substr(0, dot) + "_lwd.html";
}

std::string titleText(const std::string& inputPath) {
  std::string t;
  t.reserve(inputPath.size());
  for (char c : inputPath) {
    switch (c) {
      case '<': t += "&lt;"; break;
      case '>': t += "&gt;"; break;
      case '&': t += "&amp;"; break;
      case '"': t += "&quot;"; break;
      default: t += c;
    }
  }
  return t;
}

char* ByteLines::format(const unsigned char* in, std::size_t n, char* out) {
  const unsigned char* end = in + n;
  for (; column_ != 0 && in != end; ++in) {  // finish a line begun in an earlier call
    out = put(out, *in);
    if (++column_ == kPerLine) {
      *out++ = '\n';
      column_ = 0;
    }
  }
  for (; end - in >= static_cast<std::ptrdiff_t>(kPerLine); in += kPerLine) {
    for (std::size_t i = 0; i < kPerLine; ++i) std::memcpy(out + 3 * i, kDigits[in[i]].data(), 4);
    out[3 * kPerLine] = '\n';
    out += 3 * kPerLine + 1;
  }
  for (; in != end; ++in, ++column_) out = put(out, *in);  // fewer than a line left
  return out;
}

Outcome convert(const std::string& inputPath, const std::string& outputPath) {
  Fd in(::open(inputPath.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat inStat;
  if (in.fd < 0 || ::fstat(in.fd, &inStat) != 0 || S_ISDIR(inStat.st_mode)) { return Outcome::OpenFailed; }
  // Never truncate the input itself (e.g. a hard link that carries the output's name).
  struct stat outStat;
  if (::stat(outputPath.c_str(), &outStat) == 0 && outStat.st_dev == inStat.st_dev && outStat.st_ino == inStat.st_ino) {
    return Outcome::OpenFailed;
  }
  Fd out(::open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (out.fd < 0) return Outcome::OpenFailed;

  const std::string head = "<HTML>\n<TITLE>" + titleText(inputPath) + "</TITLE>\n<BODY>\n";
  if (!writeAll(out.fd, head.data(), head.size())) return Outcome::WriteFailed;

  std::unique_ptr<unsigned char[]> inBuf(new unsigned char[kBlock]);
  std::unique_ptr<char[]> outBuf(new char[ByteLines::capacityFor(kBlock)]);
  ByteLines lines;
  for (;;) {
    ssize_t r = ::read(in.fd, inBuf.get(), kBlock);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return Outcome::ReadFailed;
    if (r == 0) break;
    char* end = lines.format(inBuf.get(), static_cast<std::size_t>(r), outBuf.get());
    if (!writeAll(out.fd, outBuf.get(), static_cast<std::size_t>(end - outBuf.get()))) { return Outcome::WriteFailed; }
  }

  static const char kTail[] = "</BODY>\n</HTML>\n";
  if (!writeAll(out.fd, kTail, sizeof kTail - 1)) return Outcome::WriteFailed;
  int fd = out.fd;
  out.fd = -1;
  if (::close(fd) != 0) return Outcome::WriteFailed;  // late errors, e.g. on network disks
  return Outcome::Written;
}

}  // namespace lwd2html
