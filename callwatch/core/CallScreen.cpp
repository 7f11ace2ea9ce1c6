#include "core/CallScreen.h"

#include <cstdio>

#include "core/Debug.h"
#include "core/MessageFiles.h"

// ---- end sequence -----------------------------------------------------------------------------

void CEndSequence::SetFromCommandLine(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    const char c = argv[i] ? argv[i][0] : 0;
    if (c == '#' || c == '*' || (c >= '0' && c <= '9')) Set(argv[i]);
  }
}

void CEndSequence::Set(const std::string& sequence) {
  m_text = sequence.substr(0, kMostLength);
  m_given = true;
  m_position = 0;
}

void CEndSequence::Reset() { *this = CEndSequence{}; }

bool CEndSequence::Ends(char digit) {
  if (!m_given) return digit == '*';
  if (m_text.empty()) return false;
  if (digit != m_text[m_position]) {
    m_position = 0;  // the digit is not tried again as a new start
    return false;
  }
  if (++m_position < m_text.size()) return false;
  m_position = 0;
  return true;
}

const char* const kNoMessagesFolder = "No messages folder can be written: calls are not taken as messages.";

// ---- call screen ------------------------------------------------------------------------------

CCallScreen::CCallScreen(CTapiCall* call, const std::string& name, const std::string& number,
                         std::unique_ptr<ICallScreenView> view, CCallScreenSetup& setup)
    : m_call(call), m_setup(setup), m_name(name), m_number(number), m_view(std::move(view)) {
  if (!m_view) m_view = std::make_unique<ICallScreenView>();
  m_view->CallerChanged(m_name, m_number);
  m_view->ShowControl(IDC_HANG_UP, false);
  m_view->ShowControl(IDC_DTMF_TEXT, false);
  m_view->SetControlText(IDC_DTMF_TEXT, "Waiting for DTMF...");
  m_view->ShowScreen(true);
  if (m_call) m_call->AddSink(this);
}

CCallScreen::~CCallScreen() {
  if (m_call) m_call->RemoveSink(this);
  // A recording stopped by the end of the call whose data event has not come yet would be lost
  // with the screen: it is saved now.
  m_recorder.Stop();
  if (m_recorder.HasRecording()) SaveMessage();
  m_recorder.Release();
  m_phone.Close();
  m_view->ShowScreen(false);
}

void CCallScreen::TakeTheCall() {
  m_mode = kSpeaker;
  m_setup.digitDisplay.clear();
  m_view->ShowControl(IDC_TAKE_CALL, false);
  m_view->ShowControl(IDC_TAKE_MESSAGE, false);
  m_view->ShowControl(IDC_HANG_UP, true);
  if (!m_call || m_call->Answer() < 0) m_view->MessageBox("Can't answer the call");
}

void CCallScreen::TakeMessage() {
  if (!m_setup.takesMessages) {
    m_view->MessageBox(kNoMessagesFolder);
    return;
  }
  m_mode = kMessage;
  m_view->ShowControl(IDC_TAKE_CALL, false);
  m_view->ShowControl(IDC_TAKE_MESSAGE, false);
  m_view->SetControlText(IDC_DTMF_TEXT, "Accepted call -- press '" + m_setup.endSequence.Text() + "' to end call");
  m_view->ShowControl(IDC_DTMF_TEXT, true);
  if (!m_call || m_call->Answer() < 0) m_view->MessageBox("Can't answer the call");
}

void CCallScreen::HangUp() {
  if (m_setup.link) m_setup.link->EndDataToLoomwork();
  if (!m_call || m_call->Drop() < 0) m_view->MessageBox("Can't drop the call");
  m_view->ShowScreen(false);
}

void CCallScreen::SetCaller(const std::string& name, const std::string& number) {
  m_name = name;
  m_number = number;
  m_view->CallerChanged(m_name, m_number);
}

void CCallScreen::OnCallState(CTapiCall*, DWORD state, DWORD, DWORD) {
  if (m_mode == kNoChoice && state == LINECALLSTATE_CONNECTED) {
    m_view->ShowScreen(false);  // answered elsewhere
  } else if (m_mode == kMessage && state == LINECALLSTATE_CONNECTED) {
    m_call->MonitorDigits(LINEDIGITMODE_DTMF);
    PlayGreeting();
  } else if (m_mode == kMessage && state == LINECALLSTATE_DISCONNECTED) {
    m_recorder.Stop();
  } else if (m_mode == kSpeaker && state == LINECALLSTATE_CONNECTED) {
    SwitchToSpeaker();
  }
}

