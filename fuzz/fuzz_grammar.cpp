// The speech layer's readers of outside input: the grammar text (phrases come from diagram files
// and property dialogs) with the mapping of heard words back to commands, and WAVE files
// (LOOMWORK_SPEECH_INPUT). The first byte picks which one reads the rest.
#include <cstddef>
#include <cstdint>
#include <string>

#if __has_include("SpeechLayer.h")
#include "SpeechLayer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (data[0] & 1) {
    std::vector<int16_t> samples;
    int rate = 0;
    std::string why;
    speech::parseWave(text, samples, rate, why);
    if (rate > 0 && rate < 200000 && samples.size() < 100000) speech::resample(samples, rate, 16000);
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
