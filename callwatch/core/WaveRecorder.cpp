#include "core/WaveRecorder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <new>

#include "core/Debug.h"
#include "core/TapiBinding.h"

CWaveRecorder::CWaveRecorder(IWaveSink* sink) : m_sink(sink) {}

CWaveRecorder::~CWaveRecorder() {
  Release();
  if (m_window) hidden_window::Destroy(m_window);
}

WAVEFORMATEX CWaveRecorder::Format() {
  WAVEFORMATEX f{};
  f.wFormatTag = WAVE_FORMAT_PCM;
  f.nChannels = 1;
  f.nSamplesPerSec = 8000;
  f.wBitsPerSample = 16;
  f.nBlockAlign = 2;
  f.nAvgBytesPerSec = kBytesPerSecond;
  f.cbSize = 0;
  return f;
}

bool CWaveRecorder::MakeWindow() {
  if (!m_window) m_window = hidden_window::Create(this);
  if (!m_window) OutputDebug("Couldn't create window for callbacks\n");
  return m_window != 0;
}

bool CWaveRecorder::Record(uint32_t deviceID, uint32_t seconds) {
  Release();
  m_format = Format();
  const WAVEFORMATEX& format = m_format;
  const uint32_t mapped = deviceID == WAVE_MAPPER ? 0u : uint32_t{WAVE_MAPPED};
  if (tapi::waveInOpen(nullptr, deviceID, &format, 0, 0, WAVE_FORMAT_QUERY | mapped) !=
      MMSYSERR_NOERROR)
    return false;
  if (!MakeWindow()) return false;
  HWAVEIN input = 0;
  if (tapi::waveInOpen(&input, deviceID, &format, m_window, 0, CALLBACK_WINDOW | mapped) !=
      MMSYSERR_NOERROR)
    return false;
  // The buffer holds the whole message; no message is longer than an hour.
  const uint64_t bytes = uint64_t(seconds) * 16 * 8000 / 8;
  std::unique_ptr<WAVEHDR> header(new (std::nothrow) WAVEHDR{});
  char* data = bytes > 0 && bytes <= 3600ull * kBytesPerSecond
                   ? new (std::nothrow) char[bytes]()
                   : nullptr;
  if (!header || !data) {
    OutputDebug("new[] -- Out of memory\n");
    delete[] data;
    tapi::waveInClose(input);
    return false;
  }
  header->lpData = data;
  header->dwBufferLength = static_cast<uint32_t>(bytes);
  if (tapi::waveInPrepareHeader(input, header.get(), sizeof(WAVEHDR)) != MMSYSERR_NOERROR ||
      tapi::waveInAddBuffer(input, header.get(), sizeof(WAVEHDR)) != MMSYSERR_NOERROR ||
      tapi::waveInStart(input) != MMSYSERR_NOERROR) {
    tapi::waveInReset(input);
    tapi::waveInUnprepareHeader(input, header.get(), sizeof(WAVEHDR));
    tapi::waveInClose(input);
    delete[] data;
    return false;
  }
  m_formatSize = sizeof(WAVEFORMATEX);
  m_header = std::move(header);
  m_input = input;
  m_data = data;
  m_ownsData = true;
  m_dataSize = 0;
  return true;
}

bool CWaveRecorder::Play(uint32_t deviceID, const int16_t* samples, size_t count) {
  Release();
  if (!samples || count == 0 || count > 3600ull * 8000) return false;
  m_format = Format();
  if (!MakeWindow()) return false;
  HWAVEOUT output = 0;
  const uint32_t mapped = deviceID == WAVE_MAPPER ? 0u : uint32_t{WAVE_MAPPED};
  if (tapi::waveOutOpen(&output, deviceID, &m_format, m_window, 0, CALLBACK_WINDOW | mapped) !=
      MMSYSERR_NOERROR)
    return false;
  std::unique_ptr<WAVEHDR> header(new (std::nothrow) WAVEHDR{});
  if (!header) {
    OutputDebug("new[] -- Out of memory\n");
    tapi::waveOutClose(output);
    return false;
  }
  header->lpData = reinterpret_cast<char*>(const_cast<int16_t*>(samples));
  header->dwBufferLength = static_cast<uint32_t>(count * 2);
  if (tapi::waveOutPrepareHeader(output, header.get(), sizeof(WAVEHDR)) != MMSYSERR_NOERROR ||
      tapi::waveOutWrite(output, header.get(), sizeof(WAVEHDR)) != MMSYSERR_NOERROR) {
    tapi::waveOutReset(output);
    tapi::waveOutUnprepareHeader(output, header.get(), sizeof(WAVEHDR));
    tapi::waveOutClose(output);
    return false;
  }
  m_formatSize = sizeof(WAVEFORMATEX);
  m_header = std::move(header);
  m_output = output;
  m_data = reinterpret_cast<char*>(const_cast<int16_t*>(samples));
  m_ownsData = false;
  m_dataSize = static_cast<uint32_t>(count * 2);
  return true;
}

