#include "JVoiceCommandObj.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "SpeechEngines.h"
#include "SpeechGrammar.h"
#include "base/JWorker.h"
#include "loom/JDiagram.h"

namespace {
using V = JVoiceCommandObj;
static_assert(sizeof V::kOutputTags / sizeof V::kOutputTags[0] == V::kFirstPhrase + V::kPhrases,
              "one output per phrase after the word");

const JPortTable kInputs{{kSideTop, 0.25, 0.5, portsOf(V::kInputTags)}};
const JPortTable kOutputs{{kSideRight, 0.25, 0.5, portsOf(V::kOutputTags)}};

const char* const kPhraseKeys[V::kPhrases] = {"phrase-1", "phrase-2", "phrase-3", "phrase-4", "phrase-5",
                                              "phrase-6", "phrase-7", "phrase-8", "phrase-9", "phrase-10"};

// "digitsEnabled" is offered first but stored after the phrases, so it has two rows. "debug" is
// offered only. A change takes effect at the next start of the recognizer: a loaded grammar is
// not rebuilt.
const JSettings kSettings{
    JSetting::flag("digitsEnabled", &V::digitsEnabled).init(1).notStored(),
    // The phrases, offered and stored as "phrase-1" to "phrase-10"; a missing key keeps its phrase.
    JSetting::texts("phrase-", &V::phrases).firstIndex(1),
    JSetting::flag("debug", &V::debug).init(0).notStored(),
    JSetting::flag("digitsEnabled", &V::digitsEnabled).init(1).notProperty(),
    // Stored last, after the keys older diagrams hold; such a diagram gets the level a new module
    // has.
    JSetting::integer("reject level", &V::rejectLevel)
        .key("rejectLevel")
        .init(V::kDefaultRejectLevel)
        .range(0, 100, JOutOfRange::kClamp)
        .whenMissing(V::kDefaultRejectLevel)
        .note("how sure the recognizer must be that an utterance was a command: raise it when talk or noises "
              "set outputs, lower it when commands said clearly are missed (with debug on, every rejected "
              "utterance is printed with its score). 0 takes everything heard"),
};

// Receives every finished utterance and turns it into a code for the instance that made it.
class PhraseSink {
public:
  explicit PhraseSink(JVoiceCommandObj* owner) : owner(owner) {}
  void phraseFinish(const speech::Heard& heard, const speech::GrammarCompiler& compiler);

