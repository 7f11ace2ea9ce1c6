#pragma once
// What both front ends (the window and --headless) do to start and to stop: the call screens set
// up from the command line, the telephony context started as Callwatch starts it, the run's
// digit link, and the shutdown in the right order. The front end owns the monitor in between.
#include <string>
#include <vector>

#include "core/CallMonitor.h"
#include "core/CallScreen.h"
#include "core/Settings.h"
#include "link/QueuedDigitLink.h"

class CCallwatchSession {
public:
  explicit CCallwatchSession(ISettingsStore& settings);
  ~CCallwatchSession();  // stops a session that is still started
  CCallwatchSession(const CCallwatchSession&) = delete;
  CCallwatchSession& operator=(const CCallwatchSession&) = delete;

  // parameters: the program's name and the command-line parameters left for the end sequence;
  // messagesFolder empty: "Messages" beside the program, else the user's
  // ($XDG_DATA_HOME/Callwatch/Messages), whichever can be written first; no call is taken as a
  // message call when none can. Also reads the receiver's port ($CALLWATCH_LOOMWORK_PORT) and the
  // greeting.
  void Configure(const std::vector<const char*>& parameters, const std::string& messagesFolder);

  // SIGINT and SIGTERM ask the run to stop, SIGPIPE is ignored.
  static void CatchSignals();
  static bool StopRequested();

  // The line half, then the phone half (whose failure only costs the speaker). False, with the
  // message on standard error, when the line half cannot start.
  bool Start();
  // One line on standard error: what is watched, where messages go, the end sequence; before it
  // one more when no messages folder can be written.
  void Announce(const CCallMonitor* monitor) const;
  // Closes the digit link and shuts the context down; the monitor must be gone already.
  void Stop();

  CCallScreenSetup& ScreenSetup() { return m_setup; }
  ISettingsStore& Settings() { return m_settings; }
  CQueuedDigitLink& Link() { return m_link; }

private:
  ISettingsStore& m_settings;
  CQueuedDigitLink m_link;
  CCallScreenSetup m_setup;
  std::vector<std::string> m_triedFolders;  // for messages, in the order tried
  bool m_started = false;
};

// The greeting played before a message: $CALLWATCH_GREETING, else greeting.wav beside the
// program, else the installed phone example's; a short tone when none can be read.
std::vector<int16_t> LoadGreeting();
