#pragma once
// The telephony provider's control socket: phonesim sends one request line, the provider answers
// with the call's life, one line per step, until the call is over.
//
//   request:  call line=N [name=TEXT] [number=TEXT] [blocked] [outbound] [rings=N] [ring-ms=MS]
//             [audio=PATH] [digits=TEXT] [digit-ms=MS] [answer-elsewhere] [hangup-ms=MS]
//   replies:  offered | rung N | answered | answered elsewhere | digit sent C |
//             dropped | idle | error TEXT
// Values are percent-encoded (%XX) so that any byte can travel; lines end with LF.
#include <string>

constexpr size_t kMostControlLine = 16384;  // a full request: 1024 digits, an audio path
constexpr size_t kMostCallerText = 255;  // name, number
constexpr size_t kMostDigits = 1024;  // end sequences alone run to 103
constexpr int kMostMs = 600000;
constexpr int kMostRings = 100;

struct CCallRequest {
  int line = -1;
  std::string name, number;
  bool blocked = false, outbound = false, answerElsewhere = false;
  int rings = 8;
  int ringMs = 1000;
  std::string audio;  // absolute path of an 8000 Hz 16-bit mono WAVE file; empty: silence
  std::string digits;
  int digitMs = 500;
  int hangupMs = 2000;
};

// False with a reason when the line is not a valid request.
bool ParseCallRequest(const std::string& line, CCallRequest* request, std::string* error);
std::string FormatCallRequest(const CCallRequest& request);
std::string PercentEncode(const std::string& text);
bool PercentDecode(const std::string& text, std::string* out);
// The socket's path: $PHONESIM_SOCKET, else phonesim.sock in $XDG_RUNTIME_DIR, else in /tmp.
std::string ControlSocketPath();
// Whether a provider listens on the socket at path now (a file left by one that is gone: no).
bool ControlSocketInUse(const std::string& path);
