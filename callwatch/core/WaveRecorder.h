#pragma once
// Records the caller from a wave input device into memory and writes the recording as a RIFF
// WAVE file; also plays a sound to the caller on a wave output device. Device events come back
// through a hidden window, so they run on the thread that made the recorder, and go to its sink.
#include <cstdint>
#include <memory>
#include <string>

#include "base/MessageQueue.h"
#include "base/WaveDefs.h"

class IWaveSink {
public:
  virtual ~IWaveSink() = default;
  virtual void OnOutputOpen() {}
  virtual void OnOutputDone() {}  // after the recorder stopped the output
  virtual void OnOutputClose() {}
  virtual void OnInputOpen() {}
  virtual void OnInputData() {}  // after the recorder stopped the input
  virtual void OnInputClose() {}
};

class CWaveRecorder : public IWindowProc {
public:
  static constexpr uint32_t kBytesPerSecond = 16000;

  explicit CWaveRecorder(IWaveSink* sink);
  ~CWaveRecorder() override;
  CWaveRecorder(const CWaveRecorder&) = delete;
  CWaveRecorder& operator=(const CWaveRecorder&) = delete;

  bool Record(uint32_t deviceID, uint32_t seconds);
  // Plays samples the caller keeps alive until the output is done.
  bool Play(uint32_t deviceID, const int16_t* samples, size_t count);
  bool Stop();
  void Release();
  bool Save(const std::string& fileName);

  bool IsRecording() const { return m_input != 0; }
  bool IsPlaying() const { return m_output != 0; }
  uint32_t DataSize() const { return m_dataSize; }
  // Whether a recording (not a sound being played) is held.
  bool HasRecording() const { return m_ownsData && m_dataSize > 0; }
  const char* Data() const { return m_data; }

  void WindowProc(uint32_t message, uintptr_t wParam, uintptr_t lParam) override;

private:
  static WAVEFORMATEX Format();
  bool MakeWindow();

  IWaveSink* m_sink;
  std::unique_ptr<WAVEHDR> m_header;
  char* m_data = nullptr;
  bool m_ownsData = false;
  uint32_t m_dataSize = 0;
  WAVEFORMATEX m_format{};
  uint32_t m_formatSize = 0;
  HWAVEIN m_input = 0;
  HWAVEOUT m_output = 0;
  bool m_stopping = false;
  uintptr_t m_window = 0;
};
