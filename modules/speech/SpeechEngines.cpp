// The real engines behind the speech modules: PocketSphinx with its US English model for
// recognition and espeak-ng for text to speech.
#include "SpeechEngines.h"

#include <espeak-ng/speak_lib.h>
#include <pocketsphinx.h>
#include <sphinxbase/ckd_alloc.h>
#include <sphinxbase/err.h>
#include <sphinxbase/fe.h>
#include <sphinxbase/jsgf.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <random>
#include <vector>

#include "base/JComponent.h"

// sphinxbase's pitch tracker; its header does not compile as C++ (an unopened extern block).
extern "C" {
typedef struct yin_s yin_t;
yin_t* yin_init(int frame_size, float search_threshold, float search_range, int smooth_window);
void yin_free(yin_t* pe);
void yin_start(yin_t* pe);
void yin_end(yin_t* pe);
void yin_write(yin_t* pe, int16 const* frame);
int yin_read(yin_t* pe, uint16* out_period, uint16* out_bestdiff);
}

#ifndef LOOMWORK_SPEECH_MODEL_DIR
#define LOOMWORK_SPEECH_MODEL_DIR "/usr/share/pocketsphinx/model/en-us"
#endif

namespace speech {
namespace {

// Utterances are found by PocketSphinx's own front end: it estimates the noise in every frame
// (also during speech, and from the first frame on), takes it out, and decides speech or not by
// the ratio of signal to that noise. Each utterance is then decoded whole, which lets its cepstral
// mean be taken from itself: a running mean garbles the first utterances a decoder hears.
constexpr int kFrame = 160;                         // 10 ms: the front end's frame shift
constexpr int kHangFrames = 15;                     // 150 ms of quiet ends an utterance
constexpr int kLeadFrames = 25;                     // 250 ms more lead than the front end keeps
constexpr size_t kMaxUtterance = kSpeechRate * 10;  // 10 s: a longer one is decoded as it stands
constexpr int kMaxVadFrames = 256;                  // frames the front end hands out at once at most

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
  // vad: a front end of its own that only finds the utterances; ps decodes them. whole: a front
  // end that keeps every frame, for the second opinion.
  SphinxRecognizer(ps_decoder_t* ps, fe_t* vad, fe_t* whole, std::unique_ptr<AudioSource> source)
      : ps_(ps), vad_(vad), whole_(whole), source_(std::move(source)) {}
  ~SphinxRecognizer() override {
    // The phone loop keeps the segments of its last result until the next one, and its free
    // forgets them: a last result of nothing leaves no segments behind.
    if (hasLoop_ && ps_set_search(ps_, kLoop) == 0 && ps_start_utt(ps_) == 0) {
      const int16 silence[kFrame] = {};
      ps_process_raw(ps_, silence, kFrame, FALSE, TRUE);
      ps_end_utt(ps_);
      ps_get_hyp(ps_, nullptr);
    }
    fe_free(whole_);
    fe_free(vad_);
    ps_free(ps_);
  }

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

