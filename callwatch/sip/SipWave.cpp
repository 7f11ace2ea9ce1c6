// The SIP lines' side of the wave devices (the table itself is shared: WaveTable.cpp). The
// output's buffers are sent to the caller through the line's sound card as the stack asks for
// samples; the input's buffers fill with what the caller says.
#include <algorithm>
#include <cstring>

#include "provider/WaveHooks.h"
#include "sip/SipState.h"

using namespace sipline;

namespace sipline {

void TakeSamplesForCaller(int line, int16_t* out, size_t count) {
  size_t done = 0;
  WaveDevice* d = DeviceOf(line, false);
  const uint32_t handle = d ? HandleOf(d) : 0;
  while (d && done < count && !d->queue.empty()) {
    WAVEHDR* h = d->queue.front();
    const size_t total = h->dwBufferLength / 2;
    const size_t n = std::min(count - done, total - std::min(total, d->delivered));
    std::memcpy(out + done, h->lpData + 2 * d->delivered, 2 * n);
    done += n;
    d->delivered += n;
    if (d->delivered >= total) FinishFront(*d, handle);
  }
  std::fill(out + done, out + count, int16_t{0});
}

void GiveSamplesFromCaller(int line, const int16_t* in, size_t count) {
  WaveDevice* d = DeviceOf(line, true);
  if (!d || !d->started) return;
  const uint32_t handle = HandleOf(d);
  size_t done = 0;
  while (done < count && !d->queue.empty()) {
    WAVEHDR* h = d->queue.front();
    const size_t room = (h->dwBufferLength - std::min(h->dwBufferLength, h->dwBytesRecorded)) / 2;
    const size_t n = std::min(room, count - done);
    std::memcpy(h->lpData + h->dwBytesRecorded, in + done, 2 * n);
    h->dwBytesRecorded += static_cast<uint32_t>(2 * n);
    done += n;
    if (h->dwBufferLength - h->dwBytesRecorded < 2) FinishFront(*d, handle);
  }
}

}  // namespace sipline

// The stack's media threads move the audio: nothing to do as devices come and go.
namespace provider {

int WaveLineCount() { return static_cast<int>(g_lines.size()); }
void WaveOpened() {}
void WaveClosed() {}
void WaveQueued(WaveDevice&, bool) {}
void WaveStarted(WaveDevice&) {}
void WaveResetting(uint32_t, WaveDevice&) {}
void WaveWasReset(WaveDevice&) {}

}  // namespace provider
