#pragma once
// How audio moves differs between providers: each defines these, and the shared wave table
// (WaveTable.cpp) calls them. Called with g_mutex held unless said otherwise.
#include <cstdint>

#include "provider/Provider.h"

namespace provider {

// How many lines have wave devices now.
int WaveLineCount();
// Without g_mutex: a device was opened, or one was closed.
void WaveOpened();
void WaveClosed();
// A buffer joined the device's queue; first: the queue was empty before.
void WaveQueued(WaveDevice& d, bool first);
// An input starts recording (it was not).
void WaveStarted(WaveDevice& d);
// A reset is about to return the queued buffers (before), or has returned them (after).
void WaveResetting(uint32_t handle, WaveDevice& d);
void WaveWasReset(WaveDevice& d);

}  // namespace provider