bool CWaveRecorder::Stop() {
  if (!m_header || m_stopping) return true;
  m_stopping = true;
  if (m_output) {
    tapi::waveOutReset(m_output);
    tapi::waveOutUnprepareHeader(m_output, m_header.get(), sizeof(WAVEHDR));
    tapi::waveOutClose(m_output);
    m_output = 0;
  } else if (m_input) {
    tapi::waveInReset(m_input);
    tapi::waveInUnprepareHeader(m_input, m_header.get(), sizeof(WAVEHDR));
    m_dataSize = m_header->dwBytesRecorded;
    tapi::waveInClose(m_input);
    m_input = 0;
  }
  m_header.reset();
  m_stopping = false;
  return true;
}

void CWaveRecorder::Release() {
  Stop();
  m_format = WAVEFORMATEX{};
  m_formatSize = 0;
  if (m_ownsData) delete[] m_data;
  m_data = nullptr;
  m_ownsData = false;
  m_dataSize = 0;
}

namespace {

void PutLe32(unsigned char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

bool WriteAll(int fd, const void* bytes, size_t length) {
  const char* p = static_cast<const char*>(bytes);
  while (length > 0) {
    ssize_t n = ::write(fd, p, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

bool CWaveRecorder::Save(const std::string& fileName) {
  if (!m_data || m_dataSize == 0 || m_formatSize == 0) return false;
  const int fd = ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    OutputDebug("CreateFile() -- Can't open file: " + fileName + "\n");
    return false;
  }
  unsigned char riff[12], fmt[8], data[8];
  std::memcpy(riff, "RIFF", 4);
  PutLe32(riff + 4, m_dataSize + m_formatSize + 20);
  std::memcpy(riff + 8, "WAVE", 4);
  std::memcpy(fmt, "fmt ", 4);
  PutLe32(fmt + 4, m_formatSize);
  std::memcpy(data, "data", 4);
  PutLe32(data + 4, m_dataSize);
  const char* failure = nullptr;
  if (!WriteAll(fd, riff, sizeof riff)) failure = "Can't write RIFF chunk\n";
  else if (!WriteAll(fd, fmt, sizeof fmt)) failure = "Can't write fmt chunk\n";
  else if (!WriteAll(fd, &m_format, m_formatSize)) failure = "Can't write WAVEFORMATEX chunk\n";
  else if (!WriteAll(fd, data, sizeof data)) failure = "Can't write data chunk tag\n";
  else if (!WriteAll(fd, m_data, m_dataSize)) failure = "Can't write data chunk\n";
  // A close that fails loses what the system had not written yet: that too is a failed save.
  const bool closed = ::close(fd) == 0;
  if (failure) {
    OutputDebug(failure);
    return false;
  }
  if (!closed) {
    OutputDebug("Can't write data chunk\n");
    return false;
  }
  return true;
}

void CWaveRecorder::WindowProc(uint32_t message, uintptr_t, uintptr_t) {
  switch (message) {
    case MM_WOM_OPEN: if (m_sink) m_sink->OnOutputOpen(); break;
    case MM_WOM_CLOSE: if (m_sink) m_sink->OnOutputClose(); break;
    case MM_WOM_DONE:
      Stop();
      if (m_sink) m_sink->OnOutputDone();
      break;
    case MM_WIM_OPEN: if (m_sink) m_sink->OnInputOpen(); break;
    case MM_WIM_CLOSE: if (m_sink) m_sink->OnInputClose(); break;
    case MM_WIM_DATA:
      Stop();
      if (m_sink) m_sink->OnInputData();
      break;
    default: break;
  }
}
