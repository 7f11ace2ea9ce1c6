#pragma once
// The provider's wave devices: one input and one output per line, reporting to a hidden window.
// An input records what the caller on its line says, an output plays to the caller; a ticker
// worker moves both along at real pace while any device is open.
#include <cstdint>

#include "base/WaveDefs.h"
#include "platform/Exchange.h"

EXPORT MMRESULT waveInOpen(HWAVEIN* h, uint32_t device, const WAVEFORMATEX* format, uintptr_t callback, uintptr_t,
                           uint32_t flags);
EXPORT MMRESULT waveInPrepareHeader(HWAVEIN h, WAVEHDR* hdr, uint32_t size);
EXPORT MMRESULT waveInUnprepareHeader(HWAVEIN h, WAVEHDR* hdr, uint32_t size);
EXPORT MMRESULT waveInAddBuffer(HWAVEIN h, WAVEHDR* hdr, uint32_t size);
EXPORT MMRESULT waveInStart(HWAVEIN h);
EXPORT MMRESULT waveInReset(HWAVEIN h);
EXPORT MMRESULT waveInClose(HWAVEIN h);
EXPORT MMRESULT waveOutOpen(HWAVEOUT* h, uint32_t device, const WAVEFORMATEX* format, uintptr_t callback, uintptr_t,
                            uint32_t flags);
EXPORT MMRESULT waveOutPrepareHeader(HWAVEOUT h, WAVEHDR* hdr, uint32_t size);
EXPORT MMRESULT waveOutUnprepareHeader(HWAVEOUT h, WAVEHDR* hdr, uint32_t size);
EXPORT MMRESULT waveOutWrite(HWAVEOUT h, WAVEHDR* hdr, uint32_t size);
EXPORT MMRESULT waveOutReset(HWAVEOUT h);
EXPORT MMRESULT waveOutClose(HWAVEOUT h);
