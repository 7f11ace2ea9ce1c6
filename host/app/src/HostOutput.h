#pragma once
// The command's standard output: one line per event, written whole.
#include <string>

void hostPrintLine(const std::string& line);
void hostFlush();
