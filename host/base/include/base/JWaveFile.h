#pragma once
// RIFF WAVE files of PCM sound, 8 or 16 bits, mono or stereo: read whole with every length
// checked, and written piece by piece so that a caller can say which piece failed.
//
// Layout written (little-endian): "RIFF", RIFF size, "WAVE", "fmt ", record size, the format
// record (16 bytes, or 18 ending in the extra-size field), "data", data size, the sound, and a pad
// byte when the sound has an odd length. The RIFF size is data size + record size + 20 (+ pad).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct JWaveFormat {
  static constexpr uint16_t kPcm = 1;

  uint16_t formatTag = kPcm;
  uint16_t channels = 1;
  uint32_t sampleRate = 0;
  uint32_t bytesPerSecond = 0;
  uint16_t blockAlign = 0;
  uint16_t bitsPerSample = 16;
  uint16_t extraSize = 0;    // the record's last field, when it has one
  uint32_t recordSize = 16;  // bytes of the "fmt " chunk: 16 or 18

  // PCM with the derived fields filled in.
  static JWaveFormat pcm(uint32_t rate, uint16_t channels, uint16_t bits, uint32_t recordSize = 16);
  // Bytes of one sample of every channel.
  uint32_t frameBytes() const { return uint32_t{channels} * (bitsPerSample / 8u); }
  // For messages: "8000 Hz, 16-bit, mono".
  std::string describe() const;
  bool operator==(const JWaveFormat& o) const;
  bool operator!=(const JWaveFormat& o) const { return !(*this == o); }
};

class JWaveFile {
public:
  // Where a write stopped.
  enum class Piece { none, format, open, riffHeader, formatHeader, formatRecord, dataHeader, data, close };

  static constexpr size_t kMaxReadBytes = size_t{256} << 20;
  static constexpr size_t kChunkHeaderBytes = 8;

  JWaveFormat format;
  // Channels interleaved; 8-bit sound (unsigned) widened to 16 bits: (byte - 128) * 256.
  std::vector<int16_t> samples;

  // A whole file in memory. The first "data" chunk after the format is the sound; a data size
  // larger than what follows (a recorder that never finished its header) takes what is there, in
  // whole frames. False with the reason for anything that is not such a file.
  bool parse(const void* bytes, size_t size, std::string& why);
  // A file of at most maxBytes; reasons start with the path.
  bool read(const std::string& path, std::string& why, size_t maxBytes = kMaxReadBytes);
  // The samples in the format's bit depth; the file is created or truncated.
  bool write(const std::string& path, std::string& why) const { return writeSamples(path, format, samples, why); }

  // Why the format and a sound of dataBytes cannot be written ("" when they can): PCM, 8 or 16
  // bits, 1 or 2 channels, a rate above 0, derived fields that agree, whole frames, and a file
  // of at most 4 GiB.
  static std::string unwritable(const JWaveFormat& format, uint64_t dataBytes);
  // Everything before the sound: 12 + 8 + record size + 8 bytes ("" when unwritable).
  static std::string header(const JWaveFormat& format, uint32_t dataBytes);
  // Sound bytes as they are stored (8-bit unsigned or 16-bit little-endian, interleaved).
  // failed, when given, tells the piece that failed (Piece::none on success).
  static bool writeBytes(const std::string& path, const JWaveFormat& format, const void* data, size_t size,
                         std::string& why, Piece* failed = nullptr);
  static bool writeSamples(const std::string& path, const JWaveFormat& format, const std::vector<int16_t>& samples,
                           std::string& why);
};
