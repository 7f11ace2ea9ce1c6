#pragma once
// What the real-engine test and the speech benchmark share: the items spoken, speaking them into
// WAVE files with JVoiceOutObj, joining the files into one recording, the codes a
// JVoiceCommandObj gave, and the pitch of a recording.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "JVoiceCommandObj.h"
#include "JVoiceOutObj.h"
#include "SpeechAudio.h"
#include "SpeechResample.h"
#include "testing/Harness.h"

namespace roundtrip {

struct Item {
  const char* text;
  int code;  // the code JVoiceCommandObj should give: a digit, or 100 + phrase
};

// Phrases 1 to 3 of the recognizer, then the ten digits.
inline const std::vector<Item>& items() {
  static const std::vector<Item> all{{"lights on", 101}, {"lights off", 102}, {"open the door", 103}, {"zero", 0},
                                     {"one", 1},         {"two", 2},          {"three", 3},           {"four", 4},
                                     {"five", 5},        {"six", 6},          {"seven", 7},           {"eight", 8},
                                     {"nine", 9}};
  return all;
}

inline std::string fileNumbered(const std::string& folder, int n) {
  char name[16];
  std::snprintf(name, sizeof name, "/%04d.wav", n);
  return folder + name;
}

// Every item in the male voice, then every item in the female voice, spoken by a JVoiceOutObj
// into folder (LOOMWORK_SPEECH_OUTPUT): files 0001.wav to 0026.wav. False when a file is missing.
inline bool speakItems(const std::string& folder, std::string& why) {
  ::setenv("LOOMWORK_SPEECH_OUTPUT", folder.c_str(), 1);
  JTestHarness harness;
  JVoiceOutObj& out = harness.place<JVoiceOutObj>("tts");
  harness.send(out, 1, 1);
  int n = 0;
  for (int male = 1; male >= 0; --male) {
    out.isMale = male;
    for (const auto& item : items()) {
      out.phrases[0] = item.text;
      harness.send(out, 0, 0);
      ++n;
    }
  }
  bool idle = JVoiceOutObj::waitQueueIdle(60000);
  harness.send(out, 1, 0);
  ::unsetenv("LOOMWORK_SPEECH_OUTPUT");
  struct stat st {};
  for (int i = 1; i <= n; ++i) {
    if (::stat(fileNumbered(folder, i).c_str(), &st) != 0) {
      why = fileNumbered(folder, i) + " was not written";
      for (const auto& line : harness.debugLines()) why += "\n" + line;
      return false;
    }
  }
  if (!idle) why = "speaking took over a minute";
  return idle;
}

// Low noise, so that the gaps are not digital silence.
inline void appendSilence(std::vector<int16_t>& to, size_t count, std::mt19937& rng) {
  std::uniform_int_distribution<int> noise(-3, 3);
  for (size_t i = 0; i < count; ++i) to.push_back(static_cast<int16_t>(noise(rng)));
}

struct Recording {
  std::vector<int16_t> samples;      // 16 kHz
  std::vector<size_t> speechEnds;    // per item, the sample after its last loud one
  std::vector<size_t> speechStarts;  // per item, its first loud sample
};

// The files in order, each after a gap, with a gap at the end. The first gap is a second at
// least: a recognizer takes a moment to learn the noise floor, as after switching on a microphone.
inline bool joinFiles(const std::vector<std::string>& files, int gapMs, Recording& rec, std::string& why) {
  std::mt19937 rng(11);
  const size_t gap = static_cast<size_t>(gapMs) * 16;
  for (const auto& f : files) {
    std::vector<int16_t> s;
    int rate = 0;
    if (!speech::readMonoWave(f, s, rate, why)) return false;
    if (rate != 16000) s = speech::resample(s, rate, 16000);
    appendSilence(rec.samples, rec.samples.empty() ? std::max<size_t>(gap, 16000) : gap, rng);
    size_t first = s.size(), last = 0;
    for (size_t i = 0; i < s.size(); ++i) {
      if (std::abs(static_cast<int>(s[i])) <= 500) continue;
      first = std::min(first, i);
      last = i + 1;
    }
    rec.speechStarts.push_back(rec.samples.size() + std::min(first, last));
    for (auto& v : s)
      if (v == 0) v = static_cast<int16_t>(static_cast<int>(rng() % 5) - 2);  // no digital silence inside
    rec.speechEnds.push_back(rec.samples.size() + last);
    rec.samples.insert(rec.samples.end(), s.begin(), s.end());
  }
  appendSilence(rec.samples, gap * 2, rng);
  return true;
}

// Spoken texts, one file each, by a JVoiceOutObj into folder (LOOMWORK_SPEECH_OUTPUT), in the
// male voice or the female one; the files' paths, or none when one is missing.
inline std::vector<std::string> speakTexts(const std::string& folder, const std::vector<std::string>& texts, bool male,
                                           std::string& why) {
  ::setenv("LOOMWORK_SPEECH_OUTPUT", folder.c_str(), 1);
  JTestHarness harness;
  JVoiceOutObj& out = harness.place<JVoiceOutObj>("tts");
  out.isMale = male ? 1 : 0;
  harness.send(out, 1, 1);
  for (const auto& t : texts) {
    out.phrases[0] = t.c_str();
    harness.send(out, 0, 0);
  }
  JVoiceOutObj::waitQueueIdle(60000);
  harness.send(out, 1, 0);
  ::unsetenv("LOOMWORK_SPEECH_OUTPUT");
  std::vector<std::string> files;
  struct stat st {};
  for (size_t i = 1; i <= texts.size(); ++i) {
    if (::stat(fileNumbered(folder, static_cast<int>(i)).c_str(), &st) != 0) {
      why = fileNumbered(folder, static_cast<int>(i)) + " was not written";
      return {};
    }
    files.push_back(fileNumbered(folder, static_cast<int>(i)));
  }
  return files;
}

// Noise mixed into a whole recording, snrDb below the power of its speech (the stretches between
// its speechStarts and speechEnds).
inline void mixNoise(Recording& rec, const std::vector<double>& noise, double snrDb) {
  double speech = 0, power = 0;
  size_t count = 0;
  for (size_t k = 0; k < rec.speechStarts.size() && k < rec.speechEnds.size(); ++k)
    for (size_t i = rec.speechStarts[k]; i < rec.speechEnds[k] && i < rec.samples.size(); ++i, ++count)
      speech += static_cast<double>(rec.samples[i]) * rec.samples[i];
  for (double v : noise) power += v * v;
  if (count == 0 || power == 0 || noise.size() < rec.samples.size()) return;
  const double gain = std::sqrt((speech / static_cast<double>(count)) / (power / static_cast<double>(noise.size())) /
                                std::pow(10, snrDb / 10));
  for (size_t i = 0; i < rec.samples.size(); ++i)
    rec.samples[i] = static_cast<int16_t>(std::clamp(rec.samples[i] + gain * noise[i], -32768.0, 32767.0));
}

// Steady noise over a whole recording, snrDb below its speech: broadband, falling with frequency,
// as a fan or a computer.
inline void addSteadyNoise(Recording& rec, double snrDb, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> white(0, 1);
  std::vector<double> noise(rec.samples.size());
  double y = 0;
  for (auto& v : noise) {
    y = 0.7 * y + white(rng);
    v = y;
  }
  mixNoise(rec, noise, snrDb);
}

// Mains hum (50 Hz and its third harmonic) under a hiss, as a fridge or an old computer, snrDb
// below the speech.
inline void addHum(Recording& rec, double snrDb, unsigned seed) {
  const double pi = 3.14159265358979;
  std::mt19937 rng(seed);
  std::normal_distribution<double> white(0, 1);
  std::vector<double> noise(rec.samples.size());
  for (size_t i = 0; i < noise.size(); ++i) {
    const double t = static_cast<double>(i) / 16000;
    noise[i] = 0.6 * std::sin(2 * pi * 50 * t) + 0.3 * std::sin(2 * pi * 150 * t) + 0.25 * white(rng);
  }
  mixNoise(rec, noise, snrDb);
}

// Sounds that are no speech, 16 kHz: a beep, a burst of noise, a rumble, a chirp and a door chime.
inline std::vector<std::vector<int16_t>> nonSpeechSounds() {
  const double pi = 3.14159265358979;
  std::mt19937 rng(5);
  std::normal_distribution<double> white(0, 1);
  std::vector<std::vector<int16_t>> out(5);
  for (int i = 0; i < 8000; ++i) out[0].push_back(static_cast<int16_t>(8000 * std::sin(2 * pi * 1000 * i / 16000)));
  for (int i = 0; i < 6400; ++i)
    out[1].push_back(static_cast<int16_t>(std::clamp(6000 * white(rng), -32768.0, 32767.0)));
  double y = 0;
  std::vector<double> rumble;
  for (int i = 0; i < 16000; ++i) rumble.push_back(y = 0.995 * y + white(rng));
  double p = 0;
  for (double v : rumble) p += v * v;
  for (double v : rumble)
    out[2].push_back(static_cast<int16_t>(std::clamp(9000 * v / std::sqrt(p / 16000), -32768.0, 32767.0)));
  const int n = 11200;  // 0.7 s from 200 Hz to 3 kHz
  for (int i = 0; i < n; ++i) {
    const double t = static_cast<double>(i) / 16000;
    out[3].push_back(static_cast<int16_t>(8000 * std::sin(2 * pi * (200 * t + 2800.0 * t * t / (2.0 * n / 16000)))));
  }
  // A door chime: periodic like a voice (its partials share 110 Hz), but with three of them only.
  for (int i = 0; i < 17600; ++i) {
    const double t = static_cast<double>(i) / 16000;
    out[4].push_back(static_cast<int16_t>(5000 * std::sin(2 * pi * (i < 8000 ? 660 : 550) * t) +
                                          1500 * std::sin(2 * pi * 1320 * t)));
  }
  return out;
}

// Every sound of nonSpeechSounds, each followed by 0.7 s of near silence.
inline void appendNonSpeechSounds(std::vector<int16_t>& to, std::mt19937& rng) {
  for (const auto& sound : nonSpeechSounds()) {
    to.insert(to.end(), sound.begin(), sound.end());
    appendSilence(to, 11200, rng);
  }
}

// The items a recognizer's broadcasts stand for, in order: the digit on output 0, or 100 + k when
// output k went to 1.
inline std::vector<int> codesOf(const std::vector<JTestHarness::Broadcast>& broadcasts) {
  std::vector<int> codes;
  for (const auto& b : broadcasts) {
    const int v = static_cast<int>(b.value.integer());
    if (b.output == 0 && v >= 0) codes.push_back(v);
    if (b.output >= 1 && v == 1) codes.push_back(100 + b.output);
  }
  return codes;
}

// Items heard right, matched in order (an item missed or an extra code costs only itself).
inline int matched(const std::vector<int>& expected, const std::vector<int>& got) {
  std::vector<std::vector<int>> best(expected.size() + 1, std::vector<int>(got.size() + 1, 0));
  for (size_t i = 1; i <= expected.size(); ++i)
    for (size_t j = 1; j <= got.size(); ++j)
      best[i][j] =
          std::max({best[i - 1][j], best[i][j - 1], best[i - 1][j - 1] + (expected[i - 1] == got[j - 1] ? 1 : 0)});
  return best[expected.size()][got.size()];
}

// The median fundamental frequency (Hz) of the voiced 30 ms frames of a recording, by
// autocorrelation over 60 to 400 Hz.
inline double medianPitch(const std::vector<int16_t>& s, int rate) {
  const size_t frame = static_cast<size_t>(rate) * 30 / 1000;
  const size_t minLag = static_cast<size_t>(rate / 400), maxLag = static_cast<size_t>(rate / 60);
  std::vector<double> pitches;
  for (size_t at = 0; at + frame + maxLag < s.size(); at += frame / 2) {
    double energy = 0;
    for (size_t i = 0; i < frame; ++i) energy += static_cast<double>(s[at + i]) * s[at + i];
    if (energy / static_cast<double>(frame) < 1e6) continue;  // quiet: not voiced
    double bestValue = 0;
    size_t bestLag = 0;
    for (size_t lag = minLag; lag <= maxLag; ++lag) {
      double c = 0, e2 = 0;
      for (size_t i = 0; i < frame; ++i) {
        c += static_cast<double>(s[at + i]) * s[at + i + lag];
        e2 += static_cast<double>(s[at + i + lag]) * s[at + i + lag];
      }
      double r = c / std::sqrt(energy * e2 + 1);
      if (r > bestValue) {
        bestValue = r;
        bestLag = lag;
      }
    }
    if (bestValue > 0.6 && bestLag) pitches.push_back(static_cast<double>(rate) / static_cast<double>(bestLag));
  }
  if (pitches.empty()) return 0;
  std::sort(pitches.begin(), pitches.end());
  return pitches[pitches.size() / 2];
}

}  // namespace roundtrip
