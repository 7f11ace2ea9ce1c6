// WAVE files: what is written reads back, the telephone recorder's layout byte for byte, and
// damaged, cut or oversized files refused with a reason and never read past their end.
#include "base/JWaveFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string le16(uint16_t v) { return std::string{static_cast<char>(v & 255), static_cast<char>(v >> 8)}; }
std::string le32(uint32_t v) { return le16(static_cast<uint16_t>(v & 0xFFFF)) + le16(static_cast<uint16_t>(v >> 16)); }

// A file put together by hand: a header of the given fields, then the chunks.
std::string riff(const std::string& chunks) {
  return "RIFF" + le32(static_cast<uint32_t>(chunks.size() + 4)) + "WAVE" + chunks;
}
std::string chunk(const std::string& id, const std::string& body, uint32_t declared) {
  return id + le32(declared) + body;
}
std::string chunk(const std::string& id, const std::string& body) {
  return chunk(id, body, static_cast<uint32_t>(body.size()));
}
std::string fmtBody(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits) {
  const uint16_t align = static_cast<uint16_t>(channels * bits / 8);
  return le16(tag) + le16(channels) + le32(rate) + le32(rate * align) + le16(align) + le16(bits);
}

class TempDir {
public:
  TempDir() {
    char name[] = "/tmp/wave-test-XXXXXX";
    path_ = ::mkdtemp(name) ? name : "";
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  static std::string read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  static void write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }

private:
  std::string path_;
};

bool parse(const std::string& bytes, JWaveFile& w, std::string& why) {
  return w.parse(bytes.data(), bytes.size(), why);
}

TEST(WaveFile, EveryFormatReadsBackAsWritten) {
  TempDir tmp;
  struct Case {
    uint16_t channels, bits;
    std::vector<int16_t> samples;
  };
  const std::vector<Case> cases{
      {1, 16, {0, 1, -1, 32767, -32768, 1234}},
      {2, 16, {100, -100, 32767, -32768}},
      {1, 8, {-32768, -256, 0, 256, 32512}},  // odd length: a pad byte follows the sound
      {2, 8, {-32768, 32512, 0, 512}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.channels) + " channels, " + std::to_string(c.bits) + " bits");
    JWaveFile out;
    out.format = JWaveFormat::pcm(22050, c.channels, c.bits);
    out.samples = c.samples;
    std::string why;
    ASSERT_TRUE(out.write(tmp.file("a.wav"), why)) << why;
    const std::string bytes = TempDir::read(tmp.file("a.wav"));
    const size_t data = c.samples.size() * c.bits / 8;
    EXPECT_EQ(bytes.size(), 44 + data + (data & 1));
    EXPECT_EQ(bytes.substr(4, 4), le32(static_cast<uint32_t>(bytes.size() - 8)));

    JWaveFile in;
    ASSERT_TRUE(in.read(tmp.file("a.wav"), why)) << why;
    EXPECT_EQ(in.format, out.format);
    EXPECT_EQ(in.samples, c.samples);
  }

  // 8-bit sound keeps the top byte of each sample; the stored bytes are unsigned.
  JWaveFile eight;
  eight.format = JWaveFormat::pcm(8000, 1, 8);
  eight.samples = {300, -300, 32767};
  std::string why;
  ASSERT_TRUE(eight.write(tmp.file("8.wav"), why)) << why;
  EXPECT_EQ(TempDir::read(tmp.file("8.wav")).substr(44, 3), std::string("\x81\x7e\xff", 3));
  ASSERT_TRUE(eight.read(tmp.file("8.wav"), why));
  EXPECT_EQ(eight.samples, (std::vector<int16_t>{256, -512, 32512}));
  EXPECT_EQ(eight.format.describe(), "8000 Hz, 8-bit, mono");
}

