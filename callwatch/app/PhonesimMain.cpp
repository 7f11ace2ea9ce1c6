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

#ifndef CALLWATCH_VERSION
#define CALLWATCH_VERSION "unknown"
#endif

namespace {

constexpr const char* kCallUsage =
    "usage: phonesim call --line N [--name TEXT] [--number TEXT] [--blocked] [--outbound] [--rings N]\n"
    "                     [--ring-ms MS] [--audio FILE.wav] [--digits TEXT] [--digit-ms MS]\n"
    "                     [--answer-elsewhere] [--hangup-ms MS]\n";

constexpr const char* kEnvironment =
    "Environment:\n"
    "  PHONESIM_SOCKET  the telephony provider's control socket (default\n"
    "                   $XDG_RUNTIME_DIR/phonesim.sock, else /tmp/phonesim-UID.sock); the provider\n"
    "                   runs inside callwatch, which reads PHONESIM_LINES (0 to 16 lines, default 2),\n"
    "                   PHONESIM_VOICE_ONLY_LINES and PHONESIM_LOCATION (COUNTRY,AREA)\n"
    "  XDG_RUNTIME_DIR  where the control socket is by default\n";

int Usage(const std::string& problem) {
  std::fprintf(stderr, "phonesim: %s\n", problem.c_str());
  std::fputs(kCallUsage, stderr);
  return 2;
}

void Help() {
  std::printf(
      "usage: phonesim call OPTIONS...   (phonesim call --help for the options)\n"
      "       phonesim --help | --version\n"
      "Places calls on the simulated telephone exchange that a running callwatch (its telephony\n"
      "provider) offers, and prints each call's life, one line per step.\n"
      "\n"
      "%s",
      kEnvironment);
}

void CallHelp() {
  std::printf(
      "%s"
      "Places one call and prints its life, one line per step (offered, rung N, answered,\n"
      "answered elsewhere, digit sent C, dropped, idle), until it is over.\n"
      "\n"
      "Options:\n"
      "  --line N            the line called, from 0 (required)\n"
      "  --name TEXT         the caller's name (at most %zu bytes)\n"
      "  --number TEXT       the caller's number (at most %zu bytes)\n"
      "  --blocked           the caller's ID is blocked\n"
      "  --outbound          a call dialled from the line instead of one coming in\n"
      "  --rings N           rings before the caller gives up, at most %d (default 8)\n"
      "  --ring-ms MS        time between rings (default 1000)\n"
      "  --audio FILE.wav    what the caller says once answered (8000 Hz, 16-bit, mono)\n"
      "  --digits TEXT       touch-tone digits pressed after speaking: 0-9 * # A-D, at most %zu\n"
      "  --digit-ms MS       time before each digit (default 500)\n"
      "  --answer-elsewhere  answered on another extension if nobody takes it in time\n"
      "  --hangup-ms MS      how long the caller stays after the last digit (default 2000)\n"
      "  --help              this text\n"
      "Times are 0 to %d ms.\n"
      "\n"
      "%s"
      "\n"
      "Exit status: 0 when the call is over, 1 when the provider cannot be reached or refuses the\n"
      "call, 2 for a bad command line.\n",
      kCallUsage, kMostCallerText, kMostCallerText, kMostRings, kMostDigits, kMostMs, kEnvironment);
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
  const std::string command = argc >= 2 ? argv[1] : "";
  if (command == "--help" || command == "-h") {
    Help();
    return 0;
  }
  if (command == "--version") {
    std::printf("phonesim %s\n", CALLWATCH_VERSION);
    return 0;
  }
  if (command != "call") return Usage("the only command is call");
  for (int i = 2; i < argc; ++i) {
    if (std::string(argv[i]) == "--help" || std::string(argv[i]) == "-h") {
      CallHelp();
      return 0;
    }
    if (std::string(argv[i]) == "--version") {
      std::printf("phonesim %s\n", CALLWATCH_VERSION);
      return 0;
    }
  }
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
