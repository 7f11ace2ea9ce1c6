// The SIP stack's worker: one liblinphone core per line, all created, driven and ended on this
// thread (the stack is not thread-safe). It turns the stack's call events into telephony events,
// counts rings while a call is offered, and carries out the program's answers and drops.
#include <linphone/core.h>
#include <linphone/api/c-content.h>
#include <linphone/info_message.h>
#include <linphone/factory.h>
#include <linphone/logging.h>
#include <mediastreamer2/mssndcard.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <strings.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <future>

#include "base/JWorker.h"
#include "sip/SipSoundCard.h"
#include "sip/SipState.h"

namespace sipline {
namespace {

constexpr int kLoopMs = 5;             // how often the stack runs when nothing wakes it
constexpr int kOwnerDropsWithinS = 5;  // after the caller left, the owner has this long to drop

JWorker& g_worker = *new JWorker;  // never destroyed: a stack left running at exit is not joined by a static
std::atomic<bool> g_running{false};
std::mutex g_workMutex;
std::condition_variable g_wake;
std::deque<std::function<void()>> g_work;       // under g_workMutex
std::condition_variable g_registrationChanged;  // with g_mutex
std::vector<LinphoneCore*> g_cores;             // the worker's only
std::string g_dataDir;

int LineOf(LinphoneCore* lc) { return static_cast<int>(reinterpret_cast<intptr_t>(linphone_core_get_user_data(lc))); }
HCALL HandleOf(LinphoneCall* call) {
  return static_cast<HCALL>(reinterpret_cast<uintptr_t>(linphone_call_get_user_data(call)));
}
std::string Or(const char* text) { return text ? text : ""; }

void OnLog(LinphoneLoggingService*, const char* domain, LinphoneLogLevel, const char* message) {
  std::fprintf(stderr, "sip %s: %s\n", domain ? domain : "", message ? message : "");
}

// ---- calls --------------------------------------------------------------------------------------

struct Caller {
  std::string name, number;
  bool blocked = false;
};

// Who calls: the display name and user part of P-Asserted-Identity when present, else of From;
// "anonymous" or a request for privacy make a blocked caller.
Caller CallerOf(LinphoneCall* call) {
  Caller c;
  const LinphoneAddress* from = linphone_call_get_remote_address(call);
  LinphoneAddress* asserted = nullptr;
  const LinphoneCallParams* remote = linphone_call_get_remote_params(call);
  const char* pai = remote ? linphone_call_params_get_custom_header(remote, "P-Asserted-Identity") : nullptr;
  if (pai && *pai) asserted = linphone_factory_create_address(linphone_factory_get(), pai);
  const LinphoneAddress* who = asserted ? asserted : from;
  if (who) {
    c.name = Or(linphone_address_get_display_name(who));
    c.number = Or(linphone_address_get_username(who));
    const std::string domain = Or(linphone_address_get_domain(who));
    if (strcasecmp(c.number.c_str(), "anonymous") == 0 || strcasecmp(domain.c_str(), "anonymous.invalid") == 0 ||
        strcasecmp(c.name.c_str(), "anonymous") == 0)
      c.blocked = true;
  }
  const char* privacy = remote ? linphone_call_params_get_custom_header(remote, "Privacy") : nullptr;
  if (privacy && *privacy && strcasecmp(privacy, "none") != 0) c.blocked = true;
  if (asserted) linphone_address_unref(asserted);
  return c;
}

void Refuse(LinphoneCall* call, LinphoneReason reason) { linphone_call_decline(call, reason); }

void OnIncoming(LinphoneCore* lc, LinphoneCall* call) {
  const int index = LineOf(lc);
  const Caller caller = CallerOf(call);
  LinphoneReason refusal = LinphoneReasonNone;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    SipLine& l = g_lines[static_cast<size_t>(index)];
    if (!l.open || !g_lineApp.handle) {
      refusal = LinphoneReasonTemporarilyUnavailable;  // nobody watches this line
    } else if (l.call) {
      refusal = LinphoneReasonBusy;  // the line's audio belongs to the call in progress
    } else {
      auto c = std::make_shared<SipCall>();
      c->handle = g_nextHandle++;
      c->line = index;
      c->state = LINECALLSTATE_OFFERING;
      c->name = caller.name;
      c->number = caller.number;
      if (caller.blocked) {
        c->callerFlags = LINECALLPARTYID_BLOCKED;
        c->name = c->number = "";
      } else {
        c->callerFlags = (c->name.empty() ? DWORD{0} : DWORD{LINECALLPARTYID_NAME}) |
                         (c->number.empty() ? DWORD{0} : DWORD{LINECALLPARTYID_ADDRESS});
        if (!c->callerFlags) c->callerFlags = LINECALLPARTYID_UNKNOWN;
      }
      c->stackCall = linphone_call_ref(call);
      c->appHolds = true;
      linphone_call_set_user_data(call, reinterpret_cast<void*>(static_cast<uintptr_t>(c->handle)));
      g_calls[c->handle] = c;
      l.call = c->handle;
      const DWORD privilege =
          (l.privileges & LINECALLPRIVILEGE_OWNER) ? LINECALLPRIVILEGE_OWNER : LINECALLPRIVILEGE_MONITOR;
      RaiseLine(index, l.open, LINE_APPNEWCALL, 0, c->handle, privilege);
      RaiseLine(index, c->handle, LINE_CALLSTATE, LINECALLSTATE_OFFERING, 0, 0);
      RaiseLine(index, c->handle, LINE_CALLINFO, LINECALLINFOSTATE_CALLERID, 0, 0);
      // The first ring is counted as the call arrives, the next every CALLWATCH_SIP_RING_MS.
      c->rings = 1;
      if (l.devStates & LINEDEVSTATE_RINGING) RaiseLine(index, l.open, LINE_LINEDEVSTATE, LINEDEVSTATE_RINGING, 0, 1);
      c->nextRing = Clock::now() + std::chrono::milliseconds(g_ringMs);
    }
  }
  if (refusal != LinphoneReasonNone) Refuse(call, refusal);
}

void OnCallState(LinphoneCore* lc, LinphoneCall* call, LinphoneCallState state, const char*) {
  if (state == LinphoneCallIncomingReceived) {
    OnIncoming(lc, call);
    return;
  }
  const HCALL handle = HandleOf(call);
  if (!handle) return;
  bool release = false;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    auto c = CallFor(handle);
    if (!c) return;
    switch (state) {
      case LinphoneCallConnected:
      case LinphoneCallStreamsRunning:
        if (!c->ended && c->state != LINECALLSTATE_CONNECTED && c->state != LINECALLSTATE_DISCONNECTED)
          SetState(*c, LINECALLSTATE_CONNECTED);
        break;
      case LinphoneCallEnd:
      case LinphoneCallError:
        // The caller hung up (BYE), gave up before the answer (CANCEL), or the call failed.
        if (!c->ended) {
          SetState(*c, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL);
          if (OwnerWatches(*c)) c->hungUpAt = Clock::now();
          else SetState(*c, LINECALLSTATE_IDLE);
        }
        break;
      case LinphoneCallReleased:
        release = c->stackCall != nullptr;
        c->stackCall = nullptr;
        if (!c->ended) {
          SetState(*c, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL);
          if (OwnerWatches(*c)) {
            if (c->hungUpAt == Clock::time_point{}) c->hungUpAt = Clock::now();
          } else {
            SetState(*c, LINECALLSTATE_IDLE);
          }
        }
        ForgetIfDone(handle);
        break;
      default: break;
    }
  }
  if (release) {
    linphone_call_set_user_data(call, nullptr);
    linphone_call_unref(call);
  }
}