TEST(WaveFile, TheTelephoneRecordersLayoutByteForByte) {
  // Three seconds of 8000 Hz 16-bit mono with the 18-byte format record.
  const JWaveFormat f = JWaveFormat::pcm(8000, 1, 16, 18);
  std::vector<unsigned char> sound(48000);
  for (size_t i = 0; i < sound.size(); ++i) sound[i] = static_cast<unsigned char>(i * 7);
  const std::string expected = std::string("RIFF") + le32(48038) + "WAVE" + "fmt " + le32(18) + le16(1) + le16(1) +
                               le32(8000) + le32(16000) + le16(2) + le16(16) + le16(0) + "data" + le32(48000);
  ASSERT_EQ(expected.size(), 46u);
  EXPECT_EQ(JWaveFile::header(f, 48000), expected);

  TempDir tmp;
  std::string why;
  JWaveFile::Piece failed = JWaveFile::Piece::open;
  ASSERT_TRUE(JWaveFile::writeBytes(tmp.file("m.wav"), f, sound.data(), sound.size(), why, &failed)) << why;
  EXPECT_EQ(failed, JWaveFile::Piece::none);
  const std::string bytes = TempDir::read(tmp.file("m.wav"));
  ASSERT_EQ(bytes.size(), 46u + 48000);
  EXPECT_EQ(bytes.substr(0, 46), expected);
  EXPECT_EQ(bytes.substr(46), std::string(sound.begin(), sound.end()));

  // Read and written again, the file is the same to the byte.
  JWaveFile w;
  ASSERT_TRUE(w.read(tmp.file("m.wav"), why)) << why;
  EXPECT_EQ(w.format, f);
  EXPECT_EQ(w.samples.size(), 24000u);
  EXPECT_EQ(w.samples[1], static_cast<int16_t>(14 | 21 << 8));
  ASSERT_TRUE(w.write(tmp.file("again.wav"), why)) << why;
  EXPECT_EQ(TempDir::read(tmp.file("again.wav")), bytes);

  // The 16-byte record of the common layout: 44 bytes before the sound, RIFF size 36 + data.
  EXPECT_EQ(JWaveFile::header(JWaveFormat::pcm(16000, 1, 16), 10),
            std::string("RIFF") + le32(46) + "WAVEfmt " + le32(16) + fmtBody(1, 1, 16000, 16) + "data" + le32(10));
}

TEST(WaveFile, DamagedHeadersAreRefusedWithTheirReason) {
  const std::string fmt16 = chunk("fmt ", fmtBody(1, 1, 8000, 16));
  const std::string good = riff(fmt16 + chunk("data", le16(5) + le16(7)));
  JWaveFile w;
  std::string why;
  ASSERT_TRUE(parse(good, w, why)) << why;
  EXPECT_EQ(w.samples, (std::vector<int16_t>{5, 7}));

  // Every cut of the header is refused, and nothing is left in the result.
  for (size_t n = 0; n < 44; ++n) {
    why.clear();
    EXPECT_FALSE(parse(good.substr(0, n), w, why)) << n;
    EXPECT_FALSE(why.empty()) << n;
    EXPECT_TRUE(w.samples.empty()) << n;
  }
  EXPECT_FALSE(w.parse(nullptr, 0, why));

  struct Case {
    std::string bytes, reason;
  };
  const std::vector<Case> cases{
      {"RIFX" + good.substr(4), "not a RIFF WAVE file"},
      {good.substr(0, 8) + "AVI " + good.substr(12), "not a RIFF WAVE file"},
      {riff(chunk("fmt ", fmtBody(1, 1, 8000, 16), 40)), "the format chunk is cut short"},
      {riff(chunk("fmt ", fmtBody(1, 1, 8000, 16).substr(0, 14)) + chunk("data", "ab")),
       "the format chunk is too small (14 bytes)"},
      {riff(chunk("fmt ", fmtBody(3, 1, 8000, 32)) + chunk("data", "abcd")), "not PCM sound (format tag 3)"},
      {riff(chunk("fmt ", fmtBody(1, 0, 8000, 16)) + chunk("data", "ab")), "0 channels (1 or 2 wanted)"},
      {riff(chunk("fmt ", fmtBody(1, 6, 8000, 16)) + chunk("data", "ab")), "6 channels (1 or 2 wanted)"},
      {riff(chunk("fmt ", fmtBody(1, 1, 8000, 24)) + chunk("data", "abc")), "24-bit samples (8 or 16 wanted)"},
      {riff(chunk("fmt ", fmtBody(1, 1, 0, 16)) + chunk("data", "ab")), "a sample rate of 0 Hz"},
      {riff(chunk("data", "ab") + fmt16), "sound data before its format"},
      {riff(fmt16), "no sound data"},
      {riff(fmt16 + chunk("LIST", "abcd")), "no sound data"},
      {riff(chunk("LIST", "abcd")), "no format chunk"},
      {riff(fmt16 + chunk("LI\x01T", "abcd", 4000) + chunk("data", "ab")),
       "the \"LI?T\" chunk runs past the end of the file"},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(parse(c.bytes, w, why)) << c.reason;
    EXPECT_EQ(why, c.reason);
    EXPECT_TRUE(w.samples.empty()) << c.reason;
  }
}