  // The front end sees the audio 10 ms at a time and says after each frame whether it is in
  // speech. Frames it hands out belong to an utterance (the ones just before speech included);
  // when it goes back to silence, after kHangFrames quiet frames, the utterance is decoded.
  void listen(const std::function<void(const Heard&)>& heard, const std::function<bool()>& keepGoing) override {
    std::vector<int16_t> chunk(static_cast<size_t>(kSourceChunk));
    std::vector<int16_t> pending;   // less than a frame, waiting for the rest
    std::deque<int16_t> recent;     // the audio the current or next utterance is cut from
    long long recentStart = 0;      // stream sample of recent's first sample
    long long fed = 0;              // samples handed to the front end
    long long utteranceStart = -1;  // stream sample where the utterance in progress began
    auto** cep = static_cast<mfcc_t**>(
        ckd_calloc_2d(kMaxVadFrames, static_cast<size_t>(fe_get_output_size(vad_)), sizeof(mfcc_t)));
    fe_start_utt(vad_);

    auto finish = [&](long long end) {
      const auto from = static_cast<size_t>(std::max(utteranceStart, recentStart) - recentStart);
      const auto to = static_cast<size_t>(std::min(end - recentStart, static_cast<long long>(recent.size())));
      std::vector<int16_t> samples(recent.begin() + static_cast<long>(from), recent.begin() + static_cast<long>(to));
      utteranceStart = -1;
      if (hasSearch_ && !samples.empty()) heard(decode(samples));
    };

    while (keepGoing()) {
      bool ended = false;
      long n = source_->read(chunk.data(), kSourceChunk, ended);
      if (ended) break;
      for (long i = 0; i < n; ++i) {
        pending.push_back(chunk[static_cast<size_t>(i)]);
        if (pending.size() < static_cast<size_t>(kFrame)) continue;
        recent.insert(recent.end(), pending.begin(), pending.end());
        const int16* p = pending.data();
        size_t left = pending.size();
        int32 frames = kMaxVadFrames;
        fe_process_frames(vad_, &p, &left, cep, &frames, nullptr);
        fed += static_cast<long long>(pending.size());
        pending.clear();
        const bool inSpeech = fe_get_vad_state(vad_) != 0;
        if (frames > 0 && utteranceStart < 0) {
          // The frames handed out end at the newest one: the utterance began where they begin.
          utteranceStart = std::max(recentStart, fed - static_cast<long long>(frames + kLeadFrames) * kFrame);
        }
        if (utteranceStart >= 0 && (!inSpeech || fed - utteranceStart >= static_cast<long long>(kMaxUtterance))) {
          finish(fed);
          if (inSpeech) utteranceStart = fed;  // still speaking: the rest is the next utterance
        }
        // Keep what an utterance could still need: all of one in progress, else the lead.
        const long long keepFrom = utteranceStart >= 0 ? utteranceStart : fed - (kLeadFrames + 40) * kFrame;
        while (recentStart < keepFrom && !recent.empty()) {
          recent.pop_front();
          ++recentStart;
        }
      }
    }
    if (utteranceStart >= 0) finish(fed);
    ckd_free_2d(cep);
  }

  // Whether a periodic frame sounds like a voice rather than a bell or a hum: the throat gives
  // every harmonic up to the formants, a few struck partials leave most of them empty. True when
  // at least kRichShare of the harmonics below 4 kHz come within kHarmonicRangeDb of the strongest.
  static bool harmonicsRich(const int16_t* x, int n, int period) {
    static thread_local std::vector<double> hann;
    if (static_cast<int>(hann.size()) != n) {
      hann.resize(static_cast<size_t>(n));
      for (int i = 0; i < n; ++i) hann[static_cast<size_t>(i)] = 0.5 - 0.5 * std::cos(2 * M_PI * i / (n - 1));
    }
    const int count = std::min(40, 4000 * period / kSpeechRate);
    if (count < 3) return true;
    std::vector<double> power(static_cast<size_t>(count));
    double strongest = 0;
    for (int k = 1; k <= count; ++k) {
      // Goertzel at the k-th harmonic.
      const double c = 2 * std::cos(2 * M_PI * k / period);
      double s1 = 0, s2 = 0;
      for (int i = 0; i < n; ++i) {
        const double s0 = x[i] * hann[static_cast<size_t>(i)] + c * s1 - s2;
        s2 = s1;
        s1 = s0;
      }
      power[static_cast<size_t>(k - 1)] = s1 * s1 + s2 * s2 - c * s1 * s2;
      strongest = std::max(strongest, power[static_cast<size_t>(k - 1)]);
    }
    const double floor = strongest * std::pow(10.0, -kHarmonicRangeDb / 10);
    const auto present = std::count_if(power.begin(), power.end(), [&](double p) { return p >= floor; });
    return static_cast<double>(present) >= kRichShare * count;
  }

  // Frames (10 ms) of the utterance with a voice's pitch: periodic at 60 to 400 Hz, rich in harmonics.
  static int voicedFrames(const std::vector<int16_t>& samples) {
    constexpr int kWindow = 560;  // two periods of the lowest pitch
    yin_t* pe = yin_init(kWindow, 0.1f, 0.2f, 2);
    if (!pe) return 0;
    yin_start(pe);
    int voiced = 0;
    for (size_t at = 0; at + kWindow <= samples.size(); at += kFrame) {
      yin_write(pe, samples.data() + at);
      uint16 period = 0, diff = 0;
      if (yin_read(pe, &period, &diff) && diff < 32768 / 5 && period >= kSpeechRate / 400 &&
          period <= kSpeechRate / 60 && harmonicsRich(samples.data() + at, kWindow, period))
        ++voiced;
    }
    yin_end(pe);
    yin_free(pe);
    return voiced;
  }