void OnDtmf(LinphoneCore*, LinphoneCall* call, int dtmf) {
  const HCALL handle = HandleOf(call);
  if (!handle || dtmf <= 0 || dtmf > 127) return;
  std::lock_guard<std::mutex> lock(g_mutex);
  auto c = CallFor(handle);
  if (!c || c->ended || c->state != LINECALLSTATE_CONNECTED) return;
  if (c->monitorModes & (LINEDIGITMODE_DTMF | LINEDIGITMODE_DTMFEND))
    RaiseLine(c->line, c->handle, LINE_MONITORDIGITS, static_cast<unsigned char>(dtmf), LINEDIGITMODE_DTMF, 0);
}

// The stack reads application/dtmf-relay INFO itself; application/dtmf (RFC 2976's plain form)
// reaches us with its body, which is the key alone.
void OnInfo(LinphoneCore* lc, LinphoneCall* call, const LinphoneInfoMessage* message) {
  const LinphoneContent* content = message ? linphone_info_message_get_content(message) : nullptr;
  if (!content) return;
  if (strcasecmp(Or(linphone_content_get_type(content)).c_str(), "application") != 0 ||
      strcasecmp(Or(linphone_content_get_subtype(content)).c_str(), "dtmf") != 0)
    return;
  const uint8_t* body = linphone_content_get_buffer(content);
  const size_t size = linphone_content_get_size(content);
  if (!body || size == 0 || size > 16) return;
  size_t at = 0;
  while (at < size && (body[at] == ' ' || body[at] == '\t' || body[at] == '\r' || body[at] == '\n')) ++at;
  if (at >= size) return;
  const char key = static_cast<char>(body[at]);
  if (!std::strchr("0123456789*#ABCD", key)) return;
  for (size_t i = at + 1; i < size; ++i)
    if (body[i] != ' ' && body[i] != '\t' && body[i] != '\r' && body[i] != '\n') return;  // not one key
  OnDtmf(lc, call, key);
}