TEST(WaveFile, DeclaredSizesBeyondTheFileAreNeverBelieved) {
  const std::string fmt16 = chunk("fmt ", fmtBody(1, 2, 8000, 16));
  JWaveFile w;
  std::string why;
  // A data size past the end (a recording never finished): what is there, in whole frames.
  ASSERT_TRUE(parse(riff(fmt16 + chunk("data", le16(1) + le16(2) + le16(3) + "x", 0xFFFFFFFF)), w, why)) << why;
  EXPECT_EQ(w.samples, (std::vector<int16_t>{1, 2}));
  ASSERT_TRUE(parse(riff(fmt16 + chunk("data", "xyz", 0xFFFFFFFF)), w, why)) << why;
  EXPECT_TRUE(w.samples.empty());
  EXPECT_EQ(w.format.channels, 2);

  EXPECT_FALSE(parse(riff(chunk("fmt ", fmtBody(1, 1, 8000, 16), 0xFFFFFFFF)), w, why));
  EXPECT_EQ(why, "the format chunk is cut short");
  EXPECT_FALSE(parse(riff(fmt16 + chunk("junk", "", 0xFFFFFFF0)), w, why));
  EXPECT_EQ(why, "the \"junk\" chunk runs past the end of the file");

  // A last chunk of odd length ends the file without its pad byte: the walk stops there.
  EXPECT_FALSE(parse(riff(fmt16 + chunk("odd ", "abc")), w, why));
  EXPECT_EQ(why, "no sound data");
  // A pad byte is skipped before the next chunk; an 18-byte record with its extra size is read.
  ASSERT_TRUE(parse(riff(chunk("fmt ", fmtBody(1, 1, 8000, 16) + le16(0)) + chunk("odd ", "abc") +
                         std::string(1, '\0') + chunk("data", le16(9))),
                    w, why))
      << why;
  EXPECT_EQ(w.samples, (std::vector<int16_t>{9}));
  EXPECT_EQ(w.format.recordSize, 18u);

  // A file larger than the bound is refused before it is read.
  TempDir tmp;
  TempDir::write(tmp.file("big.wav"), riff(fmt16 + chunk("data", std::string(400, 'a'))));
  EXPECT_FALSE(w.read(tmp.file("big.wav"), why, 100));
  EXPECT_EQ(why, tmp.file("big.wav") + ": larger than 100 bytes");
  EXPECT_TRUE(w.read(tmp.file("big.wav"), why, 1000)) << why;
  EXPECT_EQ(w.samples.size(), 200u);
}

