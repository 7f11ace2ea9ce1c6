#pragma once
// Callwatch without its window: watches every line, prints one line per change of a call record
// on standard output and every message box on standard error, until SIGINT or SIGTERM. The
// program's exit status.
class CCallwatchSession;

int RunHeadless(CCallwatchSession& session);
