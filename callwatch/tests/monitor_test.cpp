// The monitoring flow from ringing line to saved message, against the telephony provider.
#include <dirent.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <dlfcn.h>

#include <algorithm>
#include <cstring>

#include "core/TapiBinding.h"
#include "tests/CallwatchFixture.h"

namespace {

std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* d = opendir(folder.c_str())) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') names.push_back(e->d_name);
    closedir(d);
  }
  return names;
}

time_t MondayFourthOfJanuaryAt1425() {
  struct tm t {};
  t.tm_year = 2021 - 1900;  // 4 January 2021 was a Monday
  t.tm_mon = 0;
  t.tm_mday = 4;
  t.tm_hour = 14;
  t.tm_min = 25;
  t.tm_isdst = -1;
  return mktime(&t);
}

TEST_F(CallwatchTest, MessageCallFromRingToSavedMessage) {
  start(2);
  setup.now = MondayFourthOfJanuaryAt1425;
  std::vector<int16_t> speech(2400);  // 0.3 s the caller says
  for (size_t i = 0; i < speech.size(); ++i) speech[i] = static_cast<int16_t>(i * 7 - 8000);
  CCallRequest r = call(0);
  r.name = "VUD VEROD";
  r.number = "14255550123";
  r.audio = writeSound("caller.wav", speech);
  r.digits = "12*3";
  r.rings = 6;
  r.ringMs = 400;
  SimCaller caller(r);
  ASSERT_TRUE(pumpUntilOver(caller, 20000)) << caller.Lines().size();

  // Accepted on the second ring; the digit after the end sequence is never heard.
  EXPECT_EQ(caller.Lines(), (std::vector<std::string>{"offered", "rung 1", "rung 2", "answered", "digit sent 1",
                                                      "digit sent 2", "digit sent *", "dropped", "idle"}));
  ASSERT_EQ(monitor->Records().size(), 1u);
  CCallRecord* rec = record(0);
  EXPECT_EQ(rec->name, "VUD VEROD");
  EXPECT_EQ(rec->number, "+1 (425) 5550123");
  EXPECT_TRUE(rec->incoming);
  EXPECT_EQ(rec->rings, 2u);
  EXPECT_EQ(rec->ringsToAnswer, 2u);
  EXPECT_STREQ(rec->StateName(), "Over");
  EXPECT_NE(rec->endTime, 0);
  EXPECT_EQ(rec->call, nullptr);
  EXPECT_EQ(rec->screen, nullptr);
  EXPECT_EQ(digits.forwarded, "12");
  EXPECT_EQ(digits.ends, 1);
  EXPECT_EQ(monitor->ActiveCalls(), 0);
  EXPECT_EQ(view.timerChanges, (std::vector<bool>{true, false}));
  ASSERT_EQ(view.screens.size(), 1u);
  EXPECT_EQ(view.screens[0]->texts[IDC_DTMF_TEXT], "12");
  EXPECT_FALSE(view.screens[0]->shown[IDC_TAKE_CALL]);
  EXPECT_TRUE(view.screens[0]->boxes.empty());

  // The message: what the caller said, from the start, up to the first digit.
  const std::string name = "VUD VEROD , +1 (425) 5550123 Mon, Jan 04, 1425 hours.wav";
  EXPECT_EQ(FilesIn(folder.file("Messages")), (std::vector<std::string>{name}));
  const std::string wav = TempFolder::read(folder.file("Messages/" + name));
  ASSERT_GE(wav.size(), 46 + 2 * speech.size());
  EXPECT_EQ(wav.compare(0, 4, "RIFF"), 0);
  std::vector<int16_t> heard((wav.size() - 46) / 2);
  std::memcpy(heard.data(), wav.data() + 46, 2 * heard.size());
  EXPECT_TRUE(std::equal(speech.begin(), speech.end(), heard.begin()));
  EXPECT_LT(heard.size(), 8000u * 3);  // ended by the digit, not by the two-minute limit
}

