#pragma once
// The speech layer the speech modules talk to: an engine enumerator that finds and selects
// recognition and text-to-speech engines, a grammar compiler for the modules' grammar text, and a
// queue that holds named voices and speaks through them on a thread of its own.
//
// The real engines are espeak-ng (speech out, to ALSA or to numbered WAVE files in the folder
// named by LOOMWORK_SPEECH_OUTPUT) and PocketSphinx with its US English model (speech in, from
// ALSA's default capture device or from the WAVE file or FIFO named by LOOMWORK_SPEECH_INPUT).
// Tests install engines of their own with installEngines().
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/JWorker.h"

class JObject;

namespace speech {

// --- grammar ---

// A text as the recognizer matches it: lower case, punctuation dropped, words split at blanks and
// joined by one space. An apostrophe inside a word is kept ("don't"); a pronunciation mark that
// PocketSphinx puts after a word ("the(2)") is dropped.
std::string normalise(const std::string& text);
std::vector<std::string> wordsOf(const std::string& normalised);

// The grammar text of the command recognizer, read and checked: a header line "[(Commands)]",
// at most one digits line "=<0..9>" and numbered phrase lines "N=text". Digits are spoken as the
// words "zero" to "nine".
class GrammarCompiler {
public:
  static constexpr int kMaxLines = 64;
  static constexpr size_t kMaxText = 4096;

  struct Phrase {
    int command;
    std::string words;  // normalised
  };

  // False with the reason when the text is not such a grammar. A phrase line without words is
  // refused: nothing could ever match it.
  bool compile(const std::string& text, std::string& why);
  bool compiled() const { return compiled_; }

  // Every word the grammar uses, once each, in order of first use.
  std::vector<std::string> words() const;
  // The grammar in JSGF for PocketSphinx: one public rule of every digit word and phrase.
  std::string jsgf() const;
  // The command an utterance stands for. A digit gives command 0 and the digit as parse text; a
  // phrase gives its line number and no parse text (hasParseText false). False when the
  // utterance is nothing in the grammar.
  bool parse(const std::string& utterance, int& command, std::string& parseText, bool& hasParseText) const;

  bool digits() const { return digits_; }
  const std::vector<Phrase>& phrases() const { return phrases_; }

  static const char* const kDigitWords[10];

private:
  bool compiled_ = false;
  bool digits_ = false;
  std::vector<Phrase> phrases_;
};

// --- engines ---

// A selected recognition engine with its audio source open.
class Recognizer {
public:
  virtual ~Recognizer() = default;
  virtual bool knowsWord(const std::string& word) = 0;
  // Makes the grammar the one decoded from now on. False with the reason when it is refused.
  virtual bool loadGrammar(const std::string& jsgf, std::string& why) = 0;
  // Reads and decodes audio while keepGoing() says so and the input lasts; every utterance (cut
  // at silence) goes to heard as the words recognised ("" when nothing was). keepGoing is asked
  // at least every 100 ms.
  virtual void listen(const std::function<void(const std::string&)>& heard,
                      const std::function<bool()>& keepGoing) = 0;
};

// Where synthesised speech goes.
class AudioDestination {
public:
  virtual ~AudioDestination() = default;
  // Plays (or stores) mono 16-bit samples at rate; false with the reason.
  virtual bool play(const std::vector<int16_t>& samples, int rate, std::string& why) = 0;
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

// The engines in use: those installed, else espeak-ng and PocketSphinx.
SpeechEngines& engines();
// Tests put engines of their own in place (nullptr: the real ones again). Not owned.
void installEngines(SpeechEngines* e);

// --- the speech queue ---

// Named voices and one thread that speaks the queued texts in order. Texts are cut at
// kMaxText bytes; at most kMaxPending wait.
class SpeechQueue {
public:
  static constexpr size_t kMaxText = 4096;  // bytes
  static constexpr size_t kMaxPending = 64;

  // Debug lines of the speaking thread carry owner's name; the owner stops the queue (stop() or
  // destruction) before it goes.
  explicit SpeechQueue(JObject* owner);
  ~SpeechQueue();
  SpeechQueue(const SpeechQueue&) = delete;
  SpeechQueue& operator=(const SpeechQueue&) = delete;

  // Starts the speaking thread; false when it cannot be started.
  bool start();
  bool registerAudio(std::shared_ptr<AudioDestination> audio);
  bool addVoice(const std::string& name, std::unique_ptr<Synthesizer> engine);
  bool hasVoice(const std::string& name) const;
  // Queues text for the voice; false when there is no such voice, the text is empty, or the
  // queue is full, not started or stopped. number is the caller's mark, kept with the text.
  bool speak(const std::string& text, const std::string& voice, int number);
  // Waits up to ms until nothing is queued or being spoken; true when idle.
  bool waitIdle(int ms);
  // Ends the speaking thread after the text in hand; what still waits is dropped.
  void stop();

private:
  struct Item {
    std::string text, voice;
    int number;
  };
  void run();

  JObject* owner_;
  JWorker worker_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Item> pending_;
  bool busy_ = false;
  bool stopped_ = false;
  std::vector<std::shared_ptr<AudioDestination>> audio_;
  std::map<std::string, std::shared_ptr<Synthesizer>> voices_;
};

// --- samples ---

// Mono samples from one rate to another, through a windowed-sinc low-pass at the lower Nyquist
// frequency.
std::vector<int16_t> resample(const std::vector<int16_t>& in, int from, int to);

// --- WAVE files ---

// Mono 16-bit PCM. read: false with the reason for anything else.
bool writeWave(const std::string& path, const std::vector<int16_t>& samples, int rate, std::string& why);
bool readWave(const std::string& path, std::vector<int16_t>& samples, int& rate, std::string& why);
// The same from bytes in memory (a whole file).
bool parseWave(const std::string& bytes, std::vector<int16_t>& samples, int& rate, std::string& why);

}  // namespace speech
