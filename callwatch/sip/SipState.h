#pragma once
// The SIP telephony provider (libcallwatch_sip, loaded by name at run time when
// CALLWATCH_TELEPHONY=sip) offers SIP lines through the same entry points as the simulated
// exchange. The SIP stack (liblinphone: SIP, SDP, RTP, G.711, telephone events, digest
// authentication) runs on one worker thread of its own; its audio goes through an in-memory
// sound card per line (SipSoundCard) to the line's wave devices.
//
// This is the state the entry points, the worker and the sound cards share, all guarded by
// g_mutex. The worker never holds g_mutex while it calls into the stack, and the stack's media
// threads take it only briefly, so that stopping a stream never waits on a thread that waits on
// it. Every event reaches the program on its own thread: the queue of the thread that
// initialized the line half, or the hidden window a wave device reports to.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "provider/Lines.h"

namespace sipline {

using namespace provider;

// One line as the settings (or CALLWATCH_SIP_LISTEN) give it.
struct LineConfig {
  std::string name;
  std::string address;    // sip:user@host, the account
  std::string registrar;  // empty: no registration, calls arrive directly
  std::string user, password;
  std::string listenHost = "0.0.0.0";
  int listenPort = 5060;
};

enum class Registration { kNone, kPending, kDone, kFailed };

struct SipCall : Call {
  bool answerRequested = false;
  int rings = 0;
  Clock::time_point nextRing;
  Clock::time_point hungUpAt;  // when the caller left; the owner drops it within a while
  void* stackCall = nullptr;   // the stack's call, touched on the worker only
};

struct SipLine : Line {
  LineConfig config;
  Registration registration = Registration::kNone;
  std::string registrationError;  // "403 Forbidden"
  bool errorTold = false;
  bool stackFailed = false;  // the line's SIP stack could not start (port taken, bad address)
  HCALL call = 0;            // the call that has the line's audio, 0 when none
};

extern std::vector<SipLine> g_lines;
extern std::map<HCALL, std::shared_ptr<SipCall>> g_calls;
extern int g_ringMs;

// The lines of the settings file's [SipLines] and of CALLWATCH_SIP_LISTEN; problems are told on
// standard error and the entry skipped.
std::vector<LineConfig> ReadLineConfigs();
// "HOST:PORT" (HOST may be empty: all addresses); false when it is not one.
bool ParseHostPort(const std::string& text, std::string* host, int* port);

// The rest is called with g_mutex held.
SipLine* LineByHandle(HLINE h);
std::shared_ptr<SipCall> CallFor(HCALL h);
void SetState(SipCall& call, DWORD state, DWORD detail = 0);
bool OwnerWatches(const SipCall& call);

// The stack's worker (SipStack.cpp). Start is called without g_mutex; it starts one SIP stack
// per line and the registrations. Post hands work to the worker (with or without g_mutex held).
bool StartStack();
void StopStack();
void Post(std::function<void()> work);
// Waits (without g_mutex) until a line with a registrar has its answer, up to ms.
void WaitForRegistration(int line, int ms);
// The program's answer and drop, carried out on the worker.
void AnswerOnStack(HCALL handle);
void HangUpOnStack(HCALL handle);

// The sound cards' side (SipSoundCard.cpp), called with g_mutex held by the media threads:
// samples to send to the caller of a line (silence when none), and samples heard from it.
void TakeSamplesForCaller(int line, int16_t* out, size_t count);
void GiveSamplesFromCaller(int line, const int16_t* in, size_t count);

}  // namespace sipline
