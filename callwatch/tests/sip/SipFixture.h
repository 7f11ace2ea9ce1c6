#pragma once
// What the SIP line tests share: callwatch --headless on SIP lines (CALLWATCH_TELEPHONY=sip)
// listening on loopback, SIPp playing callers and registrars from the scenarios beside this file,
// and an RTP listener in the caller's place that hears what Callwatch sends.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <cmath>
// After <cmath>: spandsp's header reads its maths.
#include <spandsp.h>
#include <mutex>
#include <thread>

#include "tests/ProgramsFixture.h"

const std::string kScenarios = kSource + "/callwatch/tests/sip/";
const std::string kSippPcaps = "/usr/share/sip-tester/";

// A port free for UDP and TCP on loopback now.
inline int FreeSipPort() {
  for (int i = 0; i < 50; ++i) {
    int u = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (::bind(u, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(u, reinterpret_cast<sockaddr*>(&a), &len) == 0)
      port = ntohs(a.sin_port);
    int t = ::socket(AF_INET, SOCK_STREAM, 0);
    const bool tcpFree = port && ::bind(t, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(t);
    ::close(u);
    if (tcpFree) return port;
  }
  return 0;
}

// Where the caller hears Callwatch: every RTP packet that arrives on a UDP port of loopback.
class RtpListener {
public:
  RtpListener() {
    m_fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
      m_port = ntohs(a.sin_port);
    timeval tv{0, 50000};
    ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    m_thread = std::thread([this] {
      unsigned char buffer[2048];
      while (m_running) {
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (n <= 0) continue;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_packets.emplace_back(buffer, buffer + n);
      }
    });
  }
  ~RtpListener() {
    m_running = false;
    m_thread.join();
    ::close(m_fd);
  }
  int port() const { return m_port; }
  std::vector<std::vector<unsigned char>> packets() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_packets;
  }
  // The RTP audio of one payload type (0 PCMU, 8 PCMA) decoded, in arrival order; counts the
  // packets of other types and those that are no RTP.
  std::vector<int16_t> audio(int payloadType, size_t* others = nullptr) const {
    std::vector<int16_t> samples;
    size_t other = 0;
    for (const auto& p : packets()) {
      if (p.size() < 12 || (p[0] >> 6) != 2) {
        ++other;
        continue;
      }
      const size_t header = 12 + 4 * (p[0] & 0x0F);
      if ((p[1] & 0x7F) != payloadType || p.size() <= header) {
        ++other;
        continue;
      }
      for (size_t i = header; i < p.size(); ++i)
        samples.push_back(payloadType == 8 ? alaw_to_linear(p[i]) : ulaw_to_linear(p[i]));
    }
    if (others) *others = other;
    return samples;
  }

private:
  int m_fd = -1;
  int m_port = 0;
  std::atomic<bool> m_running{true};
  mutable std::mutex m_mutex;
  std::vector<std::vector<unsigned char>> m_packets;
  std::thread m_thread;
};

// How much of a tone of `hz` a stretch of 8 kHz samples holds (its amplitude).
inline double ToneLevel(const std::vector<int16_t>& s, size_t from, size_t count, double hz) {
  double re = 0, im = 0;
  for (size_t i = 0; i < count && from + i < s.size(); ++i) {
    re += s[from + i] * std::cos(2 * M_PI * hz * double(i) / 8000.0);
    im += s[from + i] * std::sin(2 * M_PI * hz * double(i) / 8000.0);
  }
  return count ? 2 * std::sqrt(re * re + im * im) / double(count) : 0;
}

inline double Peak(const std::vector<int16_t>& s) {
  int peak = 0;
  for (int16_t v : s) peak = std::max(peak, std::abs(int(v)));
  return peak;
}

class SipTest : public ProgramsTest {
protected:
  void SetUp() override {
    ProgramsTest::SetUp();
    if (::access("/usr/bin/sipp", X_OK) != 0) GTEST_SKIP() << "sipp is not installed (make deps installs sip-tester)";
    setenv("CALLWATCH_TELEPHONY", "sip", 1);
    suppressStackLeaks();
    setenv("CALLWATCH_SIP_RING_MS", "200", 1);
    unsetenv("CALLWATCH_SIP_LISTEN");
  }
  void TearDown() override {
    ProgramsTest::TearDown();
    unsetenv("CALLWATCH_SIP_LISTEN");
    unsetenv("CALLWATCH_SIP_RING_MS");
  }
  // Under LeakSanitizer, the programs' suppressions and the SIP stack's (lsan.supp here) in one
  // file, as it takes only one; whole stacks, since the stack's libraries keep no frame pointers.
  void suppressStackLeaks() {
    if (const char* asan = std::getenv("ASAN_OPTIONS"); asan && !Has(asan, "fast_unwind_on_malloc"))
      setenv("ASAN_OPTIONS", (std::string(asan) + ":fast_unwind_on_malloc=0").c_str(), 1);
    const char* options = std::getenv("LSAN_OPTIONS");
    if (!options) return;
    std::string text = options, file;
    const size_t at = text.find("suppressions=");
    std::string combined = TempFolder::read(kScenarios + "lsan.supp");
    if (at != std::string::npos) {
      const size_t end = text.find(':', at);
      file = text.substr(at + 13, end == std::string::npos ? std::string::npos : end - at - 13);
      combined = TempFolder::read(file) + "\n" + combined;
      text.erase(at, end == std::string::npos ? std::string::npos : end - at + 1);
    }
    const std::string path = folder.write("lsan.supp", combined);
    if (!text.empty() && text.back() != ':') text += ':';
    setenv("LSAN_OPTIONS", (text + "suppressions=" + path).c_str(), 1);
  }
  // A greeting of a tenth of a second of 440 Hz, which the caller must hear.
  void toneGreeting() {
    std::vector<int16_t> tone(800);
    for (size_t i = 0; i < tone.size(); ++i)
      tone[i] = static_cast<int16_t>(8000 * std::sin(2 * M_PI * 440.0 * double(i) / 8000.0));
    const std::string path = folder.file("greeting.wav");
    std::string why;
    ASSERT_TRUE(JWaveFile::writeSamples(path, JWaveFormat::pcm(8000, 1, 16), tone, why)) << why;
    setenv("CALLWATCH_GREETING", path.c_str(), 1);
  }
  // One line taking calls sent straight to it; its port.
  int directLine() {
    const int port = FreeSipPort();
    setenv("CALLWATCH_SIP_LISTEN", ("127.0.0.1:" + std::to_string(port)).c_str(), 1);
    return port;
  }
  // The settings file: Rings and the [SipLines] given (each entry's keys without the index).
  void writeSettings(int rings, const std::vector<std::vector<std::pair<std::string, std::string>>>& lines) {
    ::mkdir(folder.file("config").c_str(), 0755);
    ::mkdir(folder.file("config/Larkspur Soft").c_str(), 0755);
    std::string text = "[Settings]\nRings=" + std::to_string(rings) + "\n";
    if (!lines.empty()) {
      text += "\n[SipLines]\nsize=" + std::to_string(lines.size()) + "\n";
      for (size_t i = 0; i < lines.size(); ++i)
        for (const auto& [key, value] : lines[i]) text += std::to_string(i + 1) + "\\" + key + "=" + value + "\n";
    }
    folder.write("config/Larkspur Soft/Callwatch.conf", text);
  }
  // SIPp's arguments for one call of a scenario to a port of loopback, its own ports free ones.
  // SIPp reads the file it streams when it loads the scenario, before keys are applied: that one
  // is filled into a copy of the scenario.
  std::vector<std::string> Sipp(const std::string& scenario, int port,
                                const std::vector<std::pair<std::string, std::string>>& keys) {
    std::string path = kScenarios + scenario;
    std::string text = TempFolder::read(path);
    const std::string stream = "[audio],1,[codec]";
    if (Has(text, stream)) {
      std::string audio, codec;
      for (const auto& [k, v] : keys) {
        if (k == "audio") audio = v;
        if (k == "codec") codec = v;
      }
      text.replace(text.find(stream), stream.size(), audio + ",1," + codec);
      path = folder.write("filled-" + scenario, text);
    }
    std::vector<std::string> args{"-sf",
                                  path,
                                  "127.0.0.1:" + std::to_string(port),
                                  "-i",
                                  "127.0.0.1",
                                  "-p",
                                  std::to_string(FreeSipPort()),
                                  "-mp",
                                  std::to_string(FreeSipPort()),
                                  "-m",
                                  "1",
                                  "-nostdin",
                                  "-timeout",
                                  "15s",
                                  "-timeout_error",
                                  "-trace_err"};
    for (const auto& [k, v] : keys) args.insert(args.end(), {"-key", k, v});
    return args;
  }
  // A caller's keys: name, number, codec, where it hears, what it says (three seconds of
  // kSpeechHz) and the four digits.
  std::vector<std::pair<std::string, std::string>> Caller(const std::string& display, const std::string& user,
                                                          bool alaw, int rtpPort) {
    return {{"display", display},
            {"user", user},
            {"codec", alaw ? "8" : "0"},
            {"codecname", alaw ? "PCMA" : "PCMU"},
            {"rtpport", std::to_string(rtpPort)},
            {"audio", speech(alaw)},
            {"d1", kSippPcaps + "dtmf_2833_1.pcap"},
            {"d2", kSippPcaps + "dtmf_2833_2.pcap"},
            {"d3", kSippPcaps + "dtmf_2833_pound.pcap"},
            {"d4", kSippPcaps + "dtmf_2833_star.pcap"}};
  }
  static constexpr double kSpeechHz = 1000;
  // What the caller says, as SIPp streams it: a WAVE file of 8-bit G.711 (format 6 A-law,
  // 7 mu-law), encoded by spandsp.
  std::string speech(bool alaw) {
    std::string data;
    for (int i = 0; i < 3 * 8000; ++i) {
      const int v = static_cast<int>(6000 * std::sin(2 * M_PI * kSpeechHz * i / 8000.0));
      data += static_cast<char>(alaw ? linear_to_alaw(v) : linear_to_ulaw(v));
    }
    auto le = [](uint32_t v, int bytes) {
      std::string s;
      for (int i = 0; i < bytes; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
      return s;
    };
    const std::string wave = "RIFF" + le(36 + static_cast<uint32_t>(data.size()), 4) + "WAVEfmt " + le(16, 4) +
                             le(alaw ? 6 : 7, 2) + le(1, 2) + le(8000, 4) + le(8000, 4) + le(1, 2) + le(8, 2) + "data" +
                             le(static_cast<uint32_t>(data.size()), 4) + data;
    return folder.write(alaw ? "speech-alaw.wav" : "speech-ulaw.wav", wave);
  }
  // The SIPp run in the test's folder, where its logs go.
  ProcessResult runSipp(const std::vector<std::string>& args, int ms = 20000) {
    std::vector<std::string> all{"-c", "cd \"$0\" && exec sipp \"$@\"", folder.path()};
    all.insert(all.end(), args.begin(), args.end());
    return runProcess("/bin/sh", all, ms);
  }
  // A SIPp that listens (-p PORT) is waited for until its port is bound, so that what is started
  // next does not send to nobody (a loaded machine can take seconds to start it).
  std::unique_ptr<RunningProcess> startSipp(const std::vector<std::string>& args) {
    std::vector<std::string> all{"-c", "cd \"$0\" && exec sipp \"$@\"", folder.path()};
    all.insert(all.end(), args.begin(), args.end());
    auto p = std::make_unique<RunningProcess>("/bin/sh", all);
    for (size_t i = 0; i + 1 < args.size(); ++i)
      if (args[i] == "-p") {
        EXPECT_TRUE(WaitForUdpPort(std::atoi(args[i + 1].c_str()), 20000)) << "sipp never listened";
      }
    return p;
  }
  // Whether a UDP socket is bound to port, read from the kernel's table (binding it to find out
  // would race with the program that is about to).
  static bool WaitForUdpPort(int port, int ms) {
    char hex[8];
    std::snprintf(hex, sizeof hex, ":%04X ", port);
    const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < limit) {
      for (const char* table : {"/proc/net/udp", "/proc/net/udp6"}) {
        std::ifstream in(table);
        for (std::string line; std::getline(in, line);) {
          const size_t colon = line.find(':', line.find(':') + 1);  // the local address's port
          if (colon != std::string::npos && line.compare(colon, 6, hex) == 0) return true;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }
  // The samples of the one message recorded, or none.
  std::vector<int16_t> onlyMessage(std::string* name = nullptr) {
    const std::vector<std::string> files = FilesIn(folder.file("Messages"));
    if (files.size() != 1) return {};
    if (name) *name = files[0];
    std::vector<int16_t> samples;
    std::string error;
    ReadWaveFile(folder.file("Messages/" + files[0]), &samples, &error);
    return samples;
  }
  ProcessResult stop(std::unique_ptr<RunningProcess>& p) {
    p->signal(SIGTERM);
    return p->finish(10000);
  }
};