TEST(WaveFile, FilesThatCannotBeReadOrWrittenSayWhy) {
  TempDir tmp;
  JWaveFile w;
  std::string why;
  EXPECT_FALSE(w.read(tmp.file("missing.wav"), why));
  EXPECT_EQ(why, tmp.file("missing.wav") + ": No such file or directory");
  EXPECT_FALSE(w.read(tmp.file(""), why));
  EXPECT_EQ(why, tmp.file("") + ": not a regular file");
  TempDir::write(tmp.file("text.wav"), "hello");
  EXPECT_FALSE(w.read(tmp.file("text.wav"), why));
  EXPECT_EQ(why, tmp.file("text.wav") + ": not a RIFF WAVE file");

  const JWaveFormat good = JWaveFormat::pcm(8000, 1, 16, 18);
  const char sound[4] = {1, 2, 3, 4};
  JWaveFile::Piece failed = JWaveFile::Piece::none;
  EXPECT_FALSE(JWaveFile::writeBytes(tmp.file("no/folder.wav"), good, sound, 4, why, &failed));
  EXPECT_EQ(failed, JWaveFile::Piece::open);
  EXPECT_EQ(why, tmp.file("no/folder.wav") + ": No such file or directory");
  EXPECT_FALSE(JWaveFile::writeBytes("/dev/full", good, sound, 4, why, &failed));
  EXPECT_EQ(failed, JWaveFile::Piece::riffHeader);  // the first write fails
  EXPECT_EQ(why, "/dev/full: cannot write the RIFF header: No space left on device");

  // Formats and sizes that would make a damaged file are not written at all.
  auto refused = [&](JWaveFormat f, uint64_t bytes) { return JWaveFile::unwritable(f, bytes); };
  JWaveFormat f = good;
  f.formatTag = 3;
  EXPECT_EQ(refused(f, 4), "not PCM sound (format tag 3)");
  EXPECT_EQ(refused(JWaveFormat::pcm(8000, 3, 16), 6), "3 channels (1 or 2 wanted)");
  EXPECT_EQ(refused(JWaveFormat::pcm(8000, 1, 12), 6), "12-bit samples (8 or 16 wanted)");
  EXPECT_EQ(refused(JWaveFormat::pcm(0, 1, 16), 6), "a sample rate of 0 Hz");
  f = good;
  f.blockAlign = 4;
  EXPECT_EQ(refused(f, 4), "block align 4 and 16000 bytes per second do not agree with 8000 Hz, 16-bit, mono");
  EXPECT_EQ(refused(JWaveFormat::pcm(8000, 1, 16, 20), 4), "a format record of 20 bytes (16 or 18 wanted)");
  f = good;
  f.extraSize = 2;
  EXPECT_EQ(refused(f, 4), "an extra size of 2 without the extra bytes");
  EXPECT_EQ(refused(JWaveFormat::pcm(8000, 2, 16), 6), "6 bytes of sound are not whole frames of 4 bytes");
  EXPECT_EQ(refused(good, 0xFFFFFFD8ull), "");
  EXPECT_EQ(refused(good, 0xFFFFFFDAull), "a sound of 4294967258 bytes does not fit a WAVE file");
  EXPECT_EQ(JWaveFile::header(JWaveFormat::pcm(8000, 2, 16), 6), "");

  EXPECT_FALSE(JWaveFile::writeBytes(tmp.file("bad.wav"), JWaveFormat::pcm(8000, 2, 16), sound, 2, why, &failed));
  EXPECT_EQ(failed, JWaveFile::Piece::format);
  EXPECT_EQ(why, tmp.file("bad.wav") + ": 2 bytes of sound are not whole frames of 4 bytes");
  EXPECT_FALSE(JWaveFile::writeBytes(tmp.file("bad.wav"), good, nullptr, 2, why, &failed));
  EXPECT_EQ(why, tmp.file("bad.wav") + ": no sound bytes given");
  struct stat st {};
  EXPECT_NE(::stat(tmp.file("bad.wav").c_str(), &st), 0);  // nothing was created
  w.format = JWaveFormat::pcm(8000, 2, 16);
  w.samples = {1, 2, 3};
  EXPECT_FALSE(w.write(tmp.file("bad.wav"), why));
}

}  // namespace
