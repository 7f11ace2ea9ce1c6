// The telephony provider's control messages: any line is either refused with a reason or read
// into a request that writes back as a line reading the same.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/ControlProtocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string line(reinterpret_cast<const char*>(data), size);
  CCallRequest request;
  std::string error;
  if (!ParseCallRequest(line, &request, &error)) {
    if (error.empty() || error.size() > 64) std::abort();
    return 0;
  }
  if (request.line < 0 || request.name.size() > kMostCallerText || request.number.size() > kMostCallerText ||
      request.digits.size() > kMostDigits || request.ringMs > kMostMs || request.rings > kMostRings)
    std::abort();
  CCallRequest again;
  if (!ParseCallRequest(FormatCallRequest(request), &again, &error)) std::abort();
  if (again.line != request.line || again.name != request.name || again.number != request.number ||
      again.audio != request.audio || again.digits != request.digits || again.blocked != request.blocked ||
      again.outbound != request.outbound || again.answerElsewhere != request.answerElsewhere ||
      again.rings != request.rings || again.ringMs != request.ringMs || again.digitMs != request.digitMs ||
      again.hangupMs != request.hangupMs)
    std::abort();
  std::string decoded;
  if (!PercentDecode(PercentEncode(line), &decoded) || decoded != line) std::abort();
  return 0;
}
