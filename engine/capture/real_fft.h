// The forward real transform behind SpectrumAnalyzer: kFftSize samples in, kFftSize / 2 + 1
// complex bins out (interleaved re, im; unscaled: a DC of 1.0 reads kFftSize in bin 0). Linux
// uses KissFFT (real_fft_kiss.cpp); where KissFFT is not built for the target, the project's own
// radix-2 transform (real_fft_radix2.cpp) gives the same bins to float precision.
//
// Threads: one thread at a time. Allocates only in the constructor; Forward() allocates nothing.
#pragma once

#include <memory>

namespace glimmerix {

class RealFft {
 public:
  RealFft();
  ~RealFft();
  RealFft(const RealFft&) = delete;
  RealFft& operator=(const RealFft&) = delete;

  // in: kFftSize values; out: 2 * (kFftSize / 2 + 1) values. The two may not overlap.
  void Forward(const float* in, float* out);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace glimmerix