  // One utterance decoded: its words and score as the audio stands, and for a recording with
  // noise of its own, the words again from the audio with that noise subtracted: the front end's
  // own noise removal leaves enough of a loud room in the features for the model to hear other
  // words in it. The score of the cleaned audio alone misleads (a tone or a chime, cleaned, fits
  // the grammar and the phone loop alike badly, which looks like agreement): the utterance keeps
  // the lower of the two scores.
  Heard decode(std::vector<int16_t>& samples) {
    // Synthetic speech carries digital silence, which the front end handles badly: dithered.
    for (auto& v : samples)
      if (v == 0) v = static_cast<int16_t>(static_cast<int>(rng_() % 5) - 2);
    const bool floored = addNoiseFloor(samples);
    std::vector<int16_t> cleaned;
    if (!floored && hasLoop_) {
      cleaned = samples;
      if (!subtractNoise(cleaned)) cleaned.clear();
    }
    Heard h = judge(samples, floored, cleaned);
    if (floored || h.score <= 0 || !hasLoop_ || cleaned.empty()) return h;
    const auto raw = [&] { ps_process_raw(ps_, cleaned.data(), cleaned.size(), FALSE, TRUE); };
    Path grammar, loop;
    if (decodeWith(search_.c_str(), raw, grammar) && !grammar.words.empty() && decodeWith(kLoop, raw, loop)) {
      h.words = grammar.words;
      h.score = std::min(h.score, confidence(grammar, loop, floored));
    }
    return h;
  }

  // The utterance decoded with the grammar, and again with a loop of every phone for its score.
  // A sound without a voice's pitch scores 0, whatever the grammar made of it. The pitch is also
  // looked for in the cleaned audio when there is one: a steady hum's own periods mix with a
  // voice's and hide it (a digit under mains hum had no voiced frame), and subtraction takes a
  // hum out.
  //
  // The decoder trims the utterance's edges by its own voice detection, which can cut into a word
  // (a quiet "s" under noise, a high voice's onset). An utterance scored low is decoded a second
  // time with every frame kept, and the better of the two counts, the second less
  // kSecondOpinionCost: the better of two tries would otherwise let more other talk through.
  Heard judge(const std::vector<int16_t>& samples, bool floored, const std::vector<int16_t>& cleaned) {
    Heard h;
    // Made for every utterance, also when unused: the front end's noise estimate then follows the
    // room as the decoder's does.
    Features whole(*this, samples);
    const auto raw = [&] { ps_process_raw(ps_, samples.data(), samples.size(), FALSE, TRUE); };
    Path grammar, loop;
    if (!decodeWith(search_.c_str(), raw, grammar) || grammar.words.empty()) return h;
    h.words = grammar.words;
    if (voicedFrames(samples) < kMinVoicedFrames && (cleaned.empty() || voicedFrames(cleaned) < kMinVoicedFrames)) {
      h.score = 0;
      return h;
    }
    if (!hasLoop_ || !decodeWith(kLoop, raw, loop)) return h;
    h.score = confidence(grammar, loop, floored);
    if (h.score >= kSecondOpinionBelow || whole.frames <= 0) return h;
    const auto features = [&] { ps_process_cep(ps_, whole.cep, whole.frames, FALSE, TRUE); };
    Path again, againLoop;
    if (decodeWith(search_.c_str(), features, again) && !again.words.empty() &&
        decodeWith(kLoop, features, againLoop)) {
      const int score = confidence(again, againLoop, floored) - kSecondOpinionCost;
      if (score > h.score) {
        h.words = again.words;
        h.score = score;
      }
    }
    return h;
  }

