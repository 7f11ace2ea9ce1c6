#include "base/JWaveFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

uint16_t le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t le32(const unsigned char* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
void put16(std::string& s, uint16_t v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>(v >> 8);
}
void put32(std::string& s, uint32_t v) {
  put16(s, static_cast<uint16_t>(v & 0xFFFF));
  put16(s, static_cast<uint16_t>(v >> 16));
}

// A chunk's name for a message; bytes that are not printable show as '?'.
std::string chunkName(const unsigned char* p) {
  std::string name;
  for (int i = 0; i < 4; ++i) name += p[i] >= 0x20 && p[i] < 0x7F ? static_cast<char>(p[i]) : '?';
  return name;
}

std::string sizeText(size_t bytes) {
  if (bytes % (size_t{1} << 20) == 0) return std::to_string(bytes >> 20) + " MiB";
  return std::to_string(bytes) + " bytes";
}

// What reading and writing both refuse.
std::string formatProblem(const JWaveFormat& f) {
  if (f.formatTag != JWaveFormat::kPcm) return "not PCM sound (format tag " + std::to_string(f.formatTag) + ")";
  if (f.channels != 1 && f.channels != 2) return std::to_string(f.channels) + " channels (1 or 2 wanted)";
  if (f.bitsPerSample != 8 && f.bitsPerSample != 16)
    return std::to_string(f.bitsPerSample) + "-bit samples (8 or 16 wanted)";
  if (f.sampleRate == 0) return "a sample rate of 0 Hz";
  return std::string();
}

bool writeAll(int fd, const void* bytes, size_t length) {
  const char* p = static_cast<const char*>(bytes);
  while (length > 0) {
    ssize_t n = ::write(fd, p, length);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = ENOSPC;
    if (n <= 0) return false;
    p += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

// --- the format record ---

JWaveFormat JWaveFormat::pcm(uint32_t rate, uint16_t channels, uint16_t bits, uint32_t recordSize) {
  JWaveFormat f;
  f.formatTag = kPcm;
  f.channels = channels;
  f.sampleRate = rate;
  f.bitsPerSample = bits;
  f.blockAlign = static_cast<uint16_t>(f.frameBytes());
  f.bytesPerSecond = rate * f.blockAlign;
  f.extraSize = 0;
  f.recordSize = recordSize;
  return f;
}

std::string JWaveFormat::describe() const {
  std::string layout = channels == 1 ? "mono" : channels == 2 ? "stereo" : std::to_string(channels) + " channels";
  return std::to_string(sampleRate) + " Hz, " + std::to_string(bitsPerSample) + "-bit, " + layout;
}

bool JWaveFormat::operator==(const JWaveFormat& o) const {
  return formatTag == o.formatTag && channels == o.channels && sampleRate == o.sampleRate &&
         bytesPerSecond == o.bytesPerSecond && blockAlign == o.blockAlign && bitsPerSample == o.bitsPerSample &&
         extraSize == o.extraSize && recordSize == o.recordSize;
}

// --- reading ---

bool JWaveFile::parse(const void* data, size_t size, std::string& why) {
  format = JWaveFormat();
  samples.clear();
  const auto* b = static_cast<const unsigned char*>(data);
  if (!b || size < 12 || std::memcmp(b, "RIFF", 4) != 0 || std::memcmp(b + 8, "WAVE", 4) != 0) {
    why = "not a RIFF WAVE file";
    return false;
  }
  JWaveFormat f;
  bool haveFormat = false;
  size_t at = 12;
  // at may pass size by the pad byte of a last chunk of odd length.
  while (at <= size && size - at >= kChunkHeaderBytes) {
    const unsigned char* chunk = b + at;
    const uint32_t declared = le32(chunk + 4);
    const size_t body = at + kChunkHeaderBytes;
    const size_t available = size - body;
    if (std::memcmp(chunk, "fmt ", 4) == 0) {
      if (declared > available) {
        why = "the format chunk is cut short";
        return false;
      }
      if (declared < 16) {
        why = "the format chunk is too small (" + std::to_string(declared) + " bytes)";
        return false;
      }
      const unsigned char* r = b + body;
      f.formatTag = le16(r);
      f.channels = le16(r + 2);
      f.sampleRate = le32(r + 4);
      f.bytesPerSecond = le32(r + 8);
      f.blockAlign = le16(r + 12);
      f.bitsPerSample = le16(r + 14);
      f.recordSize = declared >= 18 ? 18 : 16;
      f.extraSize = declared >= 18 ? le16(r + 16) : 0;
      why = formatProblem(f);
      if (!why.empty()) return false;
      haveFormat = true;
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      if (!haveFormat) {
        why = "sound data before its format";
        return false;
      }
      // Block align and bytes per second are taken as they stand; the sound is read by channels
      // and bits.
      size_t length = declared < available ? declared : available;
      length -= length % f.frameBytes();
      const unsigned char* s = b + body;
      if (f.bitsPerSample == 16) {
        samples.resize(length / 2);
        for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int16_t>(le16(s + 2 * i));
      } else {
        samples.resize(length);
        for (size_t i = 0; i < length; ++i) samples[i] = static_cast<int16_t>((s[i] - 128) * 256);
      }
      format = f;
      return true;
    } else if (declared > available) {
      why = "the \"" + chunkName(chunk) + "\" chunk runs past the end of the file";
      return false;
    }
    at = body + declared + (declared & 1);  // chunks are padded to even lengths
  }
  why = haveFormat ? "no sound data" : "no format chunk";
  return false;
}

bool JWaveFile::read(const std::string& path, std::string& why, size_t maxBytes) {
  format = JWaveFormat();
  samples.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    why = path + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    why = path + ": not a regular file";
    return false;
  }
  const std::string tooLarge = path + ": larger than " + sizeText(maxBytes);
  if (static_cast<uint64_t>(st.st_size) > maxBytes) {
    ::close(fd);
    why = tooLarge;
    return false;
  }
  std::string bytes;
  bytes.reserve(static_cast<size_t>(st.st_size));
  char block[65536];
  for (;;) {
    ssize_t n = ::read(fd, block, sizeof block);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      why = path + ": " + std::strerror(errno);
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    if (bytes.size() + static_cast<size_t>(n) > maxBytes) {  // it grew while being read
      ::close(fd);
      why = tooLarge;
      return false;
    }
    bytes.append(block, static_cast<size_t>(n));
  }
  ::close(fd);
  if (!parse(bytes.data(), bytes.size(), why)) {
    why = path + ": " + why;
    return false;
  }
  return true;
}

// --- writing ---

std::string JWaveFile::unwritable(const JWaveFormat& f, uint64_t dataBytes) {
  std::string problem = formatProblem(f);
  if (!problem.empty()) return problem;
  if (f.blockAlign != f.frameBytes() || f.bytesPerSecond != uint64_t{f.sampleRate} * f.frameBytes())
    return "block align " + std::to_string(f.blockAlign) + " and " + std::to_string(f.bytesPerSecond) +
           " bytes per second do not agree with " + f.describe();
  if (f.recordSize != 16 && f.recordSize != 18)
    return "a format record of " + std::to_string(f.recordSize) + " bytes (16 or 18 wanted)";
  if (f.recordSize == 18 && f.extraSize != 0)
    return "an extra size of " + std::to_string(f.extraSize) + " without the extra bytes";
  if (dataBytes % f.frameBytes() != 0)
    return std::to_string(dataBytes) + " bytes of sound are not whole frames of " + std::to_string(f.frameBytes()) +
           " bytes";
  if (dataBytes + (dataBytes & 1) + f.recordSize + 20 > UINT32_MAX)
    return "a sound of " + std::to_string(dataBytes) + " bytes does not fit a WAVE file";
  return std::string();
}

std::string JWaveFile::header(const JWaveFormat& f, uint32_t dataBytes) {
  if (!unwritable(f, dataBytes).empty()) return std::string();
  std::string h = "RIFF";
  put32(h, dataBytes + (dataBytes & 1) + f.recordSize + 20);
  h += "WAVEfmt ";
  put32(h, f.recordSize);
  put16(h, f.formatTag);
  put16(h, f.channels);
  put32(h, f.sampleRate);
  put32(h, f.bytesPerSecond);
  put16(h, f.blockAlign);
  put16(h, f.bitsPerSample);
  if (f.recordSize == 18) put16(h, f.extraSize);
  h += "data";
  put32(h, dataBytes);
  return h;
}

bool JWaveFile::writeBytes(const std::string& path, const JWaveFormat& f, const void* data, size_t size,
                           std::string& why, Piece* failed) {
  Piece unused;
  Piece& piece = failed ? *failed : unused;
  piece = Piece::none;
  const std::string problem = data || size == 0 ? unwritable(f, size) : std::string("no sound bytes given");
  if (!problem.empty()) {
    piece = Piece::format;
    why = path + ": " + problem;
    return false;
  }
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    piece = Piece::open;
    why = path + ": " + std::strerror(errno);
    return false;
  }
  const std::string h = header(f, static_cast<uint32_t>(size));
  const size_t record = f.recordSize;
  struct Part {
    Piece piece;
    const char* name;
    const void* bytes;
    size_t length;
  };
  const char pad = 0;
  const Part parts[] = {
      {Piece::riffHeader, "RIFF header", h.data(), 12},
      {Piece::formatHeader, "format chunk header", h.data() + 12, 8},
      {Piece::formatRecord, "format record", h.data() + 20, record},
      {Piece::dataHeader, "data chunk header", h.data() + 20 + record, 8},
      {Piece::data, "sound", data, size},
      {Piece::data, "sound", &pad, size & 1},
  };
  for (const Part& p : parts) {
    if (p.length > 0 && !writeAll(fd, p.bytes, p.length)) {
      piece = p.piece;
      why = path + ": cannot write the " + p.name + ": " + std::strerror(errno);
      ::close(fd);
      return false;
    }
  }
  // A close that fails loses what the system had not written yet.
  if (::close(fd) != 0) {
    piece = Piece::close;
    why = path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool JWaveFile::writeSamples(const std::string& path, const JWaveFormat& f, const std::vector<int16_t>& samples,
                             std::string& why) {
  const bool eight = f.bitsPerSample == 8;
  std::string bytes;
  bytes.reserve(samples.size() * (eight ? 1 : 2));
  for (int16_t s : samples) {
    if (eight) {
      bytes += static_cast<char>((s + 32768) >> 8);
    } else {
      put16(bytes, static_cast<uint16_t>(s));
    }
  }
  return writeBytes(path, f, bytes.data(), bytes.size(), why);
}
