#pragma once
// The speech queue: named voices and one thread that speaks the queued texts in order, so that
// the host thread never waits for a phrase.
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "SpeechEngines.h"
#include "base/JWorker.h"

class JObject;

namespace speech {

// Texts are cut at kMaxText bytes; at most kMaxPending wait.
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

}  // namespace speech