TEST_F(CallwatchTest, CallerIdRulesForBlockedUnknownNamelessAndOutboundCalls) {
  start(0);  // never answered automatically
  struct Case {
    CCallRequest request;
    std::string name, number;
    bool incoming;
    uint32_t rings;
  };
  std::vector<Case> cases;
  CCallRequest blocked = call(0);
  blocked.blocked = true;
  blocked.name = "Hidden";
  blocked.number = "5550100";
  blocked.rings = 2;
  cases.push_back({blocked, "<blocked>", "<blocked>", true, 2});
  CCallRequest unknown = call(1);
  unknown.rings = 1;
  cases.push_back({unknown, "<unknown>", "<unknown>", true, 1});
  CCallRequest nameless = call(0);
  nameless.number = "5550123";
  nameless.rings = 1;
  cases.push_back({nameless, "", "+1 (425) 5550123", true, 1});
  CCallRequest outbound = call(1);
  outbound.outbound = true;
  outbound.number = "555-0199";
  outbound.rings = 3;
  cases.push_back({outbound, "<unknown>", "555-0199", false, 4});  // one more per ringback
  for (size_t i = 0; i < cases.size(); ++i) {
    SimCaller caller(cases[i].request);
    ASSERT_TRUE(pumpUntilOver(caller)) << i;
    ASSERT_EQ(monitor->Records().size(), i + 1);
    CCallRecord* rec = record(i);
    EXPECT_EQ(rec->name, cases[i].name) << i;
    EXPECT_EQ(rec->number, cases[i].number) << i;
    EXPECT_EQ(rec->incoming, cases[i].incoming) << i;
    EXPECT_EQ(rec->rings, cases[i].rings) << i;
    EXPECT_STREQ(rec->StateName(), "Over") << i;
  }
  // Only incoming calls get a screen; nothing was recorded.
  EXPECT_EQ(view.screens.size(), 3u);
  EXPECT_TRUE(FilesIn(folder.file("Messages")).empty());
  EXPECT_EQ(view.timerChanges.back(), false);
}

TEST_F(CallwatchTest, ALineThatRefusesOwnersIsOpenedForMonitoringOnly) {
  setenv("PHONESIM_VOICE_ONLY_LINES", "1", 1);
  start(1);
  ASSERT_EQ(monitor->Lines().size(), 2u);
  EXPECT_TRUE(monitor->Lines()[0]->IsOpen());
  EXPECT_TRUE(monitor->Lines()[1]->IsOpen());
  // Monitoring only: the call is logged, but answering it is refused and said so.
  CCallRequest r = call(1);
  r.name = "Ann";
  r.number = "5550123";
  r.rings = 2;
  SimCaller caller(r);
  ASSERT_TRUE(pumpUntilOver(caller));
  EXPECT_FALSE(caller.Has("answered"));
  ASSERT_EQ(view.screens.size(), 1u);
  EXPECT_EQ(view.screens[0]->boxes, (std::vector<std::string>{"Can't answer the call"}));
  EXPECT_EQ(record(0)->name, "Ann");
  EXPECT_STREQ(record(0)->StateName(), "Over");
}

TEST_F(CallwatchTest, CallsAlreadyOnALineAtStartUpGetOneRecordEach) {
  ASSERT_GE(CTapiContext::LineInitialize(nullptr, "Callwatch", nullptr), 0);
  CCallRequest r = call(0);
  r.rings = 100;
  r.ringMs = 100;
  r.name = "First";
  auto first = std::make_unique<SimCaller>(r);
  r.name = "Second";
  auto second = std::make_unique<SimCaller>(r);
  ASSERT_TRUE(pumpUntil([&] { return first->Has("offered") && second->Has("offered"); }));
  monitor = std::make_unique<CCallMonitor>(&view, setup);
  monitor->OpenAllLines();
  ASSERT_EQ(monitor->Records().size(), 2u);
  std::vector<std::string> names{record(0)->name, record(1)->name};
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"First", "Second"}));
  EXPECT_EQ(monitor->ActiveCalls(), 2);
  // The callers hang up: both records end.
  first.reset();
  second.reset();
  ASSERT_TRUE(pumpUntil([&] { return monitor->ActiveCalls() == 0; }));
  EXPECT_STREQ(record(0)->StateName(), "Over");
  EXPECT_STREQ(record(1)->StateName(), "Over");
}

TEST_F(CallwatchTest, NoLineDeviceAtAllFailsInitialization) {
  setenv("PHONESIM_LINES", "0", 1);
  EXPECT_EQ(CTapiContext::LineInitialize(nullptr, "Callwatch", nullptr), LINEERR_OPERATIONFAILED);
  EXPECT_EQ(CTapiContext::LineApp(), 0u);
  EXPECT_EQ(CTapiContext::LineCount(), 0u);
  // ... and the half can be initialized again once a line exists.
  setenv("PHONESIM_LINES", "1", 1);
  EXPECT_GE(CTapiContext::LineInitialize(nullptr, "Callwatch", nullptr), 0);
  EXPECT_EQ(CTapiContext::LineCount(), 1u);
  EXPECT_EQ(CTapiContext::LineVersion(0), kTapiVersionHigh);
  EXPECT_EQ(CTapiContext::LineInitialize(nullptr, "Callwatch", nullptr), LINEERR_OPERATIONFAILED);
}

