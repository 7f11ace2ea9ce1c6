// callwatch [--headless] [--messages DIR] [END-SEQUENCE]
// Callwatch opens its window; with --headless it runs without one (app/headless).
#include <QString>
#include <QtGlobal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/Session.h"
#include "app/desktop/DesktopMain.h"
#include "app/headless/HeadlessFront.h"
#include "app/settings/QtSettingsStore.h"
#include "core/MessageFiles.h"
#include "platform/ControlProtocol.h"

#ifndef CALLWATCH_VERSION
#define CALLWATCH_VERSION "unknown"
#endif

namespace {

constexpr const char* kUsage = "usage: callwatch [--headless] [--messages DIR] [END-SEQUENCE]\n";
constexpr const char* kNoDisplay = "callwatch: no display; run with --headless or set DISPLAY\n";

int Usage(const char* problem) {
  if (problem) std::fprintf(stderr, "callwatch: %s\n", problem);
  std::fputs(kUsage, stderr);
  return 2;
}

void Help() {
  std::string user = UserMessagesFolder();
  if (user.empty()) user = "$XDG_DATA_HOME/Callwatch/Messages";
  std::printf(
      "%s"
      "Watches every telephone line, logs each call, puts up a call screen for each incoming call,\n"
      "answers after the \"Rings\" setting as a message call: records the caller's message and\n"
      "forwards the caller's touch-tone digits to loomwork's tone digit receiver until the end\n"
      "sequence.\n"
      "\n"
      "Options:\n"
      "  --headless      no window: one line per change of a call on standard output, message\n"
      "                  boxes on standard error, until SIGINT or SIGTERM\n"
      "  --messages DIR  keep recorded messages in DIR (made if missing)\n"
      "  END-SEQUENCE    digits that end a message call: a parameter starting with '#', '*' or\n"
      "                  0-9, at most 103 (default '*')\n"
      "  --help          this text\n"
      "  --version       the version\n"
      "\n"
      "Files:\n"
      "  messages        one WAVE file per message, in %s;\n"
      "                  where that cannot be written, in %s\n"
      "                  (XDG_DATA_HOME defaults to ~/.local/share); with neither writable no\n"
      "                  call is taken as a message call\n"
      "  connect.txt     read from the current folder: its first line names loomwork's host\n"
      "                  (default localhost)\n"
      "  test.txt        the digit link's trace, written in the current folder\n"
      "  settings        Callwatch.conf in $XDG_CONFIG_HOME/Larkspur Soft (~/.config by default):\n"
      "                  Rings (0 to 4, default 4), the window's sort order and column widths\n"
      "\n"
      "Environment:\n"
      "  CALLWATCH_LOOMWORK_PORT    port of loomwork's tone digit receiver (default 3502)\n"
      "  CALLWATCH_TELEPHONY        the telephony provider library to load (default\n"
      "                             libcallwatch_telephony.so beside the program or in ../lib);\n"
      "                             sip: SIP lines (libcallwatch_sip.so), from [SipLines] of the\n"
      "                             settings (Name, Address, Registrar, User, Password, Listen)\n"
      "  CALLWATCH_SIP_LISTEN       HOST:PORT: one more SIP line taking calls sent straight to it\n"
      "                             over UDP and TCP, without registration\n"
      "  CALLWATCH_SIP_RING_MS      a ring is counted every this many ms while a SIP call is\n"
      "                             offered (default 6000)\n"
      "  CALLWATCH_SIP_DEBUG        any value: the SIP stack's log on standard error\n"
      "  CALLWATCH_GREETING         WAVE file (8000 Hz, 16-bit, mono) played before a message\n"
      "  PHONESIM_SOCKET            the simulated exchange's control socket (default\n"
      "                             $XDG_RUNTIME_DIR/phonesim.sock, else /tmp/phonesim-UID.sock)\n"
      "  PHONESIM_LINES             lines of the simulated exchange, 0 to 16 (default 2)\n"
      "  PHONESIM_VOICE_ONLY_LINES  line numbers (digits) that take interactive voice only\n"
      "  PHONESIM_LOCATION          COUNTRY,AREA of the telephony location (default 1,425)\n"
      "  DISPLAY, WAYLAND_DISPLAY, QT_QPA_PLATFORM   where the window opens\n"
      "  XDG_DATA_HOME, XDG_CONFIG_HOME, HOME        where messages and settings are kept\n"
      "\n"
      "Exit status: 0 when stopped, 1 when telephony cannot start, 2 for a bad command line, no\n"
      "display, or another callwatch on the same control socket.\n",
      kUsage, DefaultMessagesFolder().c_str(), (user).c_str());
}

bool Set(const char* name) {
  const char* value = std::getenv(name);
  return value && *value;
}

// Qt ends the process (abort, status 134) when it can reach no display: said our way instead.
bool g_displayUnreachable = false;
std::string g_displayName;
QtMessageHandler g_qtHandler = nullptr;

void OnQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  const std::string text = message.toStdString();
  if (text.find("could not connect to display") != std::string::npos) {
    g_displayUnreachable = true;
    return;
  }
  if (text.find("Could not load the Qt platform plugin") != std::string::npos) return;  // said below
  if (type == QtFatalMsg && text.find("no Qt platform plugin could be initialized") != std::string::npos) {
    if (g_displayUnreachable && !g_displayName.empty())
      std::fprintf(stderr, "callwatch: cannot open display %s; run with --headless or set DISPLAY\n",
                   g_displayName.c_str());
    else std::fputs(kNoDisplay, stderr);
    std::fflush(stderr);
    std::_Exit(2);
  }
  if (g_qtHandler) {
    g_qtHandler(type, context, message);
  } else {
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
  }
}

}  // namespace

int main(int argc, char** argv) {
  bool headless = false;
  std::string messages;
  // The parameters left for the end sequence: a folder named "2024" is not one.
  std::vector<const char*> parameters{argv[0]};
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--headless") {
      headless = true;
    } else if (arg == "--messages") {
      if (i + 1 >= argc) return Usage("--messages needs a folder");
      messages = argv[++i];
    } else if (arg == "--help" || arg == "-h") {
      Help();
      return 0;
    } else if (arg == "--version") {
      std::printf("callwatch %s\n", CALLWATCH_VERSION);
      return 0;
    } else if (!arg.empty() && arg[0] == '-') {
      return Usage(("unknown option " + arg).c_str());
    } else {
      parameters.push_back(argv[i]);
    }
  }
  if (!headless && !Set("DISPLAY") && !Set("WAYLAND_DISPLAY") && !Set("QT_QPA_PLATFORM")) {
    std::fputs(kNoDisplay, stderr);
    return 2;
  }
  // The provider's control socket is one per user: a second callwatch on it would never hear
  // of a call.
  const std::string control = ControlSocketPath();
  if (ControlSocketInUse(control)) {
    std::fprintf(stderr, "callwatch: another callwatch is running on the control socket %s\n", control.c_str());
    return 2;
  }
  CQtSettingsStore settings;
  CCallwatchSession session(settings);
  session.Configure(parameters, messages);
  if (headless) return RunHeadless(session);
  if (const char* display = std::getenv("DISPLAY")) g_displayName = display;
  g_qtHandler = qInstallMessageHandler(OnQtMessage);
  return RunDesktop(argc, argv, session);
}
