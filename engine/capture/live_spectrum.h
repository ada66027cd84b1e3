// The fetch of each engine pass over a recording that arrives in blocks: the newest 4096 samples
// through the SpectrumAnalyzer, or silence (all zeros) while nothing fresh has arrived.
//
// The recording is silence, never the last sound repeated, when
//   - no stream is live (before the first stream, between a lost stream and its reopening), or
//   - the live stream has delivered nothing yet, or nothing for more than kStallSilence.
// While fewer than 4096 samples have arrived since the stream began, zeros stand before them.
//
// Threads: one writer at a time (the audio callback while a stream runs, or whoever collects
// under the owner's lock; the opening thread calls BeginStream/EndStream while no delivery can
// run) and one fetching thread (the engine).
// Deliver() and Fetch() never block and never allocate. Times are steady-clock time points passed
// in by the caller, so recorded samples can be replayed at their own pace.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>

#include "engine/capture/sample_ring.h"
#include "engine/capture/spectrum_analyzer.h"

namespace glimmerix {

class LiveSpectrum {
 public:
  using Clock = std::chrono::steady_clock;
  // A stream that has delivered nothing for this long reads as silence.
  static constexpr std::chrono::milliseconds kStallSilence{250};
  // Ring capacity in samples: about 1.5 s, far more than one fetch needs.
  static constexpr std::size_t kRingSamples = 1u << 15;

  LiveSpectrum();

  // Writer, while no callback runs: a new stream starts; samples of older streams are forgotten.
  void BeginStream();
  // Any thread: the stream is gone; fetches read silence until the next BeginStream().
  void EndStream() { live_.store(false, std::memory_order_release); }

  // Writer (the audio callback): samples arrived at time now.
  void Deliver(const float* samples, std::size_t count, Clock::time_point now);

  // Any thread: when the live stream last delivered; Clock::time_point{} if it has delivered
  // nothing since BeginStream().
  Clock::time_point last_delivery() const;

  // Fetching thread: kSpectrumBins magnitudes into fft, as of time now.
  void Fetch(float* fft, Clock::time_point now);

  // Any thread: whether a Fetch at time now reads real samples (not silence).
  bool fresh(Clock::time_point now) const;

  // Any thread, alongside the writer and the fetching thread: samples delivered since
  // construction, and a copy of the newest count of them (see SampleRing::ReadNewest).
  std::uint64_t delivered() const { return ring_.written(); }
  std::size_t ReadNewest(float* out, std::size_t count) const {
    return ring_.ReadNewest(out, count);
  }

 private:
  SampleRing ring_;
  SpectrumAnalyzer analyzer_;
  std::array<float, kFftSize> samples_{};     // fetching thread's scratch
  std::atomic<bool> live_{false};             // a stream is live (set by the writer side)
  std::atomic<Clock::rep> last_delivery_{0};  // steady-clock ticks of the last delivery; 0: none
};

}  // namespace glimmerix