TEST_F(CallwatchTest, TakeTheCallSwitchesToTheSpeakerWhereThePhoneHasOne) {
  start(0);
  using HookMode = DWORD (*)(DWORD);
  auto hookMode = reinterpret_cast<HookMode>(TelephonyLibrary().Find("phonesimHookSwitchMode"));
  ASSERT_NE(hookMode, nullptr);
  for (int line : {0, 1}) {
    CCallRequest r = call(line);
    r.rings = 100;
    r.hangupMs = 300;
    SimCaller caller(r);
    ASSERT_TRUE(pumpUntil([&] { return monitor->Records().size() == size_t(line + 1); }));
    CCallRecord* rec = record(line);
    ASSERT_NE(rec->screen, nullptr);
    rec->screen->TakeTheCall();
    ASSERT_TRUE(pumpUntil([&] { return rec->state == LINECALLSTATE_CONNECTED; }));
    pumpFor(100);
    ASSERT_NE(rec->screen, nullptr);
    EXPECT_EQ(rec->screen->GetMode(), CCallScreen::kSpeaker);
    EXPECT_TRUE(view.screens[line]->shown[IDC_HANG_UP]);
    // Line 0's phone has a speaker; line 1's phone has none and the call is answered anyway.
    EXPECT_EQ(rec->screen->Phone().IsOpen(), line == 0) << line;
    const DWORD expected = line == 0 ? DWORD{PHONEHOOKSWITCHMODE_MICSPEAKER} : DWORD{PHONEHOOKSWITCHMODE_ONHOOK};
    EXPECT_EQ(hookMode(line), expected);
    rec->screen->HangUp();
    EXPECT_FALSE(view.screens[line]->visible);
    ASSERT_TRUE(pumpUntilOver(caller));
    EXPECT_TRUE(caller.Has("dropped"));
    EXPECT_EQ(digits.ends, line + 1);
    EXPECT_EQ(hookMode(line), DWORD{PHONEHOOKSWITCHMODE_ONHOOK});  // phone closed with the screen
  }
  EXPECT_TRUE(digits.forwarded.empty());
}

TEST_F(CallwatchTest, ACallAnsweredElsewhereHidesItsScreenWithoutAChoice) {
  start(0);
  CCallRequest r = call(0);
  r.rings = 2;
  r.answerElsewhere = true;
  r.digits = "5";
  SimCaller caller(r);
  ASSERT_TRUE(pumpUntil([&] { return record(0) && record(0)->state == LINECALLSTATE_CONNECTED; }));
  ASSERT_NE(record(0)->screen, nullptr);
  EXPECT_EQ(record(0)->screen->GetMode(), CCallScreen::kNoChoice);
  EXPECT_FALSE(view.screens[0]->visible);
  ASSERT_TRUE(pumpUntilOver(caller));
  EXPECT_TRUE(caller.Has("answered elsewhere"));
  EXPECT_TRUE(digits.forwarded.empty());  // digits of a call not taken as a message are not forwarded
}

TEST_F(CallwatchTest, CallerHangingUpDuringTheMessageKeepsTheMessage) {
  start(1);
  CCallRequest r = call(0);
  r.name = "Brief";
  r.audio = writeSound("caller.wav", std::vector<int16_t>(1600, 300));
  r.hangupMs = 200;
  SimCaller caller(r);
  ASSERT_TRUE(pumpUntilOver(caller));
  EXPECT_TRUE(caller.Has("answered"));
  const auto files = FilesIn(folder.file("Messages"));
  ASSERT_EQ(files.size(), 1u) << ::testing::PrintToString(debug) << ::testing::PrintToString(caller.Lines());
  EXPECT_EQ(files[0].rfind("Brief ", 0), 0u);
  EXPECT_GE(TempFolder::read(folder.file("Messages/" + files[0])).size(), 46u + 3200);
}

TEST_F(CallwatchTest, ClosingCallwatchDuringACallDropsItAndKeepsTheMessage) {
  start(1);
  CCallRequest r = call(0);
  r.name = "Late";
  r.audio = writeSound("caller.wav", std::vector<int16_t>(800, 100));
  r.hangupMs = 60000;
  SimCaller caller(r);
  // Wait until the message is being recorded, then close as the window would.
  ASSERT_TRUE(pumpUntil([&] {
    CCallRecord* rec = record(0);
    return rec && rec->screen && rec->screen->Recorder().IsRecording();
  }));
  pumpFor(200);
  monitor.reset();
  EXPECT_TRUE(view.timerChanges.back() == false);
  ASSERT_TRUE(pumpUntil([&] { return caller.Done(); }));
  EXPECT_TRUE(caller.Has("dropped"));
  EXPECT_EQ(FilesIn(folder.file("Messages")).size(), 1u);
}

