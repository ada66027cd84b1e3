#include "engine/capture/spectrum_analyzer.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace glimmerix {

SpectrumAnalyzer::SpectrumAnalyzer()
    : window_(kFftSize), windowed_(kFftSize), spectrum_(2 * (kFftSize / 2 + 1)) {
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
  fft_.Forward(windowed_.data(), spectrum_.data());
  for (int k = 0; k < kSpectrumBins; ++k) {
    // double: no overflow for any float input
    const double re = spectrum_[2 * k], im = spectrum_[2 * k + 1];
    magnitudes[k] = static_cast<float>(std::sqrt(re * re + im * im) * kMagnitudeScale);
  }
}

}  // namespace glimmerix