void OnRegistration(LinphoneCore* lc, LinphoneAccount* account, LinphoneRegistrationState state, const char*) {
  const int index = LineOf(lc);
  std::string error;
  if (state == LinphoneRegistrationFailed) {
    const LinphoneErrorInfo* info = linphone_account_get_error_info(account);
    const int code = info ? linphone_error_info_get_protocol_code(info) : 0;
    const std::string phrase = info ? Or(linphone_error_info_get_phrase(info)) : "";
    error =
        code ? std::to_string(code) + (phrase.empty() ? "" : " " + phrase) : (phrase.empty() ? "no answer" : phrase);
  }
  std::lock_guard<std::mutex> lock(g_mutex);
  SipLine& l = g_lines[static_cast<size_t>(index)];
  if (state == LinphoneRegistrationOk) {
    l.registration = Registration::kDone;
  } else if (state == LinphoneRegistrationFailed) {
    // A line that never registered is not opened; told once.
    if (l.registration == Registration::kPending) l.registration = Registration::kFailed;
    l.registrationError = error;
    if (!l.errorTold) {
      l.errorTold = true;
      std::fprintf(stderr, "callwatch: line \"%s\": registration failed: %s\n", l.config.name.c_str(), error.c_str());
      std::fflush(stderr);
    }
  }
  g_registrationChanged.notify_all();
}

// ---- the worker -------------------------------------------------------------------------------

// The stack binds its ports so that others may share them: a port another program (or another
// line) holds would be shared silently. Tried first with a plain bind of each transport.
bool PortFree(int port) {
  for (int type : {SOCK_DGRAM, SOCK_STREAM}) {
    const int s = ::socket(AF_INET, type, 0);
    if (s < 0) return false;
    // Connections of an earlier run that are still closing do not hold a TCP port; a listener does.
    const int yes = 1;
    if (type == SOCK_STREAM) ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    a.sin_port = htons(static_cast<uint16_t>(port));
    const bool bound = ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(s);
    if (!bound) return false;
  }
  return true;
}

