// callwatch [--headless] [--messages DIR] [END-SEQUENCE]
// Callwatch opens its window (desktop/DesktopMain.cpp). With --headless it runs without one:
// watches every line, prints one line per change of a call record on standard output and every
// message box on standard error, until SIGINT or SIGTERM.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "core/CallMonitor.h"
#include "core/Debug.h"
#include "link/DigitLink.h"
#include "core/MessageFiles.h"
#include "base/MessageQueue.h"
#include "core/Settings.h"
#include "base/WaveFile.h"
#include "app/desktop/DesktopMain.h"

namespace {

std::atomic<bool> g_stop{false};
void OnSignal(int) { g_stop = true; }

std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 32 || c == 127) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

class HeadlessScreenView : public ICallScreenView {
public:
  void MessageBox(const std::string& text) override {
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
  }
};

// The call log as lines: "call N: NAME NUMBER STATE rings R", printed when any of them changes.
class HeadlessLogView : public ICallLogView {
public:
  void RecordAdded(CCallRecord* r) override {
    m_numbers[r] = static_cast<int>(m_numbers.size()) + 1;
    RecordChanged(r);
  }
  void RecordChanged(CCallRecord* r) override {
    auto now = std::make_tuple(r->name, r->number, r->state, r->rings);
    auto it = m_last.find(r);
    if (it != m_last.end() && it->second == now) return;
    m_last[r] = now;
    std::printf("call %d: %s %s %s rings %u\n", m_numbers[r], Quoted(r->name).c_str(),
                Quoted(r->number).c_str(), r->StateName(), r->rings);
    std::fflush(stdout);
  }
  std::unique_ptr<ICallScreenView> MakeScreenView(CCallRecord*) override {
    return std::make_unique<HeadlessScreenView>();
  }

private:
  std::map<CCallRecord*, int> m_numbers;
  std::map<CCallRecord*, std::tuple<std::string, std::string, DWORD, uint32_t>> m_last;
};

std::string ProgramFolder() {
  char path[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return ".";
  std::string p(path, static_cast<size_t>(n));
  return p.substr(0, p.rfind('/'));
}

// The greeting played before a message: $CALLWATCH_GREETING, else greeting.wav beside the
// program, else the installed phone example's; a short tone when none can be read.
std::vector<int16_t> LoadGreeting() {
  const char* env = std::getenv("CALLWATCH_GREETING");
  std::vector<std::string> paths;
  if (env && *env) {
    paths.push_back(env);
  } else {
    paths.push_back(ProgramFolder() + "/greeting.wav");
    paths.push_back(ProgramFolder() + "/../share/loomwork/examples/phone/greeting.wav");
  }
  std::vector<int16_t> samples;
  std::string error;
  for (const std::string& path : paths)
    if (ReadWaveFile(path, &samples, &error) && !samples.empty()) return samples;
  OutputDebug("No greeting (" + error + "); a tone instead\n");
  samples.resize(4000);
  for (size_t i = 0; i < samples.size(); ++i)
    samples[i] = static_cast<int16_t>(8000 * std::sin(2 * M_PI * 440.0 * double(i) / 8000.0));
  return samples;
}

int Usage(const char* problem) {
  if (problem) std::fprintf(stderr, "callwatch: %s\n", problem);
  std::fprintf(stderr, "usage: callwatch [--headless] [--messages DIR] [END-SEQUENCE]\n");
  return 2;
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
      Usage(nullptr);
      return 0;
    } else if (!arg.empty() && arg[0] == '-') {
      return Usage(("unknown option " + arg).c_str());
    } else {
      parameters.push_back(argv[i]);
    }
  }
  // The receiver's port is 3502; tests and demos that run beside another receiver move it.
  if (const char* port = std::getenv("CALLWATCH_LOOMWORK_PORT")) {
    const int p = std::atoi(port);
    if (p > 0 && p < 65536) DigitLinkSetup().port = p;
  }
  CCallScreenSetup& setup = CallScreenSetup();
  setup.endSequence.SetFromCommandLine(static_cast<int>(parameters.size()), parameters.data());
  setup.messagesFolder = messages.empty() ? DefaultMessagesFolder() : messages;
  setup.greeting = LoadGreeting();
  if (!headless) return RunDesktop(argc, argv);

  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);

  const CCallwatchSettings settings = CCallwatchSettings::Load();
  if (CTapiContext::LineInitialize(nullptr, "Callwatch", nullptr) < 0) {
    std::fprintf(stderr, "Can't initialize the line of Windows Telephony.\n");
    return 1;
  }
  CTapiContext::PhoneInitialize(nullptr, "Callwatch", nullptr);  // without phones: no speaker

  int open = 0;
  {
    HeadlessLogView view;
    CCallMonitor monitor(&view);
    monitor.OpenAllLines();
    monitor.ApplyRings(settings.rings);
    for (const auto& line : monitor.Lines()) open += line->IsOpen();
    std::fprintf(stderr, "callwatch: watching %d of %u lines; messages in %s; end sequence '%s'\n",
                 open, CTapiContext::LineCount(), setup.messagesFolder.c_str(),
                 setup.endSequence.Text().c_str());
    std::fflush(stderr);
    auto queue = CMessageQueue::ForThisThread();
    while (!g_stop) queue->Pump(100);
    // The monitor goes first: calls still going are finished and their messages saved.
  }
  EndDataToLoomwork();
  CTapiContext::LineShutdown();
  CTapiContext::PhoneShutdown();
  std::fprintf(stderr, "callwatch: stopped\n");
  return 0;
}
