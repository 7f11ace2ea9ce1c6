#pragma once
// What the tests of the real programs share: callwatch --headless against the provider in a
// folder of the test's own, phonesim placing calls, loomwork running the tone receiver's example.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/JWaveFile.h"
#include "base/WaveDefs.h"
#include "testing/Process.h"
#include "testing/TempFolder.h"

const std::string kSource = LOOMWORK_SOURCE_DIR;

// A port no one listens on now, within the receiver's range (3000 to 8000).
inline int FreePort() {
  static int next = 0;
  for (int i = 0; i < 5000; ++i) {
    const int port = 3000 + (getpid() * 7 + next++) % 5000;
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    const bool free = ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(s);
    if (free) return port;
  }
  return 3502;
}

inline bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

inline size_t CountOf(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
  return n;
}

class ProgramsTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(folder.ok());
    setenv("PHONESIM_SOCKET", folder.file("phonesim.sock").c_str(), 1);
    setenv("XDG_CONFIG_HOME", folder.file("config").c_str(), 1);
    setenv("PHONESIM_LINES", "2", 1);
    setenv("CALLWATCH_TELEPHONY", CALLWATCH_PROVIDER, 1);
    unsetenv("PHONESIM_LOCATION");
  }
  void TearDown() override {
    unsetenv("CALLWATCH_GREETING");
    unsetenv("CALLWATCH_LOOMWORK_PORT");
  }
  // callwatch in the test's folder, where its connect.txt and test.txt are.
  std::unique_ptr<RunningProcess> startCallwatch(const std::vector<std::string>& args) {
    std::vector<std::string> all{"--headless", "--messages", folder.file("Messages")};
    all.insert(all.end(), args.begin(), args.end());
    return startProgram(CALLWATCH_BIN, all);
  }
  // A callwatch program (the built one or a copy) in the test's folder, once it watches.
  std::unique_ptr<RunningProcess> startProgram(const std::string& program, const std::vector<std::string>& args) {
    std::vector<std::string> all{"-c", "cd \"$0\" && exec \"$@\"", folder.path(), program};
    all.insert(all.end(), args.begin(), args.end());
    auto p = std::make_unique<RunningProcess>("/bin/sh", all);
    EXPECT_TRUE(p->readUntil([](const ProcessResult& r) { return Has(r.err, "watching"); }, 10000)) << p->soFar().err;
    return p;
  }
  // The "Rings" setting, as the settings dialog writes it.
  void setRings(int rings) {
    ::mkdir(folder.file("config").c_str(), 0755);
    ::mkdir(folder.file("config/Larkspur Soft").c_str(), 0755);
    folder.write("config/Larkspur Soft/Callwatch.conf", "[Settings]\nRings=" + std::to_string(rings) + "\n");
  }
  // A greeting of a tenth of a second, so that message calls go quickly.
  void shortGreeting() {
    const std::string path = folder.file("greeting.wav");
    std::string why;
    ASSERT_TRUE(JWaveFile::writeSamples(path, JWaveFormat::pcm(8000, 1, 16), std::vector<int16_t>(800, 1000), why))
        << why;
    setenv("CALLWATCH_GREETING", path.c_str(), 1);
  }
  // loomwork running the tone receiver's example on a port of its own, which callwatch is told.
  std::unique_ptr<RunningProcess> startLoomwork() {
    const int port = FreePort();
    setenv("CALLWATCH_LOOMWORK_PORT", std::to_string(port).c_str(), 1);
    folder.write("connect.txt", "127.0.0.1\n");
    return std::make_unique<RunningProcess>(
        LOOMWORK_BIN, std::vector<std::string>{"run", kSource + "/examples/tones/tones.lwd", "--modules",
                                               LOOMWORK_MODULES_DIR, "--set", "dtmf.port=" + std::to_string(port)});
  }
  // The names in a folder, byte for byte, sorted.
  static std::vector<std::string> FilesIn(const std::string& path) {
    std::vector<std::string> files;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(path, ec))
      files.push_back(entry.path().filename().string());
    std::sort(files.begin(), files.end());
    return files;
  }
  TempFolder folder{"callwatch-programs"};
};