LinphoneCore* MakeCore(int index, const LineConfig& config, std::string* problem) {
  // The stack listens on every address of the machine; a line meant for one is told so.
  if (config.listenHost != "0.0.0.0" && !config.listenHost.empty())
    std::fprintf(stderr, "callwatch: line \"%s\": listening on port %d of every address, not of %s alone\n",
                 config.name.c_str(), config.listenPort, config.listenHost.c_str());
  if (!PortFree(config.listenPort)) {
    *problem = "cannot listen on port " + std::to_string(config.listenPort);
    return nullptr;
  }
  LinphoneFactory* factory = linphone_factory_get();
  const std::string dir = g_dataDir + "/line" + std::to_string(index);
  std::filesystem::create_directories(dir);
  linphone_factory_set_data_dir(factory, dir.c_str());
  linphone_factory_set_config_dir(factory, dir.c_str());
  LinphoneCoreCbs* cbs = linphone_factory_create_core_cbs(factory);
  linphone_core_cbs_set_call_state_changed(cbs, OnCallState);
  linphone_core_cbs_set_dtmf_received(cbs, OnDtmf);
  linphone_core_cbs_set_info_received(cbs, OnInfo);
  linphone_core_cbs_set_account_registration_state_changed(cbs, OnRegistration);
  LinphoneCore* lc = linphone_factory_create_core_3(factory, nullptr, nullptr, nullptr);
  if (!lc) {
    linphone_core_cbs_unref(cbs);
    *problem = "the SIP stack cannot start";
    return nullptr;
  }
  linphone_core_add_callbacks(lc, cbs);
  linphone_core_cbs_unref(cbs);
  linphone_core_set_user_data(lc, reinterpret_cast<void*>(static_cast<intptr_t>(index)));
  linphone_core_set_user_agent(lc, "Callwatch", nullptr);
  linphone_core_enable_ipv6(lc, FALSE);
  linphone_core_enable_video_capture(lc, FALSE);
  linphone_core_enable_video_display(lc, FALSE);
  linphone_core_enable_echo_cancellation(lc, FALSE);
  linphone_core_enable_adaptive_rate_control(lc, FALSE);
  // A short jitter buffer: a key pressed reaches loomwork soon after its first packet.
  linphone_core_set_audio_jittcomp(lc, 20);
  linphone_core_enable_audio_adaptive_jittcomp(lc, FALSE);
  linphone_core_set_audio_port(lc, -1);          // a free port per call: lines do not share one
  linphone_core_set_inc_timeout(lc, 24 * 3600);  // an offered call rings until its caller gives up
  linphone_core_set_ring(lc, nullptr);
  linphone_core_set_ringback(lc, nullptr);
  // G.711 only, both laws, with telephone events.
  bctbx_list_t* types = linphone_core_get_audio_payload_types(lc);
  for (bctbx_list_t* it = types; it; it = it->next) {
    auto* pt = static_cast<LinphonePayloadType*>(it->data);
    const std::string mime = Or(linphone_payload_type_get_mime_type(pt));
    linphone_payload_type_enable(pt, mime == "PCMU" || mime == "PCMA" || mime == "telephone-event");
  }
  bctbx_list_free_with_data(types, reinterpret_cast<bctbx_list_free_func>(linphone_payload_type_unref));
  LinphoneTransports* transports = linphone_factory_create_transports(factory);
  linphone_transports_set_udp_port(transports, config.listenPort);
  linphone_transports_set_tcp_port(transports, config.listenPort);
  linphone_transports_set_tls_port(transports, 0);
  linphone_transports_set_dtls_port(transports, 0);
  linphone_core_set_transports(lc, transports);
  linphone_transports_unref(transports);
  if (linphone_core_start(lc) != 0) {
    linphone_core_unref(lc);
    *problem = "the SIP stack cannot start";
    return nullptr;
  }
  LinphoneTransports* used = linphone_core_get_transports_used(lc);
  const bool listening = linphone_transports_get_udp_port(used) == config.listenPort;
  linphone_transports_unref(used);
  if (!listening) {
    linphone_core_stop(lc);
    linphone_core_unref(lc);
    *problem = "cannot listen on port " + std::to_string(config.listenPort);
    return nullptr;
  }
  // The line's audio stays in memory.
  const std::string card = AddLineSoundCard(linphone_core_get_ms_factory(lc), index);
  linphone_core_set_capture_device(lc, card.c_str());
  linphone_core_set_playback_device(lc, card.c_str());
  linphone_core_set_ringer_device(lc, card.c_str());
  if (!config.registrar.empty()) {
    LinphoneAccountParams* params = linphone_core_create_account_params(lc);
    LinphoneAddress* identity = linphone_factory_create_address(factory, config.address.c_str());
    std::string registrar = config.registrar;
    if (registrar.rfind("sip:", 0) != 0 && registrar.rfind("sips:", 0) != 0) registrar = "sip:" + registrar;
    LinphoneAddress* server = linphone_factory_create_address(factory, registrar.c_str());
    if (!identity || !server) {
      if (identity) linphone_address_unref(identity);
      if (server) linphone_address_unref(server);
      linphone_account_params_unref(params);
      *problem = "Address or Registrar is not a SIP address";
      return lc;  // it still takes direct calls, but the line is not opened
    }
    linphone_account_params_set_identity_address(params, identity);
    linphone_account_params_set_server_address(params, server);
    linphone_account_params_set_register_enabled(params, TRUE);
    linphone_address_unref(identity);
    linphone_address_unref(server);
    if (!config.user.empty() || !config.password.empty()) {
      const std::string user = config.user.empty() ? Or(linphone_address_get_username(identity)) : config.user;
      LinphoneAuthInfo* auth = linphone_factory_create_auth_info(factory, user.c_str(), nullptr,
                                                                 config.password.c_str(), nullptr, nullptr, nullptr);
      linphone_core_add_auth_info(lc, auth);
      linphone_auth_info_unref(auth);
    }
    LinphoneAccount* account = linphone_core_create_account(lc, params);
    linphone_account_params_unref(params);
    linphone_core_add_account(lc, account);
    linphone_core_set_default_account(lc, account);
    linphone_account_unref(account);
  }
  return lc;
}

