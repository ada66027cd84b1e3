#include "engine/capture/spectrum_analyzer.h"

#include <kissfft/kiss_fftr.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>

namespace glimmerix {

static_assert(sizeof(kiss_fft_cpx) == 2 * sizeof(float), "float KissFFT expected");

void SpectrumAnalyzer::KissFree::operator()(kiss_fftr_state* cfg) const {
  kiss_fftr_free(cfg);
}

SpectrumAnalyzer::SpectrumAnalyzer()
    : cfg_(kiss_fftr_alloc(kFftSize, 0, nullptr, nullptr)),
      window_(kFftSize),
      windowed_(kFftSize),
      spectrum_(2 * (kFftSize / 2 + 1)) {
  if (!cfg_) throw std::bad_alloc();
  for (int n = 0; n < kFftSize; ++n) {
    window_[n] = static_cast<float>(0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * n / kFftSize));
  }
}

SpectrumAnalyzer::~SpectrumAnalyzer() = default;

void SpectrumAnalyzer::Analyze(const float* samples, float* magnitudes) {
  for (int n = 0; n < kFftSize; ++n) {
    const float s = samples[n];
    windowed_[n] =
        std::isfinite(s) ? std::clamp(s, -kSampleLimit, kSampleLimit) * window_[n] : 0.0f;
  }
  auto* bins = reinterpret_cast<kiss_fft_cpx*>(spectrum_.data());
  kiss_fftr(cfg_.get(), windowed_.data(), bins);
  for (int k = 0; k < kSpectrumBins; ++k) {
    const double re = bins[k].r, im = bins[k].i;  // double: no overflow for any float input
    magnitudes[k] = static_cast<float>(std::sqrt(re * re + im * im) * kMagnitudeScale);
  }
}

}  // namespace glimmerix
