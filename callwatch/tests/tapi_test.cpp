// The telephony wrappers: the growable fetch, the delayed binding, the sink lists and the routing
// of every message to the right listener.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/Tapi.h"
#include "core/TapiBinding.h"
#include "tests/ProviderFixture.h"

namespace {

// ---- growable fetch ---------------------------------------------------------------------------

// A getter for a structure that needs `needed` bytes, answering as providers do.
struct Getter {
  DWORD needed;
  bool tooSmallError;  // LINEERR_STRUCTURETOOSMALL, or success with needed > total
  std::vector<DWORD> totals;
  LONG operator()(VARHEADER* h) {
    totals.push_back(h->dwTotalSize);
    h->dwNeededSize = needed;
    if (h->dwTotalSize < needed) {
      h->dwUsedSize = sizeof(VARHEADER);
      return tooSmallError ? LINEERR_STRUCTURETOOSMALL : 0;
    }
    h->dwUsedSize = needed;
    std::memcpy(reinterpret_cast<char*>(h) + needed - 6, "tail!", 6);
    return 0;
  }
};

TEST(TapiBufferTest, GrowsToTheNeededSizeThenTrimsToTheUsedSize) {
  for (bool tooSmallError : {true, false}) {
    Getter getter{2000, tooSmallError, {}};
    CTapiBuffer buffer;
    ASSERT_EQ(buffer.Fetch(CTapiBuffer::Kind::CallInfo, std::ref(getter)), 0);
    EXPECT_EQ(getter.totals, (std::vector<DWORD>{512, 2000}));
    EXPECT_EQ(buffer.Size(), 2000u);
    EXPECT_EQ(buffer.TextAt(1994, 6), "tail!");
    EXPECT_EQ(buffer.GetKind(), CTapiBuffer::Kind::CallInfo);
  }
  Getter small{100, true, {}};  // fits at once: one call, trimmed to 100 bytes
  CTapiBuffer buffer;
  ASSERT_EQ(buffer.Fetch(CTapiBuffer::Kind::LineID, std::ref(small)), 0);
  EXPECT_EQ(small.totals, (std::vector<DWORD>{512}));
  EXPECT_EQ(buffer.Size(), 100u);
}

TEST(TapiBufferTest, FailuresLeaveNothingAndBadGettersCannotLoopOrOverrun) {
  CTapiBuffer buffer;
  EXPECT_EQ(buffer.Fetch(CTapiBuffer::Kind::CallInfo, [](VARHEADER*) { return LINEERR_INVALCALLHANDLE; }),
            LINEERR_INVALCALLHANDLE);
  EXPECT_TRUE(buffer.Empty());
  // "Too small" without asking for more: the buffer doubles, up to a bound, then gives up.
  int calls = 0;
  EXPECT_EQ(buffer.Fetch(CTapiBuffer::Kind::CallInfo,
                         [&](VARHEADER* h) {
                           ++calls;
                           h->dwNeededSize = 0;
                           return LINEERR_STRUCTURETOOSMALL;
                         }),
            LINEERR_NOMEM);
  EXPECT_LE(calls, 12);
  EXPECT_TRUE(buffer.Empty());
  // Offsets and sizes that point outside the structure read as nothing.
  ASSERT_EQ(buffer.Fetch(CTapiBuffer::Kind::LineID,
                         [](VARHEADER* h) {
                           h->dwNeededSize = h->dwUsedSize = 40;
                           return 0;
                         }),
            0);
  DWORD word = 0;
  EXPECT_EQ(buffer.TextAt(36, 8), "");
  EXPECT_EQ(buffer.TextAt(0xFFFFFFF0u, 0x20), "");
  EXPECT_FALSE(buffer.WordAt(38, &word));
  EXPECT_TRUE(buffer.WordAt(36, &word));
  EXPECT_EQ(buffer.As<LINECALLINFO>(), nullptr);  // 40 bytes cannot hold the fixed part
}

// ---- delayed binding --------------------------------------------------------------------------

TEST(DelayedBindingTest, LoadsOnceAndRemembersFailedLoadsAndLookups) {
  CDelayedLibrary missing("/nonexistent/libcallwatch_telephony.so");
  EXPECT_EQ(missing.Find("lineOpenA"), nullptr);
  EXPECT_EQ(missing.Find("lineOpenA"), nullptr);
  EXPECT_EQ(missing.Find("lineClose"), nullptr);
  EXPECT_EQ(missing.LoadAttempts(), 1);
  EXPECT_EQ(missing.LookupsOf("lineOpenA"), 1);

  CDelayedLibrary provider(CALLWATCH_PROVIDER);
  EXPECT_NE(provider.Find("lineInitializeExA"), nullptr);
  EXPECT_EQ(provider.Find("lineNoSuchFunction"), nullptr);
  EXPECT_EQ(provider.Find("lineNoSuchFunction"), nullptr);
  EXPECT_NE(provider.Find("waveInOpen"), nullptr);
  EXPECT_EQ(provider.LoadAttempts(), 1);
  EXPECT_EQ(provider.LookupsOf("lineNoSuchFunction"), 1);
}

TEST(DelayedBindingTest, LibraryPathComesFromTheEnvironmentElseBesideTheProgram) {
  const char* old = std::getenv("CALLWATCH_TELEPHONY");
  const std::string saved = old ? old : "";
  setenv("CALLWATCH_TELEPHONY", "/somewhere/provider.so", 1);
  EXPECT_EQ(TelephonyLibraryPath(), "/somewhere/provider.so");
  unsetenv("CALLWATCH_TELEPHONY");
  const std::string beside = TelephonyLibraryPath();
  EXPECT_NE(beside.find(kTelephonyLibraryName), std::string::npos);
  EXPECT_EQ(beside[0], '/');
  if (old) setenv("CALLWATCH_TELEPHONY", saved.c_str(), 1);
}

// ---- sink lists and routing -------------------------------------------------------------------

TEST(SinkListTest, ReusesEmptySlotsAndIgnoresDuplicates) {
  ITapiLineSink a, b, c;
  CSinkList<ITapiLineSink> list;
  list.Add(&a);
  list.Add(&b);
  list.Add(&a);
  EXPECT_EQ(list.Slots(), 2u);
  list.Remove(&a);
  EXPECT_EQ(list.At(0), nullptr);
  list.Add(&c);
  EXPECT_EQ(list.At(0), &c);
  EXPECT_EQ(list.At(1), &b);
  list.Add(nullptr);
  EXPECT_EQ(list.Slots(), 2u);
}

// Every event a listener hears, as text.
struct Recorder : ITapiLineSink, ITapiCallSink, ITapiAppSink {
  std::vector<std::string> heard;
  void add(const std::string& s) { heard.push_back(s); }
  void OnAddressState(CTapiLine*, DWORD a, DWORD s) override { add("address " + n(a) + " " + n(s)); }
  void OnNewCall(CTapiLine*, HCALL c, DWORD a, DWORD p) override {
    add("newcall " + n(c) + " " + n(a) + " " + n(p));
    if (claim) calls.push_back(std::make_unique<CTapiCall>(c, line, this));
  }
  void OnLineClose(CTapiLine*) override { add("close"); }
  void OnLineDevSpecific(CTapiLine*, uintptr_t a, uintptr_t, uintptr_t) override { add("devspecific " + n(a)); }
  void OnLineDevState(CTapiLine*, DWORD s, uintptr_t, uintptr_t r) override { add("devstate " + n(s) + " " + n(r)); }
  void OnLineReply(CTapiLine*, LONG id, LONG r, int k) override { add("linereply " + n(id) + " " + n(r) + " " + n(k)); }
  void OnAgentSpecific(CTapiLine*, uintptr_t, uintptr_t, uintptr_t) override { add("agentspecific"); }
  void OnAgentStatus(CTapiLine*, uintptr_t, uintptr_t, uintptr_t) override { add("agentstatus"); }
  void OnProxyRequest(CTapiLine*, uintptr_t) override { add("proxy"); }
  void OnLineRemove(CTapiLine*, uintptr_t) override { add("remove"); }
  void OnCallInfo(CTapiCall* c, DWORD s) override { add("callinfo " + n(c->Handle()) + " " + n(s)); }
  void OnCallState(CTapiCall* c, DWORD s, DWORD d, DWORD) override {
    add("callstate " + n(c->Handle()) + " " + n(s) + " " + n(d));
  }
  void OnGatherDigits(CTapiCall*, uintptr_t p) override { add("gather " + n(p)); }
  void OnMonitorDigit(CTapiCall*, char d, DWORD m) override { add(std::string("digit ") + d + " " + n(m)); }
  void OnMonitorMedia(CTapiCall*, DWORD m) override { add("media " + n(m)); }
  void OnMonitorTone(CTapiCall*, uintptr_t t) override { add("tone " + n(t)); }
  void OnCallReply(CTapiCall* c, LONG id, LONG r, int k) override {
    add("callreply " + n(c->Handle()) + " " + n(id) + " " + n(r) + " " + n(k));
  }
  void OnLineCreate(DWORD d) override { add("linecreate " + n(d)); }
  void OnRequest(uintptr_t a, uintptr_t b, uint16_t c) override { add("request " + n(a) + " " + n(b) + " " + n(c)); }
  template <typename T>
  static std::string n(T v) {
    return std::to_string(static_cast<unsigned long long>(v));
  }
  bool claim = false;
  CTapiLine* line = nullptr;
  std::vector<std::unique_ptr<CTapiCall>> calls;
};

TEST(EventRoutingTest, EveryLineMessageReachesItsListener) {
  UseBuiltProvider();
  Recorder r;
  CTapiLine line;
  line.AddSink(&r);
  CTapiCall call(77, &line, &r);
  const uintptr_t self = reinterpret_cast<uintptr_t>(&line);
  auto send = [&](DWORD device, DWORD message, uintptr_t p1, uintptr_t p2, uintptr_t p3) {
    CTapiContext::LineCallback(device, message, self, p1, p2, p3);
  };
  send(1, LINE_ADDRESSSTATE, 0, 4, 0);
  send(77, LINE_CALLINFO, LINECALLINFOSTATE_CALLERID, 0, 0);
  send(77, LINE_CALLSTATE, LINECALLSTATE_CONNECTED, 0, 0);
  send(1, LINE_CLOSE, 0, 0, 0);
  send(1, LINE_DEVSPECIFIC, 5, 0, 0);
  send(1, LINE_DEVSPECIFICFEATURE, 6, 0, 0);
  send(77, LINE_GATHERDIGITS, 1, 0, 0);
  send(77, LINE_GENERATE, 2, 0, 0);
  send(1, LINE_LINEDEVSTATE, LINEDEVSTATE_RINGING, 0, 3);
  send(77, LINE_MONITORDIGITS, '#', LINEDIGITMODE_DTMF, 0);
  send(77, LINE_MONITORMEDIA, LINEMEDIAMODE_AUTOMATEDVOICE, 0, 0);
  send(77, LINE_MONITORTONE, 9, 0, 0);
  send(0, LINE_REPLY, 12, 0, 0);  // nobody's request: the line hears it, kind 0
  send(1, LINE_AGENTSPECIFIC, 0, 0, 0);
  send(1, LINE_AGENTSTATUS, 0, 0, 0);
  send(1, LINE_PROXYREQUEST, 0, 0, 0);
  send(1, LINE_REMOVE, 0, 0, 0);
  send(78, LINE_CALLINFO, 1, 0, 0);         // unknown call: dropped
  send(78, LINE_MONITORDIGITS, '1', 2, 0);  // likewise
  send(1, 99, 0, 0, 0);                     // unknown message: dropped
  EXPECT_EQ(r.heard, (std::vector<std::string>{"address 0 4", "callinfo 77 32768", "callstate 77 256 0", "close",
                                               "devspecific 5", "devspecific 6", "gather 1", "gather 2", "devstate 4 3",
                                               "digit # 2", "media 8", "tone 9", "linereply 12 0 0", "agentspecific",
                                               "agentstatus", "proxy", "remove"}));
}

TEST(EventRoutingTest, ApplicationMessagesGoToTheApplicationSinkOrNowhere) {
  UseBuiltProvider();
  Recorder r;
  CTapiLine line;
  line.AddSink(&r);
  // No application sink registered: dropped, and the line hears nothing either.
  CTapiContext::LineCallback(0, LINE_CREATE, reinterpret_cast<uintptr_t>(&line), 3, 0, 0);
  CTapiContext::LineCallback(0, LINE_REQUEST, reinterpret_cast<uintptr_t>(&line), 1, 2, 0x50003);
  EXPECT_TRUE(r.heard.empty());
  // An instance that is no line of ours (or a line already gone) is ignored.
  CTapiContext::LineCallback(0, LINE_CLOSE, 0x1234, 0, 0, 0);
  EXPECT_TRUE(r.heard.empty());
}

TEST(EventRoutingTest, AppNewCallLeavesUnclaimedHandlesAndCallStateMakesTheirRecordLater) {
  UseBuiltProvider();
  Recorder r;
  CTapiLine line;
  r.line = &line;
  line.AddSink(&r);
  const uintptr_t self = reinterpret_cast<uintptr_t>(&line);
  CTapiContext::LineCallback(1, LINE_APPNEWCALL, self, 0, 501, LINECALLPRIVILEGE_OWNER);
  EXPECT_EQ(line.Unclaimed(), (std::vector<HCALL>{501}));
  // A state for an unclaimed handle raises no new call; idle lets it go.
  CTapiContext::LineCallback(501, LINE_CALLSTATE, self, LINECALLSTATE_OFFERING, 0, 0);
  CTapiContext::LineCallback(501, LINE_CALLSTATE, self, LINECALLSTATE_IDLE, 0, 0);
  EXPECT_TRUE(line.Unclaimed().empty());
  // A state for a handle never announced goes through the new-call path first; a listener that
  // claims it then hears the state.
  r.claim = true;
  CTapiContext::LineCallback(502, LINE_CALLSTATE, self, LINECALLSTATE_OFFERING, 0, LINECALLPRIVILEGE_OWNER);
  ASSERT_EQ(r.calls.size(), 1u);
  EXPECT_EQ(r.heard, (std::vector<std::string>{"newcall 501 0 4", "newcall 502 0 4", "callstate 502 2 0"}));
  // Not claimed: the handle waits among the unclaimed ones.
  r.claim = false;
  CTapiContext::LineCallback(503, LINE_CALLSTATE, self, LINECALLSTATE_OFFERING, 0, 0);
  EXPECT_EQ(line.Unclaimed(), (std::vector<HCALL>{503}));
}

TEST(EventRoutingTest, RepliesOfPendingRequestsGoToTheirCallWithTheirKind) {
  UseBuiltProvider();
  Recorder r;
  CTapiLine line;
  line.AddSink(&r);
  auto call = std::make_unique<CTapiCall>(88, &line, &r);
  // Pending entries as Answer and Drop leave them when the provider accepts.
  const_cast<std::vector<CPendingRequest>&>(line.Pending()).push_back({5, call.get(), 2});
  const_cast<std::vector<CPendingRequest>&>(line.Pending()).push_back({6, call.get(), 4});
  const uintptr_t self = reinterpret_cast<uintptr_t>(&line);
  CTapiContext::LineCallback(0, LINE_REPLY, self, 6, 0, 0);
  CTapiContext::LineCallback(0, LINE_REPLY, self, 6, 0, 0);  // taken already: the line's
  EXPECT_EQ(r.heard, (std::vector<std::string>{"callreply 88 6 0 4", "linereply 6 0 0"}));
  call.reset();  // a call that goes takes its pending requests along
  EXPECT_TRUE(line.Pending().empty());
}

TEST(EventRoutingTest, AListenerMayEndTheCallWhileItIsBeingCalled) {
  UseBuiltProvider();
  struct Ender : ITapiCallSink {
    std::unique_ptr<CTapiCall>* owner;
    void OnCallState(CTapiCall*, DWORD, DWORD, DWORD) override { owner->reset(); }
  };
  Recorder after;
  CTapiLine line;
  std::unique_ptr<CTapiCall> call = std::make_unique<CTapiCall>(90, &line);
  Ender ender;
  ender.owner = &call;
  call->AddSink(&ender);
  call->AddSink(&after);
  CTapiContext::LineCallback(90, LINE_CALLSTATE, reinterpret_cast<uintptr_t>(&line), LINECALLSTATE_IDLE, 0, 0);
  EXPECT_EQ(call, nullptr);
  EXPECT_TRUE(after.heard.empty());
  EXPECT_EQ(CTapiCall::Find(90), nullptr);
}

TEST(EventRoutingTest, PhoneMessagesReachThePhonesSinks) {
  UseBuiltProvider();
  struct PhoneRecorder : ITapiPhoneSink {
    std::vector<std::string> heard;
    void OnPhoneButton(CTapiPhone*, uintptr_t a, uintptr_t, uintptr_t) override {
      heard.push_back("button " + std::to_string(a));
    }
    void OnPhoneClose(CTapiPhone*) override { heard.push_back("close"); }
    void OnPhoneDevSpecific(CTapiPhone*, uintptr_t, uintptr_t, uintptr_t) override { heard.push_back("devspecific"); }
    void OnPhoneReply(CTapiPhone*, LONG id, LONG r) override {
      heard.push_back("reply " + std::to_string(id) + " " + std::to_string(r));
    }
    void OnPhoneState(CTapiPhone*, uintptr_t s, uintptr_t) override { heard.push_back("state " + std::to_string(s)); }
    void OnPhoneRemove(CTapiPhone*, uintptr_t) override { heard.push_back("remove"); }
  } r;
  CTapiPhone phone;
  phone.AddSink(&r);
  const uintptr_t self = reinterpret_cast<uintptr_t>(&phone);
  for (DWORD message : {DWORD{PHONE_BUTTON}, DWORD{PHONE_CLOSE}, DWORD{PHONE_DEVSPECIFIC}, DWORD{PHONE_REPLY},
                        DWORD{PHONE_STATE}, DWORD{PHONE_REMOVE}, DWORD{LINE_CLOSE}})
    CTapiContext::PhoneCallback(1, message, self, 7, 0, 0);
  CTapiContext::PhoneCallback(1, PHONE_CREATE, self, 7, 0, 0);  // no application sink: dropped
  EXPECT_EQ(r.heard, (std::vector<std::string>{"button 7", "close", "devspecific", "reply 7 0", "state 7", "remove"}));
}

}  // namespace