// The provider's events for one message call, in the order the program relies on.
TEST_F(ProviderTest, EventsOfACallArriveInTheOrderOfARealExchange) {
  struct Listener : ITapiLineSink, ITapiCallSink {
    std::vector<std::string> heard;
    std::unique_ptr<CTapiCall> call;
    CTapiLine* line = nullptr;
    void OnNewCall(CTapiLine*, HCALL h, DWORD, DWORD privilege) override {
      heard.push_back("new call, privilege " + std::to_string(privilege));
      call = std::make_unique<CTapiCall>(h, line, this);
    }
    void OnLineDevState(CTapiLine*, DWORD state, uintptr_t, uintptr_t count) override {
      if (state != LINEDEVSTATE_RINGING) return;
      heard.push_back("ring " + std::to_string(count));
      if (count == 2) { EXPECT_GT(call->Answer(), 0); }
    }
    void OnCallInfo(CTapiCall*, DWORD s) override {
      if (s & LINECALLINFOSTATE_CALLERID) heard.push_back("caller id");
    }
    void OnCallState(CTapiCall*, DWORD state, DWORD, DWORD) override {
      heard.push_back(CallStateName(state));
      if (state == LINECALLSTATE_CONNECTED) call->MonitorDigits(LINEDIGITMODE_DTMF);
      if (state == LINECALLSTATE_DISCONNECTED) { EXPECT_GT(call->Drop(), 0); }
      if (state == LINECALLSTATE_IDLE) call.reset();
    }
    void OnMonitorDigit(CTapiCall*, char digit, DWORD) override { heard.push_back(std::string("digit ") + digit); }
    void OnCallReply(CTapiCall*, LONG, LONG result, int kind) override {
      heard.push_back("reply " + std::to_string(result) + " kind " + std::to_string(kind));
    }
  } listener;
  ASSERT_GE(CTapiContext::LineInitialize(nullptr, "Callwatch", nullptr), 0);
  CTapiLine line;
  listener.line = &line;
  ASSERT_EQ(line.Open(0, &listener, LINECALLPRIVILEGE_OWNER | LINECALLPRIVILEGE_MONITOR,
                      LINEMEDIAMODE_UNKNOWN | LINEMEDIAMODE_AUTOMATEDVOICE),
            0);
  CCallRequest r = call(0);
  r.number = "5550123";
  r.digits = "7#";
  r.rings = 5;
  r.ringMs = 400;  // room for the answer to arrive before the next ring, even on a loaded machine
  SimCaller caller(r);
  ASSERT_TRUE(pumpUntil([&] { return caller.Done() && !listener.call; }));
  EXPECT_EQ(listener.heard, (std::vector<std::string>{"new call, privilege 4", "Offering", "caller id", "ring 1",
                                                      "ring 2", "reply 0 kind 2", "Connect", "digit 7", "digit #",
                                                      "Disconnected", "reply 0 kind 4", "Over"}));
  EXPECT_TRUE(line.Pending().empty());
  EXPECT_TRUE(line.Unclaimed().empty());
}

TEST_F(ProviderTest, TheControlSocketServesABoundedNumberOfCallersAtOnce) {
  ASSERT_GE(CTapiContext::LineInitialize(nullptr, "Callwatch", nullptr), 0);
  // Callers that connect and say nothing hold a place each until they leave.
  std::vector<int> silent;
  for (int i = 0; i < 32; ++i) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::snprintf(a.sun_path, sizeof a.sun_path, "%s", folder.file("phonesim.sock").c_str());
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    silent.push_back(fd);
  }
  pumpFor(200);
  {
    SimCaller refused(call(0));
    ASSERT_TRUE(pumpUntil([&] { return refused.Done(); }));
    EXPECT_EQ(refused.Lines(), (std::vector<std::string>{"error too many calls at once"}));
  }
  for (int fd : silent) ::close(fd);
  pumpFor(200);
  CCallRequest r = call(0);
  r.rings = 1;
  SimCaller caller(r);
  ASSERT_TRUE(pumpUntil([&] { return caller.Done(); }));
  EXPECT_EQ(caller.Lines(), (std::vector<std::string>{"offered", "rung 1", "dropped", "idle"}));
}

}  // namespace
