#pragma once
// The wave devices as the recorder and the telephony provider share them. A call's line carries
// one input device ("wave/in": what the caller says) and one output device ("wave/out": what is
// played to the caller); their IDs come from lineGetIDA. Device events go to a hidden window
// (CALLBACK_WINDOW) and so arrive on the thread that made the window.
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "base/JWaveFile.h"

// Every sound Callwatch deals in, on the devices and in files: PCM, 8000 Hz, 16-bit, mono.
constexpr uint32_t kWaveRate = 8000;
constexpr size_t kMostWaveBytes = size_t{64} << 20;  // a sound file larger than this is refused

// The samples of a sound file; false with a reason (one line, no end) when it cannot be read or
// is not in the format above.
inline bool ReadWaveFile(const std::string& path, std::vector<int16_t>* samples, std::string* error) {
  JWaveFile wave;
  samples->clear();
  if (!wave.read(path, *error, kMostWaveBytes)) return false;
  const JWaveFormat& f = wave.format;
  if (f.channels != 1 || f.sampleRate != kWaveRate || f.bitsPerSample != 16) {
    *error = path + ": sound must be 8000 Hz, 16-bit, mono (this is " + std::to_string(f.sampleRate) + " Hz, " +
             std::to_string(f.bitsPerSample) + "-bit, " + std::to_string(f.channels) + " channel(s))";
    return false;
  }
  *samples = std::move(wave.samples);
  return true;
}

using MMRESULT = uint32_t;
using HWAVEIN = uint32_t;
using HWAVEOUT = uint32_t;

enum : MMRESULT {
  MMSYSERR_NOERROR = 0,
  MMSYSERR_ERROR = 1,
  MMSYSERR_BADDEVICEID = 2,
  MMSYSERR_ALLOCATED = 4,
  MMSYSERR_INVALHANDLE = 5,
  MMSYSERR_NOMEM = 7,
  MMSYSERR_INVALFLAG = 10,
  MMSYSERR_INVALPARAM = 11,
  WAVERR_BADFORMAT = 32,
  WAVERR_STILLPLAYING = 33,
  WAVERR_UNPREPARED = 34,
};
constexpr uint32_t WAVE_MAPPER = 0xFFFFFFFF;
enum : uint32_t { WAVE_FORMAT_QUERY = 0x1, WAVE_MAPPED = 0x4, CALLBACK_WINDOW = 0x10000 };
enum : uint32_t {
  MM_WOM_OPEN = 0x3BB,
  MM_WOM_CLOSE = 0x3BC,
  MM_WOM_DONE = 0x3BD,
  MM_WIM_OPEN = 0x3BE,
  MM_WIM_CLOSE = 0x3BF,
  MM_WIM_DATA = 0x3C0,
};
enum : uint32_t { WHDR_DONE = 0x1, WHDR_PREPARED = 0x2, WHDR_INQUEUE = 0x10 };
constexpr uint16_t WAVE_FORMAT_PCM = 1;

#pragma pack(push, 2)
// The 18-byte format record, written as it is into WAVE files.
struct WAVEFORMATEX {
  uint16_t wFormatTag;
  uint16_t nChannels;
  uint32_t nSamplesPerSec;
  uint32_t nAvgBytesPerSec;
  uint16_t nBlockAlign;
  uint16_t wBitsPerSample;
  uint16_t cbSize;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18, "the format record is 18 bytes");

struct WAVEHDR {
  char* lpData;
  uint32_t dwBufferLength;
  uint32_t dwBytesRecorded;
  uintptr_t dwUser;
  uint32_t dwFlags;
  uint32_t dwLoops;
  WAVEHDR* lpNext;
  uintptr_t reserved;
};

extern "C" {
using waveInOpen_t = MMRESULT (*)(HWAVEIN*, uint32_t deviceID, const WAVEFORMATEX*, uintptr_t callback,
                                  uintptr_t instance, uint32_t flags);
using waveInPrepareHeader_t = MMRESULT (*)(HWAVEIN, WAVEHDR*, uint32_t size);
using waveInAddBuffer_t = MMRESULT (*)(HWAVEIN, WAVEHDR*, uint32_t size);
using waveInStart_t = MMRESULT (*)(HWAVEIN);
using waveInReset_t = MMRESULT (*)(HWAVEIN);
using waveInUnprepareHeader_t = MMRESULT (*)(HWAVEIN, WAVEHDR*, uint32_t size);
using waveInClose_t = MMRESULT (*)(HWAVEIN);
using waveOutOpen_t = MMRESULT (*)(HWAVEOUT*, uint32_t deviceID, const WAVEFORMATEX*, uintptr_t callback,
                                   uintptr_t instance, uint32_t flags);
using waveOutPrepareHeader_t = MMRESULT (*)(HWAVEOUT, WAVEHDR*, uint32_t size);
using waveOutWrite_t = MMRESULT (*)(HWAVEOUT, WAVEHDR*, uint32_t size);
using waveOutReset_t = MMRESULT (*)(HWAVEOUT);
using waveOutUnprepareHeader_t = MMRESULT (*)(HWAVEOUT, WAVEHDR*, uint32_t size);
using waveOutClose_t = MMRESULT (*)(HWAVEOUT);
}
