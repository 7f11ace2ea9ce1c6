// SIP lines: the settings' [SipLines], registration, two lines at once, and bad input.
#include "tests/sip/SipFixture.h"

namespace {
}  // namespace