// The greeting goes to the caller first; its end starts the recording (OnOutputDone). Without a
// greeting or an output device the recording starts at once.
void CCallScreen::PlayGreeting() {
  const std::vector<int16_t>& greeting = m_setup.greeting;
  CTapiBuffer id;
  DWORD device = 0;
  const VARSTRING* v = nullptr;
  if (!greeting.empty() && m_call->GetID("wave/out", &id) == 0 && (v = id.As<VARSTRING>()) != nullptr &&
      id.WordAt(v->dwStringOffset, &device) && m_recorder.Play(device, greeting.data(), greeting.size()))
    return;
  OnOutputDone();
}

void CCallScreen::SwitchToSpeaker() {
  CTapiLine* line = m_call->GetLine();
  if (!line) return;
  CTapiBuffer id;
  if (id.FetchLineID(line->Handle(), 0, 0, LINECALLSELECT_LINE, "tapi/phone") < 0) return;
  const VARSTRING* v = id.As<VARSTRING>();
  DWORD device = 0;
  if (!v || !id.WordAt(v->dwStringOffset, &device)) return;
  CTapiBuffer caps;
  if (CTapiPhone::GetDevCaps(device, &caps) < 0) return;
  const PHONECAPS* pc = caps.As<PHONECAPS>();
  if (!pc || !(pc->dwSpeakerHookSwitchModes & PHONEHOOKSWITCHMODE_MICSPEAKER)) return;
  if (m_phone.Open(device, nullptr, PHONEPRIVILEGE_OWNER) < 0) return;
  if (m_phone.SetHookSwitch(PHONEHOOKSWITCHDEV_SPEAKER, PHONEHOOKSWITCHMODE_MICSPEAKER) <= 0) m_phone.Close();
}

void CCallScreen::OnMonitorDigit(CTapiCall*, char digit, DWORD) {
  std::string& display = m_setup.digitDisplay;
  if (display.size() >= 8) display.erase(0, display.size() - 7);
  display += digit;
  if (m_setup.endSequence.Ends(digit)) {
    m_call->MonitorDigits(0);
    m_recorder.Stop();
    if (m_setup.link) m_setup.link->EndDataToLoomwork();
    m_call->Drop();
    return;
  }
  m_recorder.Stop();
  if (m_setup.link) m_setup.link->SendDigitToLoomwork(digit);
  m_view->SetControlText(IDC_DTMF_TEXT, display);
}

void CCallScreen::OnOutputDone() {
  CTapiBuffer id;
  DWORD device = 0;
  const VARSTRING* v = nullptr;
  if (m_call->GetID("wave/in", &id) == 0 && (v = id.As<VARSTRING>()) != nullptr &&
      id.WordAt(v->dwStringOffset, &device) && m_recorder.Record(device, m_setup.recordSeconds)) {
    m_call->MonitorDigits(LINEDIGITMODE_DTMF);
    return;
  }
  m_call->Drop();
}

void CCallScreen::OnInputData() {
  SaveMessage();
  m_recorder.Release();
}

bool CCallScreen::SaveMessage() {
  const std::string folder = m_setup.messagesFolder.empty() ? DefaultMessagesFolder() : m_setup.messagesFolder;
  std::string path;
  if (!EnsureFolder(folder)) {
    OutputDebug("Can't create folder: " + folder + "\n");
  } else {
    const time_t now = m_setup.now ? m_setup.now() : std::time(nullptr);
    struct tm local {};
    localtime_r(&now, &local);
    path = FreeMessagePath(folder, MessageFileName(m_name, m_number, local));
    if (path.empty()) OutputDebug("No free message file name in " + folder + "\n");
  }
  if (path.empty() || !m_recorder.Save(path)) {
    std::fprintf(stderr, "callwatch: the message of %s could not be saved in %s\n",
                 m_name.empty() ? "a caller" : SafeFileNamePart(m_name).c_str(), folder.c_str());
    return false;
  }
  return true;
}
