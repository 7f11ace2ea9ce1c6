#pragma once
// What the digit link's tests share: a folder of their own for "connect.txt" and "test.txt", the
// pause between tries recorded instead of slept, and the link ended after each test.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "link/DigitLink.h"

class DigitLinkFixture : public ::testing::Test {
protected:
  void SetUp() override {
    char folderTemplate[] = "/tmp/digitlink-XXXXXX";
    ASSERT_NE(mkdtemp(folderTemplate), nullptr);
    folder = folderTemplate;
    link.Setup().folder = folder;
    link.Setup().pause = [this](int ms) { pauses.push_back(ms); };
  }

  void TearDown() override {
    link.EndDataToLoomwork();
    ::unlink((folder + "/connect.txt").c_str());
    ::unlink((folder + "/test.txt").c_str());
    ::rmdir(folder.c_str());
  }

  void writeConnectFile(const std::string& text) {
    std::ofstream f(folder + "/connect.txt", std::ios::binary | std::ios::trunc);
    f << text;
  }

  // The trace file's lines; a last line without a line end counts too.
  std::vector<std::string> traceLines() const {
    std::ifstream f(folder + "/test.txt", std::ios::binary);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(f, line)) lines.push_back(line);
    return lines;
  }

  bool traceHas(const std::string& line) const {
    for (const auto& l : traceLines())
      if (l == line) return true;
    return false;
  }

  int traceCount(const std::string& line) const {
    int n = 0;
    for (const auto& l : traceLines()) n += l == line;
    return n;
  }

  CDigitLink link;
  std::string folder;
  std::vector<int> pauses;
};
