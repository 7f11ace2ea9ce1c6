#include "SpeechAudio.h"

#include <alsa/asoundlib.h>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "SpeechResample.h"
#include "base/JComponent.h"
#include "base/JWaveFile.h"

namespace speech {
namespace {

std::string envOf(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

// ALSA's own complaints (a missing sound card) are dropped: the callers report the failure.
void alsaLog(const char*, int, const char*, int, const char*, ...) {}

void quietAlsa() {
  static std::once_flag once;
  std::call_once(once, [] { snd_lib_error_set_handler(alsaLog); });
}

// --- audio in ---

// A whole WAVE file, handed out as fast as it is asked for.
class WaveSource : public AudioSource {
public:
  explicit WaveSource(std::vector<int16_t> samples) : samples_(std::move(samples)) {}
  long read(int16_t* buf, long max, bool& ended) override {
    long n = std::min<long>(max, static_cast<long>(samples_.size() - at_));
    std::copy(samples_.begin() + static_cast<long>(at_), samples_.begin() + static_cast<long>(at_) + n, buf);
    at_ += static_cast<size_t>(n);
    ended = n == 0;
    return n;
  }

private:
  std::vector<int16_t> samples_;
  size_t at_ = 0;
};

// Raw 16 kHz samples from a FIFO, as they come. Opened for reading and writing, so that writers
// may come and go without an end of input.
class FifoSource : public AudioSource {
public:
  explicit FifoSource(int fd) : fd_(fd) {}
  ~FifoSource() override { ::close(fd_); }
  long read(int16_t* buf, long max, bool& ended) override {
    ended = false;
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) return 0;
    // Keep an odd byte for the next read: samples never split.
    char* bytes = reinterpret_cast<char*>(buf);
    std::memcpy(bytes, &carry_, carried_);
    ssize_t got = ::read(fd_, bytes + carried_, static_cast<size_t>(max) * 2 - carried_);
    if (got < 0) {
      ended = errno != EAGAIN && errno != EINTR;
      return 0;
    }
    size_t total = carried_ + static_cast<size_t>(got);
    carried_ = total & 1;
    if (carried_) carry_ = bytes[total - 1];
    return static_cast<long>(total / 2);
  }

private:
  int fd_;
  char carry_ = 0;
  size_t carried_ = 0;
};

// The default capture device.
class AlsaSource : public AudioSource {
public:
  explicit AlsaSource(snd_pcm_t* pcm) : pcm_(pcm) {}
  ~AlsaSource() override { snd_pcm_close(pcm_); }
  long read(int16_t* buf, long max, bool& ended) override {
    ended = false;
    snd_pcm_sframes_t got = snd_pcm_readi(pcm_, buf, static_cast<snd_pcm_uframes_t>(std::min<long>(max, kSourceChunk)));
    if (got < 0) got = snd_pcm_recover(pcm_, static_cast<int>(got), 1);
    if (got < 0) {
      ended = true;
      JComponent::debugf("capture: %s", snd_strerror(static_cast<int>(got)));
      return 0;
    }
    return static_cast<long>(got);
  }

private:
  snd_pcm_t* pcm_;
};

// --- audio out ---

// Each text as the next numbered WAVE file of a folder. The number goes past every file already
// there, so a file is never written over.
class WaveFolder : public AudioDestination {
public:
  explicit WaveFolder(std::string folder) : folder_(std::move(folder)) {}
  bool play(const std::vector<int16_t>& samples, int rate, std::string& why) override {
    static std::mutex numbering;
    std::lock_guard<std::mutex> g(numbering);
    int next = highestNumber() + 1;
    if (next > 9999) {
      why = folder_ + ": no number left after 9999.wav";
      return false;
    }
    char name[16];
    std::snprintf(name, sizeof name, "%04d.wav", next);
    const std::string final = folder_ + "/" + name, part = final + ".part";
    // Written at the recognizer's rate, so that what is said can be heard again.
    if (!writeWave(part, resample(samples, rate, kSpeechRate), kSpeechRate, why)) return false;
    if (std::rename(part.c_str(), final.c_str()) != 0) {
      why = final + ": " + std::strerror(errno);
      std::remove(part.c_str());
      return false;
    }
    return true;
  }

private:
  int highestNumber() const {
    int highest = 0;
    DIR* d = ::opendir(folder_.c_str());
    if (!d) return 0;
    while (dirent* e = ::readdir(d)) {
      const char* n = e->d_name;
      if (std::strlen(n) != 8 || std::strcmp(n + 4, ".wav") != 0) continue;
      int v = 0;
      bool digits = true;
      for (int i = 0; i < 4; ++i) {
        digits = digits && n[i] >= '0' && n[i] <= '9';
        v = v * 10 + (n[i] - '0');
      }
      if (digits && v > highest) highest = v;
    }
    ::closedir(d);
    return highest;
  }
  std::string folder_;
};

// The default playback device, opened for each text.
class AlsaPlayback : public AudioDestination {
public:
  bool play(const std::vector<int16_t>& samples, int rate, std::string& why) override {
    snd_pcm_t* pcm = nullptr;
    int rc = snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, 0);
    if (rc >= 0)
      rc = snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, 1, static_cast<unsigned>(rate),
                              1, 200000);
    size_t at = 0;
    while (rc >= 0 && at < samples.size()) {
      snd_pcm_sframes_t n = snd_pcm_writei(pcm, samples.data() + at, samples.size() - at);
      if (n < 0) n = snd_pcm_recover(pcm, static_cast<int>(n), 1);
      if (n < 0) rc = static_cast<int>(n);
      else at += static_cast<size_t>(n);
    }
    if (rc >= 0) snd_pcm_drain(pcm);
    if (pcm) snd_pcm_close(pcm);
    if (rc < 0) why = std::string("playback device \"default\": ") + snd_strerror(rc);
    return rc >= 0;
  }
};

}  // namespace

