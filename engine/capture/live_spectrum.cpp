#include "engine/capture/live_spectrum.h"

#include <algorithm>

namespace glimmerix {

LiveSpectrum::LiveSpectrum() : ring_(kRingSamples) {}

void LiveSpectrum::BeginStream() {
  ring_.Restart();
  last_delivery_.store(0, std::memory_order_relaxed);
  live_.store(true, std::memory_order_release);
}

void LiveSpectrum::Deliver(const float* samples, std::size_t count, Clock::time_point now) {
  if (count == 0) return;
  ring_.Write(samples, count);
  // Never 0, which means "nothing delivered".
  last_delivery_.store(std::max<Clock::rep>(now.time_since_epoch().count(), 1),
                       std::memory_order_release);
}

LiveSpectrum::Clock::time_point LiveSpectrum::last_delivery() const {
  return Clock::time_point(Clock::duration(last_delivery_.load(std::memory_order_acquire)));
}

bool LiveSpectrum::fresh(Clock::time_point now) const {
  if (!live_.load(std::memory_order_acquire)) return false;
  const Clock::rep last = last_delivery_.load(std::memory_order_acquire);
  return last != 0 && now - Clock::time_point(Clock::duration(last)) <= kStallSilence;
}

void LiveSpectrum::Fetch(float* fft, Clock::time_point now) {
  if (!fresh(now)) {
    std::fill(fft, fft + kSpectrumBins, 0.0f);
    return;
  }
  ring_.ReadNewest(samples_.data(), samples_.size());
  analyzer_.Analyze(samples_.data(), fft);
}

}  // namespace glimmerix