  JVoiceCommandObj* const owner;
};

// The loaded grammar: the compiler that read it (and parses what is heard), the sink it reports
// to, and the thread that listens while it is active.
struct CommandGrammar {
  speech::GrammarCompiler compiler;
  std::shared_ptr<PhraseSink> sink;
  std::atomic<bool> active{false};
  JWorker listener;
};

// The speech objects, one set per library, shared by every instance.
std::unique_ptr<speech::Recognizer> recognizerEngine;
std::shared_ptr<PhraseSink> phraseSink;
std::unique_ptr<CommandGrammar> commandGrammar;
std::shared_ptr<speech::AudioDestination> voiceAudio;
std::unique_ptr<speech::Synthesizer> voiceEngine;

// The parse text read as a decimal integer: leading blanks and a sign allowed, reading stops at
// the first non-digit, held to the int range.
int leadingInteger(const char* text) {
  long v = std::strtol(text, nullptr, 10);
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

// Stops listening and releases every speech object of the library.
void stopRecognizer() {
  if (commandGrammar) {
    commandGrammar->active.store(false);  // deactivate
    commandGrammar->listener.stop();      // the listener asks to go on every 100 ms at most
  }
  phraseSink.reset();
  commandGrammar.reset();
  voiceEngine.reset();
  voiceAudio.reset();
  recognizerEngine.reset();
}

void activate() {
  CommandGrammar* g = commandGrammar.get();
  speech::Recognizer* rec = recognizerEngine.get();
  if (!g || !rec || !g->sink) return;
  g->active.store(true);
  if (g->listener.isAlive()) return;
  JVoiceCommandObj* owner = g->sink->owner;
  g->listener.start(owner, [g, rec, owner] {
    rec->listen(
        [g](const speech::Heard& heard) {
          if (g->active.load()) g->sink->phraseFinish(heard, g->compiler);
        },
        [g] { return g->listener.running(); });
    if (owner->debug.load()) JComponent::debug("speech input ended");
  });
}
}  // namespace

// An utterance that its words account for too poorly (speech outside the grammar, a noise) is
// dropped as one that does not parse.
void PhraseSink::phraseFinish(const speech::Heard& heard, const speech::GrammarCompiler& compiler) {
  int command = 0;
  std::string parsed;
  bool hasParse = false;
  if (!compiler.parse(heard.words, command, parsed, hasParse)) return;
  if (heard.score < owner->rejectLevel.load()) {
    if (owner->debug.load()) JComponent::debugf("rejected \"%s\" (score %d)", heard.words.c_str(), heard.score);
    return;
  }
  char text[JVoiceCommandObj::kParseChars];
  std::snprintf(text, sizeof text, "%s", parsed.c_str());
  if (owner->debug.load()) {
    JComponent::debug("got something");
    JComponent::debug(hasParse ? text : "pszRet is NULL");
    JComponent::debugf("%d %d", command, 0);
  }
  owner->deliver(hasParse ? leadingInteger(text) : command);
}

JVoiceCommandObj::JVoiceCommandObj() {
  setPorts(kInputs, kOutputs);
  setSettings(kSettings);
}

JVoiceCommandObj::~JVoiceCommandObj() { close(); }

// A module going away must not leave a listener reporting to it.
void JVoiceCommandObj::close() {
  if (phraseSink && phraseSink->owner == this) stopRecognizer();
}

// --- face and outputs ---

void JVoiceCommandObj::draw(JGraphics& g, int x, int y, int w, int h) {
  drawText(g, JString("VoiceCommands"), JRect(x, y, w, h));
}

void JVoiceCommandObj::access(int n, JLinkObj&, const JDataType& data) {
  if (data.type() != JIntegerData::id) return;
  const auto& out = static_cast<const JIntegerData&>(data);
  if (n == kWord) out = value;
  if (n >= kFirstPhrase && n < kFirstPhrase + kPhrases) out = phraseActive[n - kFirstPhrase];
}

// --- the recognizer ---

void JVoiceCommandObj::engine(int n, JLinkObj& link) {
  if (n != kEnabled) return;
  enabled = readInteger(link);
  if (enabled != 0) {
    // A start that failed, or stopped after loading the grammar, activates nothing in this call.
    if (!commandGrammar && !startRecognizer()) return;
    activate();  // on every nonzero value, also when already active
  } else if (commandGrammar) {
    stopRecognizer();
  }
}

speech::SpeechEngines& JVoiceCommandObj::engines() const { return engines_ ? *engines_ : speech::realEngines(); }

bool JVoiceCommandObj::startRecognizer() {
  std::string why;
  // A failed start leaves nothing behind: the next nonzero value tries the whole start again.
  recognizerEngine = engines().selectRecognizer(why);
  if (!recognizerEngine) {
    if (!why.empty()) JComponent::debugf("%s", why.c_str());
    JComponent::debug("Can't initialize speech recognition");
    return false;
  }

  std::unique_ptr<JString> text = createGrammar();
  phraseSink = std::make_shared<PhraseSink>(this);

  auto grammar = std::make_unique<CommandGrammar>();
  bool loaded = grammar->compiler.compile(text->str(), why);
  if (loaded) {
    for (const auto& word : grammar->compiler.words()) {
      if (!recognizerEngine->knowsWord(word)) {
        why = "\"" + word + "\" is not in the recognizer's dictionary";
        loaded = false;
        break;
      }
    }
  }
  if (loaded) loaded = recognizerEngine->loadGrammar(grammar->compiler.jsgf(), why);
  if (!loaded) {
    if (!why.empty()) JComponent::debugf("%s", why.c_str());
    JComponent::debug("Couldn't load digits grammar.");
    phraseSink.reset();
    recognizerEngine.reset();
    return false;
  }
  grammar->sink = phraseSink;
  commandGrammar = std::move(grammar);

  // A text-to-speech engine is selected with the recognizer, as its audio pair; it speaks nothing.
  why.clear();
  voiceAudio = engines().createAudioDestination(why);
  if (voiceAudio) voiceEngine = engines().selectSynthesizer(speech::Gender::any, voiceAudio, why);
  if (!voiceEngine) {
    voiceAudio.reset();
    if (!why.empty()) JComponent::debugf("%s", why.c_str());
    JComponent::debug("Couldn't initialize TTS.");
    return false;  // the grammar stays loaded; the next nonzero value activates it
  }
  return true;
}

// The header, the digit line, then every phrase that is set under its own number (100 + i).
// A phrase that would not fit its line, or would break into two lines, is left out with a debug
// line rather than cut into another command.
std::unique_ptr<JString> JVoiceCommandObj::createGrammar() {
  char text[kGrammarChars + 1];
  size_t used = 0;
  auto append = [&](const char* s) {
    int n = std::snprintf(text + used, sizeof text - used, "%s", s);
    if (n > 0) used = std::min(sizeof text - 1, used + static_cast<size_t>(n));
  };
  const bool printing = debug.load() != 0;
  append("[(Commands)]\n");
  if (printing) JComponent::debug("[(Commands)]");
  if (digitsEnabled != 0) {
    append("=<0..9>\n");
    if (printing) JComponent::debug("=<0..9>");
  }
  for (int i = 1; i <= kPhrases; ++i) {
    const JString& phrase = phrases[i - 1];
    if (phrase.isEmpty()) continue;
    if (phrase.length() > kMaxPhraseChars) {
      JComponent::debugf("%s is longer than %d characters: left out of the grammar", kPhraseKeys[i - 1],
                         kMaxPhraseChars);
      continue;
    }
    if (phrase.indexOf('\n') >= 0 || phrase.indexOf('\r') >= 0) {
      JComponent::debugf("%s holds a line break: left out of the grammar", kPhraseKeys[i - 1]);
      continue;
    }
    char line[kLineChars + 1];
    std::snprintf(line, sizeof line, "%d=%s\n", 100 + i, phrase.c_str());
    append(line);
    if (printing) JComponent::debugf("%d=%s", 100 + i, phrase.c_str());
  }
  return std::make_unique<JString>(text, static_cast<int>(used));
}

void JVoiceCommandObj::deliver(int code) {
  if (JDiagram* d = diagram()) {
    d->post([this, code] { gotData(code); }, this);
  } else {
    gotData(code);
  }
}

void JVoiceCommandObj::gotData(int code) {
  if (code <= 100) {
    value = code;
    broadcast(kWord);  // also when the digit repeats
    for (int i = 0; i < kPhrases; ++i) {
      if (phraseActive[i] != 1) continue;
      phraseActive[i] = 0;
      broadcast(kFirstPhrase + i);
    }
  } else if (code < kFirstPhraseCode + kPhrases) {
    const int k = code - kFirstPhraseCode;  // phrase k + 1
    if (value != -1) {
      value = -1;
      broadcast(kWord);
    }
    for (int i = 0; i < kPhrases; ++i) {
      if (i == k && phraseActive[i] == 0) {
        phraseActive[i] = 1;
        broadcast(kFirstPhrase + i);
      } else if (i != k && phraseActive[i] == 1) {
        phraseActive[i] = 0;
        broadcast(kFirstPhrase + i);
      }
    }
  }
}

bool JVoiceCommandObj::recognizerRunning() { return commandGrammar != nullptr; }

bool JVoiceCommandObj::listening() { return commandGrammar && commandGrammar->listener.isAlive(); }

const JVoiceCommandObj* JVoiceCommandObj::resultsGoTo() { return phraseSink ? phraseSink->owner : nullptr; }

bool JVoiceCommandObj::waitListenerDone(int ms) {
  for (int waited = 0; listening(); waited += 10) {
    if (waited >= ms) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

LOOMWORK_REGISTER(JVoiceCommandObj)