void RunWork() {
  std::deque<std::function<void()>> work;
  {
    std::lock_guard<std::mutex> lock(g_workMutex);
    work.swap(g_work);
  }
  for (auto& w : work) w();
}

// Rings while offered; callers the owner left hanging for too long end.
void Tick() {
  std::lock_guard<std::mutex> lock(g_mutex);
  const auto now = Clock::now();
  for (auto& [h, c] : g_calls) {
    if (c->ended) continue;
    const SipLine& l = g_lines[static_cast<size_t>(c->line)];
    if (c->state == LINECALLSTATE_OFFERING && !c->answerRequested && now >= c->nextRing) {
      ++c->rings;
      c->nextRing += std::chrono::milliseconds(g_ringMs);
      if (l.devStates & LINEDEVSTATE_RINGING)
        RaiseLine(c->line, l.open, LINE_LINEDEVSTATE, LINEDEVSTATE_RINGING, 0, static_cast<uintptr_t>(c->rings));
    }
    if (c->state == LINECALLSTATE_DISCONNECTED && c->hungUpAt != Clock::time_point{} &&
        now - c->hungUpAt > std::chrono::seconds(kOwnerDropsWithinS))
      SetState(*c, LINECALLSTATE_IDLE);
  }
}

void Worker(std::promise<bool>* started) {
  if (!std::getenv("CALLWATCH_SIP_DEBUG")) {
    linphone_logging_service_set_log_level(linphone_logging_service_get(), LinphoneLogLevelFatal);
  } else {
    LinphoneLoggingServiceCbs* cbs = linphone_factory_create_logging_service_cbs(linphone_factory_get());
    linphone_logging_service_cbs_set_log_message_written(cbs, OnLog);
    linphone_logging_service_add_callbacks(linphone_logging_service_get(), cbs);
    linphone_logging_service_cbs_unref(cbs);
    linphone_logging_service_set_log_level(linphone_logging_service_get(), LinphoneLogLevelMessage);
  }
  ms_snd_card_manager_bypass_soundcard_detection(TRUE);  // no sound device of the machine is used
  std::vector<LineConfig> configs;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    for (const SipLine& l : g_lines) configs.push_back(l.config);
  }
  for (size_t i = 0; i < configs.size(); ++i) {
    std::string problem;
    LinphoneCore* lc = MakeCore(static_cast<int>(i), configs[i], &problem);
    g_cores.push_back(lc);
    if (!problem.empty()) {
      std::fprintf(stderr, "callwatch: line \"%s\": %s\n", configs[i].name.c_str(), problem.c_str());
      std::lock_guard<std::mutex> lock(g_mutex);
      g_lines[i].stackFailed = true;
      g_registrationChanged.notify_all();
    }
  }
  started->set_value(true);
  while (g_running) {
    for (LinphoneCore* lc : g_cores)
      if (lc) linphone_core_iterate(lc);
    RunWork();
    Tick();
    std::unique_lock<std::mutex> lock(g_workMutex);
    g_wake.wait_for(lock, std::chrono::milliseconds(kLoopMs), [] { return !g_work.empty() || !g_running; });
  }
  RunWork();
  // Calls still up end with a BYE, given a moment to go out.
  for (LinphoneCore* lc : g_cores)
    if (lc) linphone_core_terminate_all_calls(lc);
  for (int i = 0; i < 50; ++i) {
    bool busy = false;
    for (LinphoneCore* lc : g_cores)
      if (lc) {
        linphone_core_iterate(lc);
        busy = busy || linphone_core_get_calls_nb(lc) > 0;
      }
    if (!busy) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  // Calls the stack has not released yet still hold their cores.
  std::vector<LinphoneCall*> held;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    for (auto& [h, c] : g_calls)
      if (c->stackCall) {
        held.push_back(static_cast<LinphoneCall*>(c->stackCall));
        c->stackCall = nullptr;
      }
  }
  for (LinphoneCall* call : held) {
    linphone_call_set_user_data(call, nullptr);
    linphone_call_unref(call);
  }
  for (LinphoneCore* lc : g_cores)
    if (lc) {
      linphone_core_stop(lc);
      ForgetLineSoundCard(linphone_core_get_ms_factory(lc));
      linphone_core_unref(lc);
    }
  g_cores.clear();
}

}  // namespace

