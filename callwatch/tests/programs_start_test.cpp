// How callwatch and phonesim start: where messages go when the program's own folder cannot be
// written, no display, a second callwatch on the same control socket, help and version.
#include <sys/stat.h>

#include <filesystem>

#include "tests/ProgramsFixture.h"

namespace {

// Environment variables a test changes, put back afterwards.
class SavedEnvironment {
public:
  explicit SavedEnvironment(std::vector<std::string> names) {
    for (auto& name : names) {
      const char* v = std::getenv(name.c_str());
      saved_.push_back({name, v ? std::optional<std::string>(v) : std::nullopt});
    }
  }
  ~SavedEnvironment() {
    for (auto& [name, value] : saved_) value ? (void)setenv(name.c_str(), value->c_str(), 1) : (void)unsetenv(name.c_str());
  }

private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

class StartTest : public ProgramsTest {
protected:
  // A copy of callwatch in a folder of its own, as an installation has it: "Messages" beside it is
  // a file here, so that no folder can be made there (whoever runs the test).
  std::string installedCopy() {
    std::filesystem::create_directories(folder.file("prefix/bin"));
    const std::string copy = folder.file("prefix/bin/callwatch");
    std::filesystem::copy_file(CALLWATCH_BIN, copy);
    ::chmod(copy.c_str(), 0755);
    folder.write("prefix/bin/Messages", "not a folder");
    return copy;
  }
  SavedEnvironment environment{{"HOME", "XDG_DATA_HOME", "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}};
};

TEST_F(StartTest, MessagesGoToTheUsersDataFolderWhenTheProgramsFolderCannotBeWritten) {
  setRings(1);
  shortGreeting();
  const std::string program = installedCopy();
  setenv("XDG_DATA_HOME", folder.file("data").c_str(), 1);
  const std::string user = folder.file("data/Callwatch/Messages");
  {
    auto callwatch = startProgram(program, {"--headless"});
    EXPECT_TRUE(Has(callwatch->soFar().err, "messages in " + user + ";")) << callwatch->soFar().err;
    const ProcessResult call = runProcess(PHONESIM_BIN,
                                          {"call", "--line", "0", "--name", "VUD VEROD", "--ring-ms", "100",
                                           "--digits", "*", "--digit-ms", "50", "--hangup-ms", "100"},
                                          15000);
    EXPECT_TRUE(Has(call.out, "answered")) << call.out;
    callwatch->signal(SIGTERM);
    EXPECT_EQ(callwatch->finish(10000).status, 0);
    const std::vector<std::string> files = FilesIn(user);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].rfind("VUD VEROD ", 0), 0u) << files[0];
  }
  // Without XDG_DATA_HOME: ~/.local/share, made with its parents.
  unsetenv("XDG_DATA_HOME");
  setenv("HOME", folder.file("home").c_str(), 1);
  {
    auto callwatch = startProgram(program, {"--headless"});
    EXPECT_TRUE(Has(callwatch->soFar().err, "messages in " + folder.file("home/.local/share/Callwatch/Messages;")))
        << callwatch->soFar().err;
    callwatch->signal(SIGTERM);
    EXPECT_EQ(callwatch->finish(10000).status, 0);
  }
  // --help names both places for this installation.
  const ProcessResult help = runProcess(program, {"--help"}, 5000);
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(Has(help.out, folder.file("prefix/bin/Messages"))) << help.out;
  EXPECT_TRUE(Has(help.out, folder.file("home/.local/share/Callwatch/Messages"))) << help.out;
}

TEST_F(StartTest, WithNoMessagesFolderToWriteItSaysSoOnceAndTakesNoMessageCall) {
  setRings(1);
  const std::string program = installedCopy();
  folder.write("file", "a file, not a folder");
  setenv("XDG_DATA_HOME", folder.file("file/data").c_str(), 1);
  auto callwatch = startProgram(program, {"--headless"});
  const ProcessResult call =
      runProcess(PHONESIM_BIN, {"call", "--line", "0", "--rings", "3", "--ring-ms", "150", "--digits", "1*"}, 15000);
  EXPECT_EQ(call.status, 0) << call.err;
  EXPECT_EQ(call.outLines(), (std::vector<std::string>{"offered", "rung 1", "rung 2", "rung 3", "dropped", "idle"}));
  callwatch->signal(SIGTERM);
  const ProcessResult cw = callwatch->finish(10000);
  EXPECT_EQ(cw.status, 0);
  const std::string said = "callwatch: no messages folder can be written (tried " + folder.file("prefix/bin/Messages") +
                           ", " + folder.file("file/data/Callwatch/Messages") +
                           "); no call is taken as a message call\n";
  EXPECT_EQ(CountOf(cw.err, said), 1u) << cw.err;
  EXPECT_TRUE(Has(cw.err, "messages in (none);"));
  EXPECT_FALSE(Has(cw.out, "Connect")) << cw.out;
  // An explicit --messages that cannot be written is the only place tried.
  auto given = startProgram(program, {"--headless", "--messages", folder.file("file/Messages")});
  EXPECT_TRUE(Has(given->soFar().err, "(tried " + folder.file("file/Messages") + "); no call")) << given->soFar().err;
  given->signal(SIGTERM);
  EXPECT_EQ(given->finish(10000).status, 0);
}

TEST_F(StartTest, WithoutADisplayTheWindowIsRefusedWithOneLine) {
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  unsetenv("QT_QPA_PLATFORM");
  ProcessResult r = runProcess(CALLWATCH_BIN, {"--messages", folder.file("Messages")}, 10000);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "callwatch: no display; run with --headless or set DISPLAY\n");
  // A display that cannot be reached.
  setenv("DISPLAY", ":4711", 1);
  r = runProcess(CALLWATCH_BIN, {"--messages", folder.file("Messages")}, 10000);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "callwatch: cannot open display :4711; run with --headless or set DISPLAY\n");
  // --headless needs none.
  unsetenv("DISPLAY");
  auto headless = startCallwatch({});
  headless->signal(SIGTERM);
  EXPECT_EQ(headless->finish(10000).status, 0);
}

