#pragma once
// Callwatch with its window, once the call screens are set up from the command line: runs until
// the window is closed; the program's exit status.
int RunDesktop(int argc, char** argv);