  // An utterance's features with no frame left out.
  struct Features {
    Features(SphinxRecognizer& r, const std::vector<int16_t>& samples) {
      const int32 room = static_cast<int32>(samples.size() / kFrame) + 2;
      cep = static_cast<mfcc_t**>(
          ckd_calloc_2d(static_cast<size_t>(room), static_cast<size_t>(fe_get_output_size(r.whole_)), sizeof(mfcc_t)));
      const int16* p = samples.data();
      size_t left = samples.size();
      frames = room - 1;  // one kept for the last, partial frame
      fe_start_utt(r.whole_);
      fe_process_frames(r.whole_, &p, &left, cep, &frames, nullptr);
      int32 last = 0;
      fe_end_utt(r.whole_, cep[frames], &last);
      frames += last;
    }
    ~Features() { ckd_free_2d(cep); }
    Features(const Features&) = delete;
    Features& operator=(const Features&) = delete;
    mfcc_t** cep;
    int32 frames;
  };

  // In place, radix 2.
  static void fft(std::vector<std::complex<double>>& a, bool inverse) {
    const size_t n = a.size();
    for (size_t i = 1, j = 0; i < n; ++i) {
      size_t bit = n >> 1;
      for (; j & bit; bit >>= 1) j ^= bit;
      j ^= bit;
      if (i < j) std::swap(a[i], a[j]);
    }
    for (size_t len = 2; len <= n; len <<= 1) {
      const double angle = 2 * M_PI / static_cast<double>(len) * (inverse ? 1 : -1);
      const std::complex<double> step(std::cos(angle), std::sin(angle));
      for (size_t i = 0; i < n; i += len) {
        std::complex<double> w(1);
        for (size_t j = 0; j < len / 2; ++j) {
          const auto u = a[i + j], v = a[i + j + len / 2] * w;
          a[i + j] = u + v;
          a[i + j + len / 2] = u - v;
          w *= step;
        }
      }
    }
    if (inverse)
      for (auto& x : a) x /= static_cast<double>(n);
  }

  // Steady noise taken out of the utterance by spectral subtraction: the noise's spectrum is the
  // mean of the quietest fifth of its frames (the utterance comes with a lead of the room alone),
  // and every frame keeps of each band what stands above it, at least kSubtractFloor of its
  // amplitude (a floor of the noise, which the model expects, rather than holes). False when the
  // utterance is too short to tell its noise.
  static bool subtractNoise(std::vector<int16_t>& samples) {
    constexpr size_t n = kSubtractWindow, hop = n / 2;
    std::vector<double> x(samples.size() + 2 * n, 0.0);  // a window of silence on both sides
    for (size_t i = 0; i < samples.size(); ++i) x[n + i] = samples[i];
    std::vector<double> window(n);  // square root of Hann: analysis and synthesis add up to 1
    for (size_t i = 0; i < n; ++i)
      window[i] = std::sqrt(0.5 - 0.5 * std::cos(2 * M_PI * static_cast<double>(i) / static_cast<double>(n)));
    const size_t count = (x.size() - n) / hop + 1;
    std::vector<std::vector<std::complex<double>>> spectra(count, std::vector<std::complex<double>>(n));
    std::vector<std::pair<double, size_t>> inside;  // energy and index of the frames within the audio
    for (size_t f = 0; f < count; ++f) {
      for (size_t i = 0; i < n; ++i) spectra[f][i] = x[f * hop + i] * window[i];
      fft(spectra[f], false);
      if (f * hop < n || f * hop + n > n + samples.size()) continue;
      double e = 0;
      for (size_t k = 0; k <= n / 2; ++k) e += std::norm(spectra[f][k]);
      inside.emplace_back(e, f);
    }
    if (inside.size() < 10) return false;
    std::sort(inside.begin(), inside.end());
    const size_t quiet = inside.size() / 5;
    std::vector<double> noise(n / 2 + 1, 0.0);
    for (size_t q = 0; q < quiet; ++q)
      for (size_t k = 0; k <= n / 2; ++k)
        noise[k] += std::norm(spectra[inside[q].second][k]) / static_cast<double>(quiet);
    std::vector<double> y(x.size(), 0.0);
    for (size_t f = 0; f < count; ++f) {
      for (size_t k = 0; k <= n / 2; ++k) {
        const double power = std::norm(spectra[f][k]);
        const double kept = power > 0 ? 1 - noise[k] / power : 0;
        const double gain = std::sqrt(std::max(kept, kSubtractFloor * kSubtractFloor));
        spectra[f][k] *= gain;
        if (k > 0 && k < n / 2) spectra[f][n - k] *= gain;
      }
      fft(spectra[f], true);
      for (size_t i = 0; i < n; ++i) y[f * hop + i] += spectra[f][i].real() * window[i];
    }
    for (size_t i = 0; i < samples.size(); ++i)
      samples[i] = static_cast<int16_t>(std::clamp(std::lround(y[n + i]), -32768L, 32767L));
    return true;
  }

