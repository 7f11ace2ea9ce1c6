// Runs the real lwd2html binary in a fresh temp directory per test; unit-tests the naming.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <sys/wait.h>

#include "Converter.h"

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

std::string reference(const std::string& bytes) {  // plain byte-at-a-time layout
  std::string s;
  char d[8];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(d, sizeof d, "%03d", static_cast<unsigned char>(bytes[i]));
    s += i % 10 == 9 ? d + "\n"s : d;
  }
  return s;
}

std::string page(const std::string& title, const std::string& body) {
  return "<HTML>\n<TITLE>" + title + "</TITLE>\n<BODY>\n" + body + "</BODY>\n</HTML>\n";
}

struct Result {
  int status = -1;
  std::string out;
};

class Lwd2Html : public testing::Test {
protected:
  void SetUp() override {
    std::string tmpl = fs::temp_directory_path() / "lwd2html_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  // Runs the binary inside the temp dir with `args` (shell words). Files it writes are capped
  // at 64 MiB or more, so a fault that feeds the output back into the input cannot fill the disk.
  Result run(const std::string& args) {
    Result r;
    std::string cmd = "cd '" + dir_.string() + "' && ulimit -f 131072 && exec '" LWD2HTML_BIN "' ";
    FILE* p = popen((cmd + args).c_str(), "r");
    if (!p) return r;
    char buf[4096];
    for (std::size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) r.out.append(buf, n);
    int st = pclose(p);
    if (WIFEXITED(st)) r.status = WEXITSTATUS(st);
    return r;
  }
  void put(const std::string& name, const std::string& bytes) {
    fs::create_directories((dir_ / name).parent_path());
    std::ofstream(dir_ / name, std::ios::binary) << bytes;
  }
  std::string get(const std::string& name) {
    std::ostringstream s;
    s << std::ifstream(dir_ / name, std::ios::binary).rdbuf();
    return s.str();
  }
  fs::path dir_;
};

TEST(OutputName, CutsFileNameAtFirstDot) {
  EXPECT_EQ(lwd2html::outputName("diagram.lwd"), "diagram_lwd.html");
  EXPECT_EQ(lwd2html::outputName("dir/x.v2.lwd"), "dir/x_lwd.html");
  EXPECT_EQ(lwd2html::outputName("../pages/a.lwd"), "../pages/a_lwd.html");
  EXPECT_EQ(lwd2html::outputName("./a.b/noext"), "./a.b/noext_lwd.html");
  EXPECT_EQ(lwd2html::outputName("noext"), "noext_lwd.html");
  EXPECT_EQ(lwd2html::outputName("dir/.hidden"), "dir/_lwd.html");
}

TEST_F(Lwd2Html, LineLayoutFor12And10And0Bytes) {
  const std::string ten = "\x00\x01\x09\x0a\x63\x64\xc7\xc8\xfe\xff"s;
  const std::string line = "000001009010099100199200254255\n";
  for (auto [bytes, body] : {std::pair{ten + "AB", line + "065066"}, {ten, line}, {""s, ""s}}) {
    put("d.lwd", bytes);
    Result r = run("d.lwd");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "createOutFile for 'd.lwd'\nCreated HTML file 'd_lwd.html'\n");
    EXPECT_EQ(get("d_lwd.html"), page("d.lwd", body)) << bytes.size() << " bytes";
  }
}

TEST_F(Lwd2Html, AllByteValuesTitleEscapedLongPathExtraArgsIgnored) {
  std::string all;
  for (int v = 255; v >= 0; --v) all += static_cast<char>(v);
  std::string folders = "s.b/";
  for (char c : "defgh"s) folders += std::string(250, c) + "/";  // path of ~1250 characters
  const std::string name = folders + "a<b>&\"c\t\xff";
  put(name + ".v2.lwd", all);
  Result r = run("'" + name + ".v2.lwd' ignored too");
  EXPECT_EQ(r.status, 0);
  // Messages quote the path as it is; only the page's title is HTML.
  EXPECT_EQ(r.out, "createOutFile for '" + name + ".v2.lwd'\nCreated HTML file '" + name + "_lwd.html'\n");
  EXPECT_EQ(get(name + "_lwd.html"), page(folders + "a&lt;b&gt;&amp;&quot;c\t\xff.v2.lwd", reference(all)));
}

// A path that closes the title and opens a script stays text in the title.
TEST_F(Lwd2Html, TitleCannotOpenMarkup) {
  const std::string name = "a</TITLE><script>alert(1)</script>.lwd";
  put(name, "x");
  Result r = run("'" + name + "'");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "createOutFile for '" + name + "'\nCreated HTML file 'a</TITLE><script>alert(1)</script>_lwd.html'\n");
  EXPECT_EQ(get("a</TITLE><script>alert(1)</script>_lwd.html"),
            "<HTML>\n<TITLE>a&lt;/TITLE&gt;&lt;script&gt;alert(1)&lt;/script&gt;.lwd</TITLE>\n<BODY>\n120</BODY>\n</HTML>\n");
  EXPECT_EQ(lwd2html::titleText("&amp;"), "&amp;amp;");  // an entity in a name is text, escaped again
}

TEST_F(Lwd2Html, OpenFailuresExitOneAndSpareExistingFiles) {
  Result none = run("2>usage.txt");
  EXPECT_EQ(none.out, "didn't get filename\n");
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(get("usage.txt"), "usage: lwd2html FILE\n");  // beside the message, on standard error
  put("gone_lwd.html", "keep");
  fs::create_directories(dir_ / "adir.lwd");
  put("in.lwd", "data");
  fs::create_directories(dir_ / "in_lwd.html");
  put("same", "data");
  fs::create_hard_link(dir_ / "same", dir_ / "same_lwd.html");
  // missing input (with/without a page), directory input, output uncreatable, output is input
  for (std::string in : {"gone.lwd", "never.lwd", "adir.lwd", "in.lwd", "same"}) {
    Result r = run(in);
    EXPECT_EQ(r.status, 1) << in;
    EXPECT_EQ(r.out, "createOutFile for '" + in + "'\ncouldn't open in or out file\n");
  }
  EXPECT_EQ(get("gone_lwd.html"), "keep");
  EXPECT_FALSE(fs::exists(dir_ / "never_lwd.html") || fs::exists(dir_ / "adir_lwd.html"));
  EXPECT_EQ(fs::file_size(dir_ / "same"), 4u);  // the input survived
}

TEST_F(Lwd2Html, ReadAndWriteErrorsExitOne) {
  put("w.lwd", std::string(100, 'w'));
  fs::create_symlink("/dev/full", dir_ / "w_lwd.html");
  Result r = run("w.lwd");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "createOutFile for 'w.lwd'\ncouldn't write out file\n");
  fs::create_symlink("/proc/self/mem", dir_ / "mem");  // reading offset 0 fails with EIO
  r = run("mem");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "createOutFile for 'mem'\ncouldn't read in file\n");
}

TEST_F(Lwd2Html, LargeFileMatchesReference) {
  std::mt19937 rng(42);
  std::string big((3 << 20) + 7, '\0');  // several 1 MiB blocks, not a multiple of ten
  for (char& c : big) c = static_cast<char>(rng());
  put("big.lwd", big);
  EXPECT_EQ(run("big.lwd").status, 0);
  EXPECT_TRUE(get("big_lwd.html") == page("big.lwd", reference(big)));  // no 10 MB diff dump
}

}  // namespace
