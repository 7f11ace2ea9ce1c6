#include "SpeechQueue.h"

#include <algorithm>
#include <chrono>

#include "base/JComponent.h"

namespace speech {

SpeechQueue::SpeechQueue(JObject* owner) : owner_(owner) {}

SpeechQueue::~SpeechQueue() { stop(); }

bool SpeechQueue::start() {
  try {
    return worker_.start(owner_, [this] { run(); }) || worker_.isAlive();
  } catch (const std::exception&) {
    return false;  // no thread to be had
  }
}

bool SpeechQueue::registerAudio(std::shared_ptr<AudioDestination> audio) {
  if (!audio) return false;
  std::lock_guard<std::mutex> g(mutex_);
  audio_.push_back(std::move(audio));
  return true;
}

bool SpeechQueue::addVoice(const std::string& name, std::unique_ptr<Synthesizer> engine) {
  if (!engine || name.empty()) return false;
  std::lock_guard<std::mutex> g(mutex_);
  voices_[name] = std::shared_ptr<Synthesizer>(std::move(engine));
  return true;
}

bool SpeechQueue::hasVoice(const std::string& name) const {
  std::lock_guard<std::mutex> g(mutex_);
  return voices_.count(name) != 0;
}

bool SpeechQueue::speak(const std::string& text, const std::string& voice, int number) {
  if (text.empty()) return false;
  {
    std::lock_guard<std::mutex> g(mutex_);
    if (stopped_ || !worker_.isAlive() || voices_.count(voice) == 0 || pending_.size() >= kMaxPending) return false;
    // Cut at a character boundary: a UTF-8 sequence is never split.
    size_t n = std::min(text.size(), kMaxText);
    while (n < text.size() && n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    pending_.push_back({text.substr(0, n), voice, number});
  }
  changed_.notify_all();
  return true;
}

bool SpeechQueue::waitIdle(int ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return pending_.empty() && !busy_; });
}

void SpeechQueue::stop() {
  {
    std::lock_guard<std::mutex> g(mutex_);
    stopped_ = true;
  }
  worker_.stop([this] { changed_.notify_all(); });
  size_t dropped = 0;
  {
    std::lock_guard<std::mutex> g(mutex_);
    dropped = pending_.size();
    pending_.clear();
    busy_ = false;
  }
  changed_.notify_all();
  if (dropped) JComponent::debugf("%zu queued texts not spoken", dropped);
}

void SpeechQueue::run() {
  for (;;) {
    Item item;
    std::shared_ptr<Synthesizer> voice;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [this] { return stopped_ || !pending_.empty(); });
      if (stopped_) return;
      item = std::move(pending_.front());
      pending_.pop_front();
      auto it = voices_.find(item.voice);
      if (it != voices_.end()) voice = it->second;
      busy_ = true;
    }
    std::string why;
    if (voice && !voice->speak(item.text, why)) JComponent::debugf("speaking: %s", why.c_str());
    {
      std::lock_guard<std::mutex> g(mutex_);
      busy_ = false;
    }
    changed_.notify_all();
  }
}

}  // namespace speech