  // The model was trained on speech with a room's noise under it: a clean recording's quiet, and
  // the empty bands between the harmonics of a high voice, mislead it (a high voice's "five" heard
  // as "nine"). Noise is added up to kFloorDb below the utterance's loud frames, where the
  // recording has less of its own; a noisy recording is left as it is. True when noise was added.
  bool addNoiseFloor(std::vector<int16_t>& samples) {
    std::vector<double> rms;
    for (size_t at = 0; at + kFrame <= samples.size(); at += kFrame) {
      double e = 0;
      for (size_t i = at; i < at + kFrame; ++i) e += static_cast<double>(samples[i]) * samples[i];
      rms.push_back(std::sqrt(e / kFrame));
    }
    if (rms.size() < 10) return false;
    std::sort(rms.begin(), rms.end());
    const double loud = rms[rms.size() * 95 / 100], quiet = rms[rms.size() / 5];
    const double wanted = loud * std::pow(10.0, -kFloorDb / 20);
    if (wanted <= quiet) return false;
    std::normal_distribution<double> noise(0, std::sqrt(wanted * wanted - quiet * quiet));
    for (auto& v : samples) v = static_cast<int16_t>(std::clamp(v + noise(rng_), -32768.0, 32767.0));
    return true;
  }

  bool usePhoneLoop() {
    hasLoop_ = ps_set_allphone(ps_, kLoop, nullptr) == 0;
    return hasLoop_;
  }

private:
  static constexpr const char* kLoop = "phones";
  static constexpr int kMinVoicedFrames = 3;
  static constexpr double kHarmonicRangeDb = 30;
  static constexpr double kRichShare = 0.15;
  // Acoustic score lost per frame of the grammar's words, against the phone loop, for one point.
  static constexpr double kGapPerPoint = 1;
  // A single word may fall a little less far behind than the words together.
  static constexpr double kWordGapWeight = 40.0 / 35.0;
  // The noise floor, in dB below the loud frames; it narrows every gap to the phone loop (both
  // paths account for the noise alike), which the score widens again by this much.
  static constexpr double kFloorDb = 35;
  static constexpr double kFlooredGapWeight = 1.25;
  // Below this score the utterance gets a second opinion, which costs it this many points.
  static constexpr int kSecondOpinionBelow = 70;
  static constexpr int kSecondOpinionCost = 10;
  // Spectral subtraction: 32 ms windows, and the least share of a band's amplitude kept.
  static constexpr size_t kSubtractWindow = 512;
  static constexpr double kSubtractFloor = 0.2;

  struct Path {
    std::string words;
    long long acoustic = 0;  // the acoustic score alone: language weights differ between searches
    int wordFrames = 0;      // frames in words rather than in silence or noise
    struct Span {
      int first, last;  // frames
      long long acoustic;
    };
    std::vector<Span> spans;  // the grammar's words; every phone of the loop
  };

  // feed hands the decoder the utterance, as audio or as features.
  template <typename Feed>
  bool decodeWith(const char* search, const Feed& feed, Path& path) {
    if (ps_set_search(ps_, search) != 0) return false;
    if (ps_start_utt(ps_) != 0) return false;
    feed();
    ps_end_utt(ps_);
    const char* hyp = ps_get_hyp(ps_, nullptr);
    path.words = hyp ? hyp : "";
    const bool isLoop = std::strcmp(search, kLoop) == 0;
    for (ps_seg_t* seg = ps_seg_iter(ps_); seg; seg = ps_seg_next(seg)) {
      int32 ascr = 0, lscr = 0, lback = 0;
      ps_seg_prob(seg, &ascr, &lscr, &lback);
      path.acoustic += ascr;
      const char* w = ps_seg_word(seg);
      int first = 0, last = 0;
      ps_seg_frames(seg, &first, &last);
      // Fillers are "<sil>", "[NOISE]" and the like in a grammar, "SIL" and "+NSN+" in the loop.
      const bool spoken = w && w[0] != '<' && w[0] != '[' && w[0] != '+' && std::strcmp(w, "SIL") != 0;
      if (spoken) path.wordFrames += last - first + 1;
      if ((spoken || isLoop) && last >= first) path.spans.push_back({first, last, ascr});
    }
    return true;
  }