TEST_F(StartTest, ASecondCallwatchOnTheSameControlSocketIsRefusedAndTheFirstGoesOn) {
  auto first = startCallwatch({});
  const std::string said =
      "callwatch: another callwatch is running on the control socket " + folder.file("phonesim.sock") + "\n";
  ProcessResult second = runProcess(CALLWATCH_BIN, {"--headless", "--messages", folder.file("Messages")}, 10000);
  EXPECT_EQ(second.status, 2);
  EXPECT_EQ(second.err, said);
  setenv("QT_QPA_PLATFORM", "offscreen", 1);  // the window likewise
  second = runProcess(CALLWATCH_BIN, {"--messages", folder.file("Messages")}, 10000);
  EXPECT_EQ(second.status, 2);
  EXPECT_EQ(second.err, said);
  // The first still hears every call.
  const ProcessResult call = runProcess(PHONESIM_BIN, {"call", "--line", "1", "--rings", "1", "--ring-ms", "100"}, 10000);
  EXPECT_EQ(call.status, 0) << call.err;
  EXPECT_TRUE(first->readUntil([](const ProcessResult& r) { return Has(r.out, "call 1: "); }, 5000));
  first->signal(SIGTERM);
  EXPECT_EQ(first->finish(10000).status, 0);
  // Once it has gone, its socket file left behind does not count.
  auto again = startCallwatch({});
  again->signal(SIGTERM);
  EXPECT_EQ(again->finish(10000).status, 0);
}

TEST_F(StartTest, HelpAndVersionListTheOptionsAndTheEnvironment) {
  ProcessResult r = runProcess(CALLWATCH_BIN, {"--help"}, 5000);
  EXPECT_EQ(r.status, 0);
  for (const char* word : {"--headless", "--messages DIR", "END-SEQUENCE", "--version", "CALLWATCH_LOOMWORK_PORT",
                           "CALLWATCH_TELEPHONY", "CALLWATCH_GREETING", "PHONESIM_SOCKET", "PHONESIM_LINES",
                           "PHONESIM_VOICE_ONLY_LINES", "PHONESIM_LOCATION", "XDG_DATA_HOME", "DISPLAY", "test.txt",
                           "connect.txt", "/Callwatch/Messages"})
    EXPECT_TRUE(Has(r.out, word)) << word;
  r = runProcess(CALLWATCH_BIN, {"--version"}, 5000);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("callwatch 1.", 0), 0u) << r.out;

  r = runProcess(PHONESIM_BIN, {"--help"}, 5000);
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(Has(r.out, "phonesim call")) << r.out;
  EXPECT_TRUE(Has(r.out, "PHONESIM_SOCKET"));
  r = runProcess(PHONESIM_BIN, {"--version"}, 5000);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("phonesim 1.", 0), 0u) << r.out;
  // phonesim call --help lists every option phonesim call takes.
  for (const std::vector<std::string>& args : {std::vector<std::string>{"call", "--help"}, {"call", "--line", "0", "--help"}}) {
    r = runProcess(PHONESIM_BIN, args, 5000);
    EXPECT_EQ(r.status, 0);
    for (const char* option : {"--line N", "--name TEXT", "--number TEXT", "--blocked", "--outbound", "--rings N",
                               "--ring-ms MS", "--audio FILE.wav", "--digits TEXT", "--digit-ms MS",
                               "--answer-elsewhere", "--hangup-ms MS", "1024", "PHONESIM_SOCKET", "PHONESIM_LINES"})
      EXPECT_TRUE(Has(r.out, option)) << option;
  }
  r = runProcess(PHONESIM_BIN, {}, 5000);
  EXPECT_EQ(r.status, 2);
}

}  // namespace
