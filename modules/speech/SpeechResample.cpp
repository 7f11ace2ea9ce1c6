#include "SpeechResample.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace speech {

std::vector<int16_t> resample(const std::vector<int16_t>& in, int from, int to) {
  if (from <= 0 || to <= 0 || from == to || in.empty()) return in;
  constexpr int kHalf = 16;  // taps on each side
  const double pi = 3.14159265358979323846;
  const double step = static_cast<double>(from) / to;
  const double cutoff = 0.95 * std::min(1.0, 1.0 / step);  // of the input's Nyquist frequency
  const size_t outCount = static_cast<size_t>(static_cast<double>(in.size()) / step);
  std::vector<int16_t> out(outCount);
  for (size_t i = 0; i < outCount; ++i) {
    const double t = static_cast<double>(i) * step;
    const long centre = static_cast<long>(t);
    double sum = 0, weights = 0;
    for (long k = centre - kHalf + 1; k <= centre + kHalf; ++k) {
      const double x = t - static_cast<double>(k);
      const double arg = pi * cutoff * x;
      const double sinc = std::abs(x) < 1e-9 ? 1.0 : std::sin(arg) / arg;
      const double window = 0.5 + 0.5 * std::cos(pi * x / kHalf);
      const double w = cutoff * sinc * (std::abs(x) < kHalf ? window : 0.0);
      weights += w;
      if (k >= 0 && k < static_cast<long>(in.size())) sum += w * in[static_cast<size_t>(k)];
    }
    // Normalised by the weights of every tap, on the signal or past its ends: a constant signal
    // stays constant away from the ends.
    const double v = sum / (weights != 0 ? weights : 1);
    out[i] = static_cast<int16_t>(std::max(-32768.0, std::min(32767.0, std::round(v))));
  }
  return out;
}

}  // namespace speech
