// The real engines behind the speech modules: PocketSphinx with its US English model for
// recognition and espeak-ng for text to speech.
#include "SpeechEngines.h"

#include <espeak-ng/speak_lib.h>
#include <pocketsphinx.h>
#include <sphinxbase/err.h>
#include <sphinxbase/jsgf.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <random>
#include <vector>

#include "base/JComponent.h"

#ifndef LOOMWORK_SPEECH_MODEL_DIR
#define LOOMWORK_SPEECH_MODEL_DIR "/usr/share/pocketsphinx/model/en-us"
#endif

namespace speech {
namespace {

// Utterances are cut at silence by frame loudness, and each is decoded whole: PocketSphinx's own
// voice activity detector takes the first stretch of near-silence for speech, and its running
// cepstral mean garbles the first utterances it hears.
constexpr int kFrame = 160;                         // 10 ms
constexpr double kMinSpeechRms = 100;               // about -50 dBFS: quieter frames are never speech
constexpr double kNoiseFactor = 3;                  // louder than three times the noise floor is speech
constexpr size_t kLeadSamples = 4000;               // 250 ms kept from before the first loud frame
constexpr long kHangSamples = 2400;                 // 150 ms of quiet ends an utterance
constexpr int kMinLoudFrames = 8;                   // shorter bursts (clicks) are no utterance
constexpr size_t kMaxUtterance = kSpeechRate * 10;  // 10 s: a longer one is decoded as it stands

// --- the recognizer's own diagnostics ---

// PocketSphinx's errors become debug lines of the module at work; its chatter is dropped.
void sphinxLog(void*, err_lvl_t level, const char* format, ...) {
  if (level < ERR_ERROR) return;
  char line[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  size_t n = std::strlen(line);
  while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r')) line[--n] = '\0';
  if (n > 0) JComponent::debugf("pocketsphinx: %s", line);
}

void quietSphinx() {
  static std::once_flag once;
  std::call_once(once, [] {
    err_set_logfp(nullptr);
    err_set_callback(sphinxLog, nullptr);
  });
}

// --- recognition ---

class SphinxRecognizer : public Recognizer {
public:
  SphinxRecognizer(ps_decoder_t* ps, std::unique_ptr<AudioSource> source) : ps_(ps), source_(std::move(source)) {}
  ~SphinxRecognizer() override { ps_free(ps_); }

  bool knowsWord(const std::string& word) override {
    char* phones = ps_lookup_word(ps_, word.c_str());
    bool known = phones != nullptr;
    std::free(phones);
    return known;
  }

  // Replacing the search in use under its own name breaks the next utterance: each grammar gets
  // a new name, becomes the search in use, and only then is the old one dropped.
  bool loadGrammar(const std::string& jsgf, std::string& why) override {
    if (jsgf.empty()) {
      hasSearch_ = false;  // nothing to recognise: audio is read and passed over
      return true;
    }
    const std::string name = "commands" + std::to_string(++generation_);
    // Built here rather than by ps_set_jsgf_string, which never frees the parsed grammar.
    jsgf_t* grammar = jsgf_parse_string(jsgf.c_str(), nullptr);
    jsgf_rule_t* rule = grammar ? jsgf_get_public_rule(grammar) : nullptr;
    fsg_model_t* fsg = rule ? jsgf_build_fsg(grammar, rule, ps_get_logmath(ps_),
                                             static_cast<float32>(cmd_ln_float_r(ps_get_config(ps_), "-lw")))
                            : nullptr;
    if (grammar) jsgf_grammar_free(grammar);
    const int set = fsg ? ps_set_fsg(ps_, name.c_str(), fsg) : -1;
    if (fsg) fsg_model_free(fsg);
    if (set != 0) {
      why = "the recognizer refused the grammar";
      return false;
    }
    if (ps_set_search(ps_, name.c_str()) != 0) {
      why = "the recognizer could not switch to the grammar";
      return false;
    }
    if (!search_.empty()) ps_unset_search(ps_, search_.c_str());
    search_ = name;
    hasSearch_ = true;
    return true;
  }

  void listen(const std::function<void(const std::string&)>& heard, const std::function<bool()>& keepGoing) override {
    std::vector<int16_t> chunk(static_cast<size_t>(kSourceChunk));
    std::vector<int16_t> frame;
    std::deque<int16_t> lead;
    std::vector<int16_t> utterance;
    bool speaking = false;
    long quiet = 0;
    int loudFrames = 0;
    double noise = 0;
    auto finish = [&] {
      if (loudFrames >= kMinLoudFrames) heard(decode(utterance));
      speaking = false;
      utterance.clear();
      lead.clear();
      loudFrames = 0;
    };
    while (keepGoing()) {
      bool ended = false;
      long n = source_->read(chunk.data(), kSourceChunk, ended);
      if (ended) break;
      for (long i = 0; i < n; ++i) {
        frame.push_back(chunk[static_cast<size_t>(i)]);
        if (frame.size() < static_cast<size_t>(kFrame)) continue;
        double sum = 0;
        for (int16_t v : frame) sum += static_cast<double>(v) * v;
        const double rms = std::sqrt(sum / kFrame);
        const bool loud = rms >= std::max(kMinSpeechRms, kNoiseFactor * noise);
        if (!speaking) {
          if (loud) {
            speaking = true;
            quiet = 0;
            loudFrames = 1;
            utterance.assign(lead.begin(), lead.end());
            utterance.insert(utterance.end(), frame.begin(), frame.end());
          } else {
            noise = noise == 0 ? rms : 0.95 * noise + 0.05 * rms;
            lead.insert(lead.end(), frame.begin(), frame.end());
            while (lead.size() > kLeadSamples) lead.pop_front();
          }
        } else {
          utterance.insert(utterance.end(), frame.begin(), frame.end());
          if (loud) {
            quiet = 0;
            ++loudFrames;
          } else {
            quiet += kFrame;
          }
          if (quiet >= kHangSamples || utterance.size() >= kMaxUtterance) finish();
        }
        frame.clear();
      }
    }
    if (speaking) finish();
  }

  // One utterance decoded whole; "" when nothing in the grammar was heard.
  std::string decode(std::vector<int16_t>& samples) {
    if (!hasSearch_ || samples.empty()) return std::string();
    // Synthetic speech carries digital silence, which the front end handles badly: dithered.
    for (auto& v : samples)
      if (v == 0) v = static_cast<int16_t>(static_cast<int>(rng_() % 5) - 2);
    if (ps_start_utt(ps_) != 0) return std::string();
    ps_process_raw(ps_, samples.data(), samples.size(), FALSE, TRUE);
    ps_end_utt(ps_);
    int32 score = 0;
    const char* hyp = ps_get_hyp(ps_, &score);
    return hyp ? std::string(hyp) : std::string();
  }

private:
  ps_decoder_t* ps_;
  std::unique_ptr<AudioSource> source_;
  std::string search_;
  bool hasSearch_ = false;
  int generation_ = 0;
  std::minstd_rand rng_{7};
};

std::unique_ptr<Recognizer> selectSphinx(std::string& why) {
  quietSphinx();
  const char* chosen = std::getenv("LOOMWORK_SPEECH_MODEL");
  const std::string model = chosen && *chosen ? chosen : LOOMWORK_SPEECH_MODEL_DIR;
  const std::string hmm = model + "/en-us", dict = model + "/cmudict-en-us.dict";
  struct stat st {};
  if (::stat((hmm + "/mdef").c_str(), &st) != 0 || ::stat(dict.c_str(), &st) != 0) {
    why = "no US English model in " + model;
    return nullptr;
  }
  std::unique_ptr<AudioSource> source = openAudioSource(why);
  if (!source) return nullptr;
  // Dithering: synthetic speech comes with digital silence, which the front end handles badly.
  cmd_ln_t* config =
      cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", hmm.c_str(), "-dict", dict.c_str(), "-dither", "yes", "-seed", "7",
                  "-beam", "1e-80", "-wbeam", "1e-60", "-pbeam", "1e-80", "-logfn", "/dev/null", nullptr);
  if (!config) {
    why = "the recognizer's settings were refused";
    return nullptr;
  }
  ps_decoder_t* ps = ps_init(config);
  cmd_ln_free_r(config);
  if (!ps) {
    why = "the recognizer did not start with the model in " + model;
    return nullptr;
  }
  return std::make_unique<SphinxRecognizer>(ps, std::move(source));
}

// --- text to speech ---

// espeak-ng keeps one state per process and hangs when initialised twice: it is initialised once,
// and every use of it is guarded.
std::mutex espeakLock;
int espeakRate = 0;  // > 0 once initialised; < 0 when that failed
constexpr size_t kMaxSpokenSamples = 22050u * 300;

int espeakCollect(short* wav, int count, espeak_EVENT* events) {
  auto* out = static_cast<std::vector<int16_t>*>(events ? events->user_data : nullptr);
  if (!out || !wav || count <= 0) return 0;
  if (out->size() + static_cast<size_t>(count) > kMaxSpokenSamples) return 1;  // enough: stop
  out->insert(out->end(), wav, wav + count);
  return 0;
}

bool espeakReady(std::string& why) {
  if (espeakRate == 0) {
    int rate = espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, nullptr, espeakINITIALIZE_DONT_EXIT);
    espeakRate = rate > 0 ? rate : -1;
    if (espeakRate > 0) espeak_SetSynthCallback(espeakCollect);
  }
  if (espeakRate < 0) why = "espeak-ng did not start (is espeak-ng-data installed?)";
  return espeakRate > 0;
}

const char* voiceOf(Gender g) {
  switch (g) {
    case Gender::male: return "en-us+m3";
    case Gender::female: return "en-us+f3";
    default: return "en-us";
  }
}

class EspeakSynthesizer : public Synthesizer {
public:
  EspeakSynthesizer(std::string voice, std::shared_ptr<AudioDestination> audio)
      : voice_(std::move(voice)), audio_(std::move(audio)) {}

