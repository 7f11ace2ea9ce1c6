#pragma once
// Debugger output: Callwatch's traces of things that go wrong quietly. Written to standard error
// unless a listener is put in place. Safe to call from any thread.
#include <functional>
#include <string>

void OutputDebug(const std::string& text);
void SetDebugOutput(std::function<void(const std::string&)> listener);  // empty: standard error
