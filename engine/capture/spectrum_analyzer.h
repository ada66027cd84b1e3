// The spectrum of one 4096-sample stretch of the mono 22050 Hz recording, as the engine reads it:
// a periodic Hann window, a 4096-point real FFT and the magnitudes of bins 0..2047, bin k at
// k * 22050 / 4096 Hz, scaled by kMagnitudeScale.
//
// Threads: an analyzer is used by one thread at a time (it owns its scratch buffers). It allocates
// only in its constructor; Analyze() allocates nothing and never blocks.
#pragma once

#include <memory>
#include <vector>

#include "engine/capture/real_fft.h"
#include "engine/ports.h"

namespace glimmerix {

inline constexpr int kSampleRate = 22050;  // Hz, mono
inline constexpr int kFftSize = 4096;      // samples per spectrum
static_assert(kFftSize / 2 == kSpectrumBins);

// 2/N: a full-scale sine centred on a bin reads 0.5 there (the Hann window's coherent gain of 1/2
// times the one-sided 2/N), its whole spectrum adds up to 1.0, and a DC of 1.0 reads 1.0 in bin 0
// and 0.5 in bin 1. The analysis constants (silence at a total of 0.01, the gain numerator 6, the
// Rnd gate 0.25) were tuned on this scale: change it and the lights change.
inline constexpr float kMagnitudeScale = 2.0f / kFftSize;
// Samples beyond this magnitude (full scale is 1.0) are garbage from a device, limited so the
// transform cannot overflow.
inline constexpr float kSampleLimit = 1000.0f;

class SpectrumAnalyzer {
 public:
  SpectrumAnalyzer();
  ~SpectrumAnalyzer();
  SpectrumAnalyzer(const SpectrumAnalyzer&) = delete;
  SpectrumAnalyzer& operator=(const SpectrumAnalyzer&) = delete;

  // samples: kFftSize values, oldest first (a value that is not finite counts as 0, one beyond
  // +-kSampleLimit as that limit).
  // magnitudes: receives kSpectrumBins values. The two may not overlap.
  void Analyze(const float* samples, float* magnitudes);

 private:
  RealFft fft_;
  std::vector<float> window_;    // periodic Hann, kFftSize values
  std::vector<float> windowed_;  // scratch: the windowed samples
  std::vector<float> spectrum_;  // scratch: kFftSize / 2 + 1 complex values, interleaved re, im
};

}  // namespace glimmerix
