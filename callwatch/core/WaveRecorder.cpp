#include "core/WaveRecorder.h"

#include <new>
#include <string>

#include "base/JWaveFile.h"
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
  if (tapi::waveInOpen(nullptr, deviceID, &format, 0, 0, WAVE_FORMAT_QUERY | mapped) != MMSYSERR_NOERROR) return false;
  if (!MakeWindow()) return false;
  HWAVEIN input = 0;
  if (tapi::waveInOpen(&input, deviceID, &format, m_window, 0, CALLBACK_WINDOW | mapped) != MMSYSERR_NOERROR)
    return false;
  // The buffer holds the whole message; no message is longer than an hour.
  const uint64_t bytes = uint64_t(seconds) * 16 * 8000 / 8;
  std::unique_ptr<WAVEHDR> header(new (std::nothrow) WAVEHDR{});
  char* data = bytes > 0 && bytes <= 3600ull * kBytesPerSecond ? new (std::nothrow) char[bytes]() : nullptr;
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
  if (tapi::waveOutOpen(&output, deviceID, &m_format, m_window, 0, CALLBACK_WINDOW | mapped) != MMSYSERR_NOERROR)
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

// The messages Callwatch has always given for each piece of the file that could not be written.
std::string SaveFailure(JWaveFile::Piece piece, const std::string& fileName, const std::string& why) {
  switch (piece) {
    case JWaveFile::Piece::open: return "CreateFile() -- Can't open file: " + fileName + "\n";
    case JWaveFile::Piece::riffHeader: return "Can't write RIFF chunk\n";
    case JWaveFile::Piece::formatHeader: return "Can't write fmt chunk\n";
    case JWaveFile::Piece::formatRecord: return "Can't write WAVEFORMATEX chunk\n";
    case JWaveFile::Piece::dataHeader: return "Can't write data chunk tag\n";
    case JWaveFile::Piece::data:
    case JWaveFile::Piece::close: return "Can't write data chunk\n";
    case JWaveFile::Piece::format:
    case JWaveFile::Piece::none: break;
  }
  return why + "\n";  // a recording that is not whole samples: nothing was written
}

}  // namespace

bool CWaveRecorder::Save(const std::string& fileName) {
  if (!m_data || m_dataSize == 0 || m_formatSize == 0) return false;
  // The 18-byte record of m_format (its extra size 0), as the devices were opened with it.
  const JWaveFormat format = JWaveFormat::pcm(kWaveRate, 1, 16, sizeof(WAVEFORMATEX));
  std::string why;
  JWaveFile::Piece piece = JWaveFile::Piece::none;
  if (JWaveFile::writeBytes(fileName, format, m_data, m_dataSize, why, &piece)) return true;
  OutputDebug(SaveFailure(piece, fileName, why));
  return false;
}

void CWaveRecorder::WindowProc(uint32_t message, uintptr_t, uintptr_t) {
  switch (message) {
    case MM_WOM_OPEN:
      if (m_sink) m_sink->OnOutputOpen();
      break;
    case MM_WOM_CLOSE:
      if (m_sink) m_sink->OnOutputClose();
      break;
    case MM_WOM_DONE:
      Stop();
      if (m_sink) m_sink->OnOutputDone();
      break;
    case MM_WIM_OPEN:
      if (m_sink) m_sink->OnInputOpen();
      break;
    case MM_WIM_CLOSE:
      if (m_sink) m_sink->OnInputClose();
      break;
    case MM_WIM_DATA:
      Stop();
      if (m_sink) m_sink->OnInputData();
      break;
    default: break;
  }
}
