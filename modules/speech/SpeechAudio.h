#pragma once
// The speech layer's audio. Speech out goes to the default playback device, or to numbered WAVE
// files in the folder LOOMWORK_SPEECH_OUTPUT names; the recognizer listens to the default capture
// device, or to the WAVE file or FIFO LOOMWORK_SPEECH_INPUT names. Files are 16-bit mono PCM.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace speech {

// The recognizer's rate: sources deliver it, and spoken files are written at it.
constexpr int kSpeechRate = 16000;
// Samples a source hands out per read at most: 100 ms, so that stop requests are seen that often.
constexpr long kSourceChunk = 1600;

// Where synthesised speech goes.
class AudioDestination {
public:
  virtual ~AudioDestination() = default;
  // Plays (or stores) mono 16-bit samples at rate; false with the reason.
  virtual bool play(const std::vector<int16_t>& samples, int rate, std::string& why) = 0;
};

// Where the recognizer's audio comes from.
class AudioSource {
public:
  virtual ~AudioSource() = default;
  // Up to max samples at kSpeechRate. ended is set at the end of the input; 0 samples without it
  // means nothing yet, and the caller may ask again.
  virtual long read(int16_t* buf, long max, bool& ended) = 0;
};

// The input LOOMWORK_SPEECH_INPUT names (an 8 kHz file is brought to 16 kHz), else the default
// capture device; nullptr with the reason.
std::unique_ptr<AudioSource> openAudioSource(std::string& why);
// The folder LOOMWORK_SPEECH_OUTPUT names, else the default playback device; nullptr with the
// reason.
std::shared_ptr<AudioDestination> openAudioDestination(std::string& why);

// 16-bit mono PCM files through the host's JWaveFile. Reading refuses any other layout.
bool writeWave(const std::string& path, const std::vector<int16_t>& samples, int rate, std::string& why);
bool readMonoWave(const std::string& path, std::vector<int16_t>& samples, int& rate, std::string& why);

}  // namespace speech
