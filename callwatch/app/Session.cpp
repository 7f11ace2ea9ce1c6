#include "app/Session.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "base/WaveDefs.h"
#include "core/Debug.h"
#include "core/MessageFiles.h"
#include "core/Tapi.h"

namespace {

// Set by the signal handler, which can reach nothing else.
std::atomic<bool> g_stopRequested{false};
void OnSignal(int) { g_stopRequested = true; }

constexpr const char* kAppName = "Callwatch";

std::string ProgramFolder() {
  char path[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return ".";
  std::string p(path, static_cast<size_t>(n));
  return p.substr(0, p.rfind('/'));
}

}  // namespace

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

CCallwatchSession::CCallwatchSession(ISettingsStore& settings)
    : m_settings(settings), m_link({}, [](const std::string& text) { OutputDebug(text); }) {
  m_setup.link = &m_link;
}

CCallwatchSession::~CCallwatchSession() {
  if (m_started) Stop();
}

void CCallwatchSession::Configure(const std::vector<const char*>& parameters, const std::string& messagesFolder) {
  // The receiver's port is 3502; tests and demos that run beside another receiver move it.
  if (const char* port = std::getenv("CALLWATCH_LOOMWORK_PORT")) {
    const int p = std::atoi(port);
    if (p > 0 && p < 65536) m_link.Setup().port = p;
  }
  m_setup.endSequence.SetFromCommandLine(static_cast<int>(parameters.size()), parameters.data());
  // Checked now rather than at the first message, which would be lost.
  m_triedFolders.clear();
  m_setup.messagesFolder = ChooseMessagesFolder(messagesFolder, &m_triedFolders);
  m_setup.takesMessages = !m_setup.messagesFolder.empty();
  m_setup.greeting = LoadGreeting();
}

void CCallwatchSession::CatchSignals() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

bool CCallwatchSession::StopRequested() { return g_stopRequested; }

bool CCallwatchSession::Start() {
  if (CTapiContext::LineInitialize(nullptr, kAppName, nullptr) < 0) {
    std::fprintf(stderr, "Can't initialize the line of Windows Telephony.\n");
    std::fflush(stderr);
    return false;
  }
  CTapiContext::PhoneInitialize(nullptr, kAppName, nullptr);  // without phones: no speaker
  m_started = true;
  return true;
}

void CCallwatchSession::Announce(const CCallMonitor* monitor) const {
  int open = 0;
  if (monitor)
    for (const auto& line : monitor->Lines()) open += line->IsOpen();
  if (!m_setup.takesMessages) {
    std::string tried;
    for (const std::string& folder : m_triedFolders) tried += (tried.empty() ? "" : ", ") + folder;
    std::fprintf(stderr, "callwatch: no messages folder can be written (tried %s); no call is taken as a message call\n",
                 tried.c_str());
  }
  std::fprintf(stderr, "callwatch: watching %d of %u lines; messages in %s; end sequence '%s'\n", open,
               CTapiContext::LineCount(), m_setup.takesMessages ? m_setup.messagesFolder.c_str() : "(none)",
               m_setup.endSequence.Text().c_str());
  std::fflush(stderr);
}

void CCallwatchSession::Stop() {
  if (!m_started) return;
  m_started = false;
  m_link.EndDataToLoomwork();
  m_link.Close();  // what Loomwork can still take goes; nothing waits for one that is not there
  CTapiContext::LineShutdown();
  CTapiContext::PhoneShutdown();
  std::fprintf(stderr, "callwatch: stopped\n");
}
