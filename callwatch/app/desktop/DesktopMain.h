#pragma once
// Callwatch with its window, once the session is configured from the command line: runs until
// the window is closed; the program's exit status.
class CCallwatchSession;

int RunDesktop(int argc, char** argv, CCallwatchSession& session);