// What a machine without a sound card can do instead, named in the failure itself.
const char* const kNoCaptureHint = " (no sound card? LOOMWORK_SPEECH_INPUT=FILE listens to a WAVE file or a FIFO)";
const char* const kNoPlaybackHint = " (no sound card? LOOMWORK_SPEECH_OUTPUT=FOLDER writes WAVE files instead)";

std::unique_ptr<AudioSource> openAudioSource(std::string& why) {
  quietAlsa();
  const std::string path = envOf("LOOMWORK_SPEECH_INPUT");
  if (path.empty()) {
    snd_pcm_t* pcm = nullptr;
    int rc = snd_pcm_open(&pcm, "default", SND_PCM_STREAM_CAPTURE, 0);
    if (rc >= 0)
      rc = snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, 1, kSpeechRate, 1, 100000);
    if (rc < 0) {
      if (pcm) snd_pcm_close(pcm);
      why = std::string("capture device \"default\": ") + snd_strerror(rc) + kNoCaptureHint;
      return nullptr;
    }
    return std::make_unique<AlsaSource>(pcm);
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    why = "speech input " + path + ": " + std::strerror(errno);
    return nullptr;
  }
  if (S_ISFIFO(st.st_mode)) {
    int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      why = "speech input " + path + ": " + std::strerror(errno);
      return nullptr;
    }
    return std::make_unique<FifoSource>(fd);
  }
  std::vector<int16_t> samples;
  int rate = 0;
  if (!readMonoWave(path, samples, rate, why)) {
    why = "speech input " + why;
    return nullptr;
  }
  if (rate == 8000) {
    // The model is of 16 kHz speech: every other sample is interpolated.
    std::vector<int16_t> up(samples.size() * 2);
    for (size_t i = 0; i < samples.size(); ++i) {
      int next = i + 1 < samples.size() ? samples[i + 1] : samples[i];
      up[2 * i] = samples[i];
      up[2 * i + 1] = static_cast<int16_t>((samples[i] + next) / 2);
    }
    samples.swap(up);
  } else if (rate != kSpeechRate) {
    why = "speech input " + path + ": " + std::to_string(rate) + " Hz (16 kHz or 8 kHz wanted)";
    return nullptr;
  }
  return std::make_unique<WaveSource>(std::move(samples));
}

std::shared_ptr<AudioDestination> openAudioDestination(std::string& why) {
  quietAlsa();
  const std::string folder = envOf("LOOMWORK_SPEECH_OUTPUT");
  if (!folder.empty()) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      why = "speech output " + folder + ": not a folder";
      return nullptr;
    }
    return std::make_shared<WaveFolder>(folder);
  }
  snd_pcm_t* pcm = nullptr;
  int rc = snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
  if (rc < 0) {
    why = std::string("playback device \"default\": ") + snd_strerror(rc) + kNoPlaybackHint;
    return nullptr;
  }
  snd_pcm_close(pcm);
  return std::make_shared<AlsaPlayback>();
}

// --- files ---

bool writeWave(const std::string& path, const std::vector<int16_t>& samples, int rate, std::string& why) {
  if (rate <= 0) {
    why = path + ": a sample rate of " + std::to_string(rate) + " Hz";
    return false;
  }
  return JWaveFile::writeSamples(path, JWaveFormat::pcm(static_cast<uint32_t>(rate), 1, 16), samples, why);
}

bool readMonoWave(const std::string& path, std::vector<int16_t>& samples, int& rate, std::string& why) {
  JWaveFile wave;
  if (!wave.read(path, why)) return false;
  const JWaveFormat& f = wave.format;
  if (f.channels != 1 || f.bitsPerSample != 16) {
    why = path + ": not 16-bit mono PCM (format " + std::to_string(f.formatTag) + ", " + std::to_string(f.channels) +
          " channels, " + std::to_string(f.bitsPerSample) + " bits)";
    return false;
  }
  if (f.sampleRate > static_cast<uint32_t>(INT_MAX)) {
    why = path + ": a sample rate of " + std::to_string(f.sampleRate) + " Hz";
    return false;
  }
  samples = std::move(wave.samples);
  rate = static_cast<int>(f.sampleRate);
  return true;
}

}  // namespace speech
