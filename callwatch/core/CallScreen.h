#pragma once
// The call screen's logic: one per incoming call. It offers three choices (take the call on the
// speaker, take a message, hang up), follows its call's states, forwards a message call's digits
// to Loomwork until the end sequence, and records the caller's message. What the user sees is
// behind ICallScreenView, which the desktop window and the headless front end implement.
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/Tapi.h"
#include "core/WaveRecorder.h"
#include "link/DigitLink.h"

// Controls of the call screen.
enum : int {
  IDC_NAME = 1000,
  IDC_NUMBER = 1001,
  IDC_TAKE_CALL = 1002,
  IDC_TAKE_MESSAGE = 1003,
  IDC_HANG_UP = 1004,
  IDC_DTMF_TEXT = 1005,
};

class ICallScreenView {
public:
  virtual ~ICallScreenView() = default;
  virtual void ShowScreen(bool visible) {}
  virtual void ShowControl(int id, bool visible) {}
  virtual void SetControlText(int id, const std::string& text) {}
  virtual void MessageBox(const std::string& text) {}
  virtual void CallerChanged(const std::string& name, const std::string& number) {}
};

// The end sequence of message calls, shared by all call screens: "*" unless the command line
// gives one, matched digit by digit.
class CEndSequence {
public:
  static constexpr size_t kMostLength = 103;
  // A parameter starting with '#', '*' or a digit becomes the sequence (cut to kMostLength).
  void SetFromCommandLine(int argc, const char* const* argv);
  void Set(const std::string& sequence);  // as if given on the command line
  void Reset();                           // back to the default
  // Whether this digit ends the call.
  bool Ends(char digit);
  const std::string& Text() const { return m_text; }
  bool Given() const { return m_given; }

private:
  std::string m_text = "*";
  bool m_given = false;
  size_t m_position = 0;
};

// What every call screen shares and reaches outside itself. One is made for the run and handed to
// the monitor, which hands it to each call screen it makes.
struct CCallScreenSetup {
  CEndSequence endSequence;
  std::string digitDisplay;       // the last eight digits
  std::string messagesFolder;     // empty: "Messages" beside the program
  // False when no messages folder can be written: no call is then taken as a message call (its
  // message would be lost).
  bool takesMessages = true;
  std::vector<int16_t> greeting;  // played before a message is recorded
  uint32_t recordSeconds = 120;
  IDigitLink* link = nullptr;   // where a message call's digits go; none: nowhere
  std::function<time_t()> now;  // empty: the system clock
};

// What "Take a Message" says when no messages folder can be written.
extern const char* const kNoMessagesFolder;

class CCallScreen : public ITapiCallSink, public IWaveSink {
public:
  enum Mode { kNoChoice = 0, kMessage = 1, kSpeaker = 2 };

  CCallScreen(CTapiCall* call, const std::string& name, const std::string& number,
              std::unique_ptr<ICallScreenView> view, CCallScreenSetup& setup);
  ~CCallScreen() override;
  CCallScreen(const CCallScreen&) = delete;
  CCallScreen& operator=(const CCallScreen&) = delete;

  void TakeTheCall();
  void TakeMessage();  // also automatic acceptance
  void HangUp();
  void SetCaller(const std::string& name, const std::string& number);

  int GetMode() const { return m_mode; }
  const std::string& Name() const { return m_name; }
  const std::string& Number() const { return m_number; }
  const CWaveRecorder& Recorder() const { return m_recorder; }
  const CTapiPhone& Phone() const { return m_phone; }
  ICallScreenView* View() const { return m_view.get(); }

  void OnCallState(CTapiCall*, DWORD state, DWORD detail, DWORD privilege) override;
  void OnMonitorDigit(CTapiCall*, char digit, DWORD digitMode) override;
  void OnOutputDone() override;
  void OnInputData() override;

  // Saves the recording as a message; false (and a report) when it cannot be saved.
  bool SaveMessage();

private:
  void SwitchToSpeaker();
  void PlayGreeting();

  CTapiCall* m_call;
  CCallScreenSetup& m_setup;
  std::string m_name, m_number;
  int m_mode = kNoChoice;
  CWaveRecorder m_recorder{this};
  CTapiPhone m_phone;
  std::unique_ptr<ICallScreenView> m_view;
};
