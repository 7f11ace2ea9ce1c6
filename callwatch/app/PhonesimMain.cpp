// phonesim call --line N [--name TEXT] [--number TEXT] [--blocked] [--outbound] [--rings N]
//   [--ring-ms MS] [--audio FILE.wav] [--digits TEXT] [--digit-ms MS] [--answer-elsewhere]
//   [--hangup-ms MS]
// Places a call on the simulated exchange and prints its life, one line per step, until it is
// over (exit 0). Exit 1 with one line on standard error when the provider cannot be reached or
// refuses the call; 2 for a bad command line.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/WaveDefs.h"
#include "platform/ControlClient.h"

namespace {

int Usage(const std::string& problem) {
  std::fprintf(stderr, "phonesim: %s\n", problem.c_str());
  std::fprintf(stderr,
               "usage: phonesim call --line N [--name TEXT] [--number TEXT] [--blocked] "
               "[--outbound] [--rings N] [--ring-ms MS] [--audio FILE.wav] [--digits TEXT] "
               "[--digit-ms MS] [--answer-elsewhere] [--hangup-ms MS]\n");
  return 2;
}

bool Number(const char* text, int most, int* value) {
  char* end = nullptr;
  long v = std::strtol(text, &end, 10);
  if (end == text || *end || v < 0 || v > most) return false;
  *value = static_cast<int>(v);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::string(argv[1]) != "call") return Usage("the only command is call");
  CCallRequest r;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    const char* v = nullptr;
    bool ok = true;
    if (arg == "--blocked") r.blocked = true;
    else if (arg == "--outbound") r.outbound = true;
    else if (arg == "--answer-elsewhere") r.answerElsewhere = true;
    else if (arg == "--line") ok = (v = value()) && Number(v, 1000, &r.line);
    else if (arg == "--rings") ok = (v = value()) && Number(v, kMostRings, &r.rings);
    else if (arg == "--ring-ms") ok = (v = value()) && Number(v, kMostMs, &r.ringMs);
    else if (arg == "--digit-ms") ok = (v = value()) && Number(v, kMostMs, &r.digitMs);
    else if (arg == "--hangup-ms") ok = (v = value()) && Number(v, kMostMs, &r.hangupMs);
    else if (arg == "--name") ok = (v = value()) && (r.name = v).size() <= kMostCallerText;
    else if (arg == "--number") ok = (v = value()) && (r.number = v).size() <= kMostCallerText;
    else if (arg == "--digits") ok = (v = value()) && (r.digits = v).size() <= kMostDigits;
    else if (arg == "--audio") ok = (v = value()) && (r.audio = v, true);
    else return Usage("unknown option " + arg);
    if (!ok) return Usage("bad or missing value for " + arg);
  }
  if (r.line < 0) return Usage("--line is required");
  for (char c : r.digits)
    if (!((c >= '0' && c <= '9') || c == '*' || c == '#' || (c >= 'A' && c <= 'D')))
      return Usage(std::string("not a touch-tone digit: ") + c);
  if (!r.audio.empty()) {
    std::vector<int16_t> samples;
    std::string error;
    if (!ReadWaveFile(r.audio, &samples, &error)) {
      std::fprintf(stderr, "phonesim: %s\n", error.c_str());
      return 1;
    }
    char full[PATH_MAX];
    if (!realpath(r.audio.c_str(), full)) {
      std::fprintf(stderr, "phonesim: cannot resolve %s\n", r.audio.c_str());
      return 1;
    }
    r.audio = full;
  }

  CControlClient client;
  std::string error;
  if (!client.Place(r, &error)) {
    std::fprintf(stderr, "phonesim: %s\n", error.c_str());
    return 1;
  }
  std::string line;
  while (client.NextLine(&line, 24 * 3600 * 1000)) {
    if (line.rfind("error ", 0) == 0) {
      std::fprintf(stderr, "phonesim: the provider refused the call: %s\n", line.c_str() + 6);
      return 1;
    }
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
    if (line == "idle") return 0;
  }
  std::fprintf(stderr, "phonesim: the telephony provider went away before the call was over\n");
  return 1;
}
