#pragma once
// The speech engines the modules talk to: an enumerator that finds and selects a recognition
// engine or a text-to-speech engine of a gender, bound to an audio device.
//
// The real engines are PocketSphinx with its US English model (recognition) and espeak-ng (speech
// out). A module is handed other engines (tests' scripted ones) with its useEngines().
#include <functional>
#include <memory>
#include <string>

#include "SpeechAudio.h"

namespace speech {

// One utterance as the recognizer heard it: the words its grammar gives ("" when nothing), and how
// well they account for the sound, from 0 (not at all) to 100 (as well as anything could).
struct Heard {
  std::string words;
  int score = 100;
};

// A selected recognition engine with its audio source open.
class Recognizer {
public:
  virtual ~Recognizer() = default;
  virtual bool knowsWord(const std::string& word) = 0;
  // Makes the grammar the one decoded from now on. False with the reason when it is refused.
  virtual bool loadGrammar(const std::string& jsgf, std::string& why) = 0;
  // Reads and decodes audio while keepGoing() says so and the input lasts; every utterance (cut
  // at silence) goes to heard. keepGoing is asked at least every 100 ms.
  virtual void listen(const std::function<void(const Heard&)>& heard, const std::function<bool()>& keepGoing) = 0;
};

enum class Gender { any = 0, female = 1, male = 2 };

// A selected text-to-speech engine bound to its audio destination.
class Synthesizer {
public:
  virtual ~Synthesizer() = default;
  virtual bool speak(const std::string& text, std::string& why) = 0;
};

// The engine enumerator: finds an engine and selects it with an audio device.
class SpeechEngines {
public:
  virtual ~SpeechEngines() = default;
  virtual std::unique_ptr<Recognizer> selectRecognizer(std::string& why) = 0;
  virtual std::shared_ptr<AudioDestination> createAudioDestination(std::string& why) = 0;
  virtual std::unique_ptr<Synthesizer> selectSynthesizer(Gender gender, std::shared_ptr<AudioDestination> audio,
                                                         std::string& why) = 0;
};

// espeak-ng and PocketSphinx, with the audio of SpeechAudio.h. One per process.
SpeechEngines& realEngines();

}  // namespace speech
