// The cost of one spectrum fetch: window, 4096-point real FFT and 2048 magnitudes, alone and
// with the read of the newest samples from the capture ring.
#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "engine/capture/live_spectrum.h"
#include "engine/capture/spectrum_analyzer.h"

namespace glimmerix {
namespace {

std::vector<float> Music() {
  std::vector<float> s(kFftSize);
  for (int n = 0; n < kFftSize; ++n) {
    const double t = static_cast<double>(n) / kSampleRate;
    s[n] = static_cast<float>(0.3 * std::sin(2 * std::numbers::pi * 110 * t) +
                              0.2 * std::sin(2 * std::numbers::pi * 1234 * t) +
                              0.1 * std::sin(2 * std::numbers::pi * 5555 * t));
  }
  return s;
}

void BM_Analyze(benchmark::State& state) {
  SpectrumAnalyzer analyzer;
  const auto samples = Music();
  std::vector<float> fft(kSpectrumBins);
  for (auto _ : state) {
    analyzer.Analyze(samples.data(), fft.data());
    benchmark::DoNotOptimize(fft.data());
  }
}
BENCHMARK(BM_Analyze);

void BM_LiveFetch(benchmark::State& state) {
  LiveSpectrum live;
  const auto samples = Music();
  live.BeginStream();
  const auto now = LiveSpectrum::Clock::now();
  live.Deliver(samples.data(), samples.size(), now);
  std::vector<float> fft(kSpectrumBins);
  for (auto _ : state) {
    live.Fetch(fft.data(), now);
    benchmark::DoNotOptimize(fft.data());
  }
}
BENCHMARK(BM_LiveFetch);

}  // namespace
}  // namespace glimmerix