  bool speak(const std::string& text, std::string& why) override {
    std::vector<int16_t> samples;
    int rate = 0;
    {
      std::lock_guard<std::mutex> g(espeakLock);
      if (!espeakReady(why)) return false;
      if (espeak_SetVoiceByName(voice_.c_str()) != EE_OK) {
        why = "espeak-ng has no voice " + voice_;
        return false;
      }
      espeak_ERROR rc =
          espeak_Synth(text.c_str(), text.size() + 1, 0, POS_CHARACTER, 0, espeakCHARS_AUTO, nullptr, &samples);
      if (rc != EE_OK) {
        why = "espeak-ng could not speak the text";
        return false;
      }
      rate = espeakRate;
    }
    return audio_->play(samples, rate, why);
  }

private:
  std::string voice_;
  std::shared_ptr<AudioDestination> audio_;
};

class RealEngines : public SpeechEngines {
public:
  std::unique_ptr<Recognizer> selectRecognizer(std::string& why) override { return selectSphinx(why); }

  std::shared_ptr<AudioDestination> createAudioDestination(std::string& why) override {
    return openAudioDestination(why);
  }

  std::unique_ptr<Synthesizer> selectSynthesizer(Gender gender, std::shared_ptr<AudioDestination> audio,
                                                 std::string& why) override {
    if (!audio) {
      why = "no audio destination";
      return nullptr;
    }
    std::lock_guard<std::mutex> g(espeakLock);
    if (!espeakReady(why)) return nullptr;
    if (espeak_SetVoiceByName(voiceOf(gender)) != EE_OK) {
      why = std::string("espeak-ng has no voice ") + voiceOf(gender);
      return nullptr;
    }
    return std::make_unique<EspeakSynthesizer>(voiceOf(gender), std::move(audio));
  }
};

}  // namespace

SpeechEngines& realEngines() {
  static RealEngines real;
  return real;
}

}  // namespace speech
