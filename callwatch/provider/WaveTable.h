#pragma once
// The wave device entry points both providers export under their own names: one input and one
// output per line, numbered as the line, reporting to a hidden window.
#include <cstdint>

#include "base/WaveDefs.h"
#include "provider/Provider.h"

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
