#pragma once
// Sample-rate conversion for the speech layer's audio.
#include <cstdint>
#include <vector>

namespace speech {

// Mono samples from one rate to another, through a windowed-sinc low-pass at the lower Nyquist
// frequency. Rates that are not both above 0, or equal, give the input back.
std::vector<int16_t> resample(const std::vector<int16_t>& in, int from, int to);

}  // namespace speech
