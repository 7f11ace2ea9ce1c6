#pragma once
#include <string>

typedef struct _MSFactory MSFactory;

namespace sipline {
// Adds the in-memory sound card of a line to a stack's media factory; its id.
std::string AddLineSoundCard(MSFactory* factory, int line);
// Before the stack's factory goes.
void ForgetLineSoundCard(MSFactory* factory);
}  // namespace sipline
