#pragma once
// Speech engines for module tests: a recognizer that "hears" the utterances a test hands it and
// knows the words a test gives it, and synthesizers that log what they would say. Each can be
// told to fail, and every engine object is counted, so a test sees what was made and released.
// A module is handed them with its useEngines().
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "SpeechEngines.h"

class ScriptedEngines : public speech::SpeechEngines {
public:
  // --- what the test sets ---
  std::set<std::string> dictionary{"zero",  "one",  "two",    "three", "four", "five", "six", "seven",
                                   "eight", "nine", "lights", "on",    "off",  "open", "the", "door"};
  std::atomic<bool> noRecognizer{false}, noAudio{false}, noSynthesizer{false}, refuseGrammar{false};
  std::atomic<int> audioLeft{1000};  // destinations still to be had before noAudio sets in

  // While held, a synthesizer waits before it speaks (so a test can fill what waits behind it).
  void holdSpeech(bool hold) {
    {
      std::lock_guard<std::mutex> g(mutex);
      held = hold;
    }
    changed.notify_all();
  }

  // Utterances for the listening recognizer, in order, each with the score it is heard with.
  void say(const std::string& utterance, int score = 100) {
    {
      std::lock_guard<std::mutex> g(mutex);
      heard.push_back({utterance, score});
    }
    changed.notify_all();
  }
  // Waits until the recognizer has taken every utterance said so far.
  bool waitHeard(int ms) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::milliseconds(ms), [this] { return heard.empty() && !inHand; });
  }
  std::vector<std::string> spoken() {
    std::lock_guard<std::mutex> g(mutex);
    return log;
  }

  // --- counts ---
  std::atomic<int> recognizers{0}, destinations{0}, synthesizers{0};  // alive now
  std::atomic<int> recognizersMade{0}, grammarsLoaded{0};
  std::string lastGrammar;  // the JSGF last loaded

  // --- the engines ---
  class Recognizer : public speech::Recognizer {
  public:
    explicit Recognizer(ScriptedEngines& e) : e_(e) { ++e_.recognizers; }
    ~Recognizer() override { --e_.recognizers; }
    bool knowsWord(const std::string& word) override { return e_.dictionary.count(word) != 0; }
    bool loadGrammar(const std::string& jsgf, std::string& why) override {
      if (e_.refuseGrammar) {
        why = "scripted refusal";
        return false;
      }
      ++e_.grammarsLoaded;
      e_.lastGrammar = jsgf;
      return true;
    }
    void listen(const std::function<void(const speech::Heard&)>& heard,
                const std::function<bool()>& keepGoing) override {
      while (keepGoing()) {
        speech::Heard u;
        {
          std::unique_lock<std::mutex> lock(e_.mutex);
          if (!e_.changed.wait_for(lock, std::chrono::milliseconds(20), [this] { return !e_.heard.empty(); })) continue;
          u = e_.heard.front();
          e_.heard.pop_front();
          e_.inHand = true;
        }
        if (u.words == "<end>") {
          done();
          return;
        }
        heard(u);
        done();
      }
    }

  private:
    void done() {
      {
        std::lock_guard<std::mutex> g(e_.mutex);
        e_.inHand = false;
      }
      e_.changed.notify_all();
    }
    ScriptedEngines& e_;
  };

  class Destination : public speech::AudioDestination {
  public:
    explicit Destination(ScriptedEngines& e) : e_(e) { ++e_.destinations; }
    ~Destination() override { --e_.destinations; }
    bool play(const std::vector<int16_t>&, int, std::string&) override { return true; }

  private:
    ScriptedEngines& e_;
  };

  class Synthesizer : public speech::Synthesizer {
  public:
    Synthesizer(ScriptedEngines& e, speech::Gender g, std::shared_ptr<speech::AudioDestination> audio)
        : e_(e), gender_(g), audio_(std::move(audio)) {
      ++e_.synthesizers;
    }
    ~Synthesizer() override { --e_.synthesizers; }
    bool speak(const std::string& text, std::string& why) override {
      {
        std::unique_lock<std::mutex> g(e_.mutex);
        e_.changed.wait_for(g, std::chrono::seconds(10), [this] { return !e_.held; });
        e_.log.push_back((gender_ == speech::Gender::male ? "male: " : "female: ") + text);
      }
      return audio_->play({}, 16000, why);
    }

  private:
    ScriptedEngines& e_;
    speech::Gender gender_;
    std::shared_ptr<speech::AudioDestination> audio_;
  };

  std::unique_ptr<speech::Recognizer> selectRecognizer(std::string& why) override {
    if (noRecognizer) {
      why = "no scripted recognizer";
      return nullptr;
    }
    ++recognizersMade;
    return std::make_unique<Recognizer>(*this);
  }
  std::shared_ptr<speech::AudioDestination> createAudioDestination(std::string& why) override {
    if (noAudio || audioLeft.fetch_sub(1) <= 0) {
      why = "no scripted audio";
      return nullptr;
    }
    return std::make_shared<Destination>(*this);
  }
  std::unique_ptr<speech::Synthesizer> selectSynthesizer(speech::Gender g,
                                                         std::shared_ptr<speech::AudioDestination> audio,
                                                         std::string& why) override {
    if (noSynthesizer) {
      why = "no scripted synthesizer";
      return nullptr;
    }
    return std::make_unique<Synthesizer>(*this, g, std::move(audio));
  }

  std::mutex mutex;
  std::condition_variable changed;
  std::deque<speech::Heard> heard;
  bool inHand = false;
  bool held = false;
  std::vector<std::string> log;
};