  // How much worse the grammar's best path sounds than the best path of any phones, per frame of
  // its words: words that account for the sound come close, other speech falls far below. Each
  // word is also held against the phones the loop put in its frames, so that a phrase one word
  // away from a command ("open the window") does not pass on the strength of the words it shares.
  static int confidence(const Path& grammar, const Path& loop, bool floored) {
    const double whole = static_cast<double>(loop.acoustic - grammar.acoustic) / std::max(1, grammar.wordFrames);
    double worstWord = 0;
    for (const auto& w : grammar.spans) {
      double phones = 0;
      for (const auto& p : loop.spans) {
        const int first = std::max(w.first, p.first), last = std::min(w.last, p.last);
        if (first <= last) phones += static_cast<double>(p.acoustic) * (last - first + 1) / (p.last - p.first + 1);
      }
      worstWord = std::max(worstWord, (phones - static_cast<double>(w.acoustic)) / (w.last - w.first + 1));
    }
    const double gap = std::max(whole, worstWord * kWordGapWeight) * (floored ? kFlooredGapWeight : 1.0);
    return static_cast<int>(std::lround(std::clamp(100.0 - gap / kGapPerPoint, 0.0, 100.0)));
  }

  ps_decoder_t* ps_;
  fe_t* vad_;
  fe_t* whole_;
  std::unique_ptr<AudioSource> source_;
  std::string search_;
  bool hasSearch_ = false;
  bool hasLoop_ = false;
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
  // The decoder gets utterances already cut out, and its own front end trims their edges again
  // (decoding the quiet lead with the words costs digits of some voices). Dithering:
  // synthetic speech comes with digital silence, which the front end handles badly. The phone
  // loop that scores utterances is of context-free phones: with triphones it is a hundred times
  // slower. Each frame is scored with the 12 best Gaussians of the model's mixtures rather than
  // 4: the cost is small, and noisy or unusual voices are scored more truly. Silence inside the
  // grammar's path is made likelier than the model's default: in loud noise a word's quiet parts
  // otherwise go to a short digit stretched over the noise ("five").
  const std::string hang = std::to_string(kHangFrames);
  cmd_ln_t* config =
      cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", hmm.c_str(), "-dict", dict.c_str(), "-dither", "yes", "-seed", "7",
                  "-beam", "1e-80", "-wbeam", "1e-60", "-pbeam", "1e-80", "-logfn", "/dev/null", "-remove_noise", "yes",
                  "-remove_silence", "yes", "-vad_postspeech", hang.c_str(), "-vad_prespeech", "20", "-allphone_ci",
                  "yes", "-topn", "12", "-silprob", "0.05", nullptr);
  if (!config) {
    why = "the recognizer's settings were refused";
    return nullptr;
  }
  ps_decoder_t* ps = ps_init(config);
  fe_t* vad = nullptr;
  fe_t* whole = nullptr;
  if (ps) {
    // The finder of utterances: a front end of the decoder's own settings (the model's among
    // them, read by ps_init); and one that keeps every frame.
    vad = fe_init_auto_r(config);
    cmd_ln_set_boolean_r(config, "-remove_silence", FALSE);
    whole = fe_init_auto_r(config);
    cmd_ln_set_boolean_r(config, "-remove_silence", TRUE);
  }
  cmd_ln_free_r(config);
  if (!ps || !vad || !whole) {
    if (ps) ps_free(ps);
    if (vad) fe_free(vad);
    if (whole) fe_free(whole);
    why = "the recognizer did not start with the model in " + model;
    return nullptr;
  }
  auto recognizer = std::make_unique<SphinxRecognizer>(ps, vad, whole, std::move(source));
  if (!recognizer->usePhoneLoop()) {
    why = "the recognizer could not make its phone loop";
    return nullptr;
  }
  return recognizer;
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