void AnswerOnStack(HCALL handle) {
  LinphoneCall* call = nullptr;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    auto c = CallFor(handle);
    if (!c || c->ended || !c->stackCall) return;
    call = static_cast<LinphoneCall*>(c->stackCall);
  }
  LinphoneCallParams* params = linphone_core_create_call_params(linphone_call_get_core(call), call);
  const LinphoneStatus status = linphone_call_accept_with_params(call, params);
  if (params) linphone_call_params_unref(params);
  if (status != 0) {
    std::lock_guard<std::mutex> lock(g_mutex);
    auto c = CallFor(handle);
    if (c && !c->ended) {
      SetState(*c, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL);
      c->hungUpAt = Clock::now();
    }
  }
}

void HangUpOnStack(HCALL handle) {
  LinphoneCall* call = nullptr;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    auto c = CallFor(handle);
    if (!c || !c->stackCall) return;
    call = static_cast<LinphoneCall*>(c->stackCall);
  }
  linphone_call_terminate(call);
}

bool StartStack() {
  if (g_running) return true;
  // The stack keeps files of its own (settings, call history): in a private folder, gone at the end.
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/callwatch-sip-XXXXXX";
  if (!::mkdtemp(pattern.data())) {
    std::fprintf(stderr, "callwatch: cannot make a folder for the SIP stack in %s\n", tmp && *tmp ? tmp : "/tmp");
    return false;
  }
  g_dataDir = pattern;
  g_running = true;
  std::promise<bool> started;
  std::future<bool> ready = started.get_future();
  g_worker.start(nullptr, [&started] { Worker(&started); });
  return ready.get();
}

void StopStack() {
  if (!g_running) return;
  {
    std::lock_guard<std::mutex> lock(g_workMutex);
    g_running = false;
  }
  g_wake.notify_all();
  g_worker.stop();
  std::error_code ec;
  std::filesystem::remove_all(g_dataDir, ec);
}

void Post(std::function<void()> work) {
  {
    std::lock_guard<std::mutex> lock(g_workMutex);
    g_work.push_back(std::move(work));
  }
  g_wake.notify_all();
}

void WaitForRegistration(int line, int ms) {
  std::unique_lock<std::mutex> lock(g_mutex);
  g_registrationChanged.wait_for(lock, std::chrono::milliseconds(ms), [line] {
    const SipLine& l = g_lines[static_cast<size_t>(line)];
    return l.stackFailed || l.registration != Registration::kPending;
  });
}

}  // namespace sipline
