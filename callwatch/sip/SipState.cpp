#include "sip/SipState.h"

#include <QSettings>
#include <QString>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace sipline {

std::vector<SipLine> g_lines;
std::map<HCALL, std::shared_ptr<SipCall>> g_calls;
int g_ringMs = 6000;

bool ParseHostPort(const std::string& text, std::string* host, int* port) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos) return false;
  std::string h = text.substr(0, colon);
  if (h.size() >= 2 && h.front() == '[' && h.back() == ']') h = h.substr(1, h.size() - 2);
  const std::string p = text.substr(colon + 1);
  if (p.empty() || p.size() > 5 || p.find_first_not_of("0123456789") != std::string::npos) return false;
  const int n = std::atoi(p.c_str());
  if (n < 1 || n > 65535) return false;
  *host = h.empty() ? "0.0.0.0" : h;
  *port = n;
  return true;
}

namespace {

std::string Text(QSettings& s, const char* key) { return s.value(key).toString().toStdString(); }

}  // namespace

std::vector<LineConfig> ReadLineConfigs() {
  std::vector<LineConfig> lines;
  // The settings file the program and its window keep (Callwatch.conf of "Larkspur Soft").
  QSettings s("Larkspur Soft", "Callwatch");
  const int size = s.beginReadArray("SipLines");
  for (int i = 0; i < size && i < 64; ++i) {
    s.setArrayIndex(i);
    LineConfig c;
    c.name = Text(s, "Name");
    c.address = Text(s, "Address");
    c.registrar = Text(s, "Registrar");
    c.user = Text(s, "User");
    c.password = Text(s, "Password");
    if (c.name.empty()) c.name = c.address.empty() ? "line " + std::to_string(i + 1) : c.address;
    const std::string listen = Text(s, "Listen");
    if (!listen.empty() && !ParseHostPort(listen, &c.listenHost, &c.listenPort)) {
      std::fprintf(stderr, "callwatch: line \"%s\": Listen must be HOST:PORT, not \"%s\"; line skipped\n",
                   c.name.c_str(), listen.c_str());
      continue;
    }
    if (c.address.rfind("sip:", 0) != 0 && c.address.rfind("sips:", 0) != 0) {
      std::fprintf(stderr, "callwatch: line \"%s\": Address must be sip:user@host, not \"%s\"; line skipped\n",
                   c.name.c_str(), c.address.c_str());
      continue;
    }
    lines.push_back(c);
  }
  s.endArray();
  if (const char* env = std::getenv("CALLWATCH_SIP_LISTEN")) {
    LineConfig c;
    if (ParseHostPort(env, &c.listenHost, &c.listenPort)) {
      c.name = std::string("direct ") + env;
      c.address = "sip:callwatch@" + c.listenHost + ":" + std::to_string(c.listenPort);
      lines.push_back(c);
    } else {
      std::fprintf(stderr, "callwatch: CALLWATCH_SIP_LISTEN must be HOST:PORT, not \"%s\"\n", env);
    }
  }
  return lines;
}

SipLine* LineByHandle(HLINE h) {
  const int index = IndexOfOpen(h);
  return index < 0 ? nullptr : &g_lines[static_cast<size_t>(index)];
}

std::shared_ptr<SipCall> CallFor(HCALL h) {
  auto it = g_calls.find(h);
  return it == g_calls.end() ? nullptr : it->second;
}

void SetState(SipCall& call, DWORD state, DWORD detail) {
  if (call.state == state) return;
  call.state = state;
  if (state == LINECALLSTATE_IDLE) {
    call.ended = true;
    SipLine& l = g_lines[static_cast<size_t>(call.line)];
    if (l.call == call.handle) l.call = 0;
  }
  RaiseLine(call.line, call.handle, LINE_CALLSTATE, state, detail, 0);
}

bool OwnerWatches(const SipCall& call) {
  const SipLine& l = g_lines[static_cast<size_t>(call.line)];
  return l.open && (l.privileges & LINECALLPRIVILEGE_OWNER) && call.appHolds;
}

}  // namespace sipline

// What the shared line entry points see of the SIP lines.
namespace provider {

using namespace sipline;

int LineCount() { return static_cast<int>(g_lines.size()); }
Line& LineAt(int index) { return g_lines[static_cast<size_t>(index)]; }

Call* FindCall(HCALL h) { return FindIn(g_calls, h); }
void ForEachCall(const std::function<void(Call&)>& visit) { ForEachIn(g_calls, visit); }
// A call the stack still has is forgotten once the stack lets it go too.
void ForgetIfDone(HCALL h) {
  ForgetIfDoneIn<SipCall>(g_calls, h, [](const SipCall& c) { return c.stackCall != nullptr; });
}

void AppLetGo() {}
// A SIP line has wave devices but no phone with a speaker.
bool LinesHavePhones() { return false; }

DWORD MediaModesOf(int) { return kAllMediaModes; }
std::string NameOf(int line) { return g_lines[static_cast<size_t>(line)].config.name; }

// A second answer while one is on its way to the stack is refused.
bool StartAnswer(Call& call) {
  auto& sip = static_cast<SipCall&>(call);
  if (sip.answerRequested) return false;
  sip.answerRequested = true;
  return true;
}

void Answer(Call& call) {
  const HCALL handle = call.handle;
  Post([handle] { AnswerOnStack(handle); });
}

// The program sees the call end at once; the BYE (or the refusal of a call still offered) goes
// out on the worker.
void Drop(Call& call) {
  auto& sip = static_cast<SipCall&>(call);
  SetState(sip, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL);
  SetState(sip, LINECALLSTATE_IDLE);
  const HCALL handle = call.handle;
  Post([handle] { HangUpOnStack(handle); });
}

}  // namespace provider
