// The speech layer's readers of outside input: the grammar text (phrases come from diagram files
// and property dialogs) with the mapping of heard words back to commands, and WAVE files
// (LOOMWORK_SPEECH_INPUT, read by the host's JWaveFile) with the resampling of what they hold.
// The first byte picks which one reads the rest.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#if __has_include("SpeechGrammar.h")
#include "FuzzSupport.h"
#include "SpeechGrammar.h"
#include "SpeechResample.h"
#include "base/JWaveFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (data[0] & 1) {
    JWaveFile wave;
    std::string why;
    const bool read = wave.parse(text.data(), text.size(), why);
    check(read || !why.empty(), "a WAVE file refused without a reason");
    check(wave.samples.size() <= text.size(), "more samples than bytes");
    const uint32_t rate = wave.format.sampleRate;
    if (read && wave.format.channels == 1 && rate < 200000 && wave.samples.size() < 100000)
      speech::resample(wave.samples, static_cast<int>(rate), 16000);
    return 0;
  }
  speech::GrammarCompiler g;
  std::string why;
  // The text up to a NUL is the grammar; after it, what the recognizer "heard".
  const size_t cut = text.find('\0');
  const std::string grammar = text.substr(0, cut);
  const std::string heard = cut == std::string::npos ? std::string() : text.substr(cut + 1);
  if (g.compile(grammar, why)) {
    g.words();
    g.jsgf();
    int command = 0;
    std::string parsed;
    bool hasParse = false;
    g.parse(heard, command, parsed, hasParse);
    for (const auto& p : g.phrases()) g.parse(p.words, command, parsed, hasParse);
  }
  speech::wordsOf(speech::normalise(heard));
  return 0;
}
#else
extern "C" int LLVMFuzzerTestOneInput(const uint8_t*, size_t) { return 0; }
#endif
