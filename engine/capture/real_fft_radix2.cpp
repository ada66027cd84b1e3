// An iterative radix-2 transform of the kFftSize real samples as complex values, in double.
#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

#include "engine/capture/real_fft.h"
#include "engine/capture/spectrum_analyzer.h"

namespace glimmerix {

static_assert((kFftSize & (kFftSize - 1)) == 0, "radix 2 needs a power of two");

struct RealFft::State {
  std::vector<std::complex<double>> twiddles;  // e^(-2 pi i k / N), k < N / 2
  std::vector<int> reversed;                   // bit-reversed index of each position
  std::vector<std::complex<double>> work;
};

RealFft::RealFft() : state_(std::make_unique<State>()) {
  State& s = *state_;
  s.twiddles.resize(kFftSize / 2);
  for (int k = 0; k < kFftSize / 2; ++k)
    s.twiddles[k] = std::polar(1.0, -2.0 * std::numbers::pi * k / kFftSize);
  s.reversed.resize(kFftSize);
  int bits = 0;
  while ((1 << bits) < kFftSize) ++bits;
  for (int n = 0; n < kFftSize; ++n) {
    int r = 0;
    for (int b = 0; b < bits; ++b) r |= ((n >> b) & 1) << (bits - 1 - b);
    s.reversed[n] = r;
  }
  s.work.resize(kFftSize);
}

RealFft::~RealFft() = default;

void RealFft::Forward(const float* in, float* out) {
  State& s = *state_;
  for (int n = 0; n < kFftSize; ++n) s.work[s.reversed[n]] = in[n];
  for (int length = 2; length <= kFftSize; length <<= 1) {
    const int half = length / 2;
    const int stride = kFftSize / length;
    for (int start = 0; start < kFftSize; start += length) {
      for (int j = 0; j < half; ++j) {
        const std::complex<double> odd = s.work[start + j + half] * s.twiddles[j * stride];
        const std::complex<double> even = s.work[start + j];
        s.work[start + j] = even + odd;
        s.work[start + j + half] = even - odd;
      }
    }
  }
  for (int k = 0; k <= kFftSize / 2; ++k) {
    out[2 * k] = static_cast<float>(s.work[k].real());
    out[2 * k + 1] = static_cast<float>(s.work[k].imag());
  }
}

}  // namespace glimmerix
