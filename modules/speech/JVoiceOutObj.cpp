#include "JVoiceOutObj.h"

#include <memory>

#include "SpeechQueue.h"

namespace {
using V = JVoiceOutObj;

const JPortTable kInputs{{kSideLeft, 0.1, 0.8, portsOf(V::kInputTags, V::kPhrase, 1)},
                         {kSideTop, 0.25, 0.5, portsOf(V::kInputTags, V::kEnabled, 1)}};
const JPortTable kOutputs{};

// The phrases, then the voice, which is stored but not offered.
const JSettings kSettings{
    // The phrases, offered and stored as "phrase-0" to "phrase-9"; a missing key keeps its phrase.
    JSetting::texts("phrase-", &V::phrases),
    JSetting::flag("isMale", &V::isMale).init(1).notProperty(),
};

// The speech objects, one set per library, shared by every instance.
std::unique_ptr<speech::SpeechQueue> speechQueue;
std::shared_ptr<speech::AudioDestination> maleAudio;
std::shared_ptr<speech::AudioDestination> femaleAudio;
const JVoiceOutObj* queueBuiltBy = nullptr;

// A phrase as the speaking buffer holds it: at most kMaxSpokenChars characters, a UTF-8 sequence
// never split.
std::string spokenText(const std::string& phrase) {
  size_t chars = 0, at = 0;
  for (; at < phrase.size(); ++at) {
    const bool starts = (static_cast<unsigned char>(phrase[at]) & 0xC0) != 0x80;
    if (starts && chars++ == static_cast<size_t>(JVoiceOutObj::kMaxSpokenChars)) break;
  }
  return phrase.substr(0, at);
}

void releaseQueue() {
  if (speechQueue) speechQueue->stop();
  speechQueue.reset();
  maleAudio.reset();
  femaleAudio.reset();
  queueBuiltBy = nullptr;
}

// An engine of one gender with an audio destination of its own; nullptr when there is none.
std::unique_ptr<speech::Synthesizer> createEngine(speech::SpeechEngines& engines, speech::Gender gender,
                                                  std::shared_ptr<speech::AudioDestination>& audio) {
  std::string why;
  std::shared_ptr<speech::AudioDestination> own = engines.createAudioDestination(why);
  std::unique_ptr<speech::Synthesizer> engine;
  if (own) engine = engines.selectSynthesizer(gender, own, why);
  if (own) audio = own;
  if (!engine && !why.empty()) JComponent::debugf("%s", why.c_str());
  return engine;
}
}  // namespace

JVoiceOutObj::JVoiceOutObj() {
  setPorts(kInputs, kOutputs);
  setSettings(kSettings);
}

JVoiceOutObj::~JVoiceOutObj() { close(); }

// A module going away must not leave the queue's thread speaking in its name.
void JVoiceOutObj::close() {
  if (speechQueue && queueBuiltBy == this) releaseQueue();
}

// --- face ---

void JVoiceOutObj::draw(JGraphics& g, int x, int y, int w, int h) { drawText(g, JString("TTS"), JRect(x, y, w, h)); }

// --- speaking ---

void JVoiceOutObj::engine(int n, JLinkObj& link) {
  if (n == kPhrase) {
    phraseIndex = readInteger(link);
    if (enabled == 0 || !speechQueue) return;
    if (phraseIndex < 0 || phraseIndex >= kPhrases || phrases[phraseIndex].isEmpty()) return;
    const std::string text = spokenText(phrases[phraseIndex].str());
    if (!speechQueue->speak(text, isMale != 0 ? "MALE" : "FEMALE", kSpeakerNumber)) JComponent::debug("error speaking");
  } else if (n == kEnabled) {
    enabled = readInteger(link);
    if (enabled != 0) {
      if (!createAndPopulateQueue()) JComponent::debug("CreateAndPopulateQueue failed");
    } else if (speechQueue) {
      releaseQueue();
    }
  }
}

// Every enable builds a new queue; the one before it is released, not reused. A queue whose
// building stopped part-way stays, and refuses what it cannot speak.
bool JVoiceOutObj::createAndPopulateQueue() {
  releaseQueue();
  speechQueue = std::make_unique<speech::SpeechQueue>(this);
  queueBuiltBy = this;
  if (!speechQueue->start()) {
    JComponent::debug("Can't create the TTS Queue object.");
    return false;
  }
  std::string why;
  std::shared_ptr<speech::AudioDestination> audio = engines().createAudioDestination(why);
  if (!audio) {
    if (!why.empty()) JComponent::debugf("%s", why.c_str());
    JComponent::debug("Can't create audio destination");
    return false;
  }
  if (!speechQueue->registerAudio(audio)) {
    JComponent::debug("Can't register audio destination with TTS Queue.");
    return false;
  }
  audio.reset();  // the queue keeps it

  std::unique_ptr<speech::Synthesizer> male = createEngine(engines(), speech::Gender::male, maleAudio);
  if (!male || !speechQueue->addVoice("MALE", std::move(male))) {
    JComponent::debug("Can't create male TTS engine.");
    return false;
  }
  std::unique_ptr<speech::Synthesizer> female = createEngine(engines(), speech::Gender::female, femaleAudio);
  if (!female || !speechQueue->addVoice("FEMALE", std::move(female))) {
    JComponent::debug("Can't create femail TTS engine.");
    return false;
  }
  return true;
}

speech::SpeechEngines& JVoiceOutObj::engines() const { return engines_ ? *engines_ : speech::realEngines(); }

bool JVoiceOutObj::hasQueue() { return speechQueue != nullptr; }

bool JVoiceOutObj::waitQueueIdle(int ms) { return !speechQueue || speechQueue->waitIdle(ms); }

LOOMWORK_REGISTER(JVoiceOutObj)
