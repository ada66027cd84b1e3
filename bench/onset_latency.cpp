// Onset-to-light delay through the sound server: 24 tone bursts played into the private sink of
// scripts/with-test-services and recorded by the live capture while the engine runs its passes.
// Prints the delays' median, p95, minimum and maximum beside the floor the analysis itself sets,
// computed on the same tone without any sound server. Exit code 1 when the run fails or fewer
// than 20 onsets lit the channel within a second.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <vector>

#include "engine/capture/live_spectrum.h"
#include "tests/support/onset_to_light.h"
#include "tests/support/sound_server.h"

namespace {

using namespace glimmerix;
using Clock = std::chrono::steady_clock;

// How many ms of tone the newest window must hold before a pass lights the channel, with the
// same settings, on synthetic samples; -1 when 200 ms are not enough.
double AnalysisFloorMs() {
  for (int ms = 0; ms <= 200; ++ms) {
    const int tone_samples = std::min(ms * kSampleRate / 1000, kFftSize);
    std::vector<float> samples(kFftSize, 0.0f);
    for (int i = 0; i < tone_samples; ++i) {
      samples[kFftSize - tone_samples + i] = static_cast<float>(
          testing::kOnsetToneAmplitude *
          std::sin(2 * std::numbers::pi * testing::kOnsetToneHz * i / kSampleRate));
    }
    LiveSpectrum live;
    live.BeginStream();
    struct Source : SpectrumSource {
      LiveSpectrum* live;
      void Fetch(float* fft) override { live->Fetch(fft, Clock::now()); }
    } source;
    source.live = &live;
    ControlTable controls;
    EngineShared shared;
    testing::SetUpOnsetControls(controls, shared);
    EnginePorts ports;
    ports.spectrum = &source;
    Engine engine(controls, shared, ports);
    engine.RunPass();  // silence; the engine takes up the Level bar at the end of a pass
    live.Deliver(samples.data(), samples.size(), Clock::now());
    engine.RunPass();
    if (engine.channel_states()[testing::kOnsetChannel]) return ms;
  }
  return -1;
}

double Percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  return v[static_cast<std::size_t>(std::lround(p * (v.size() - 1)))];
}

}  // namespace

int main() {
  if (!testing::TestServicesPresent()) {
    std::fprintf(stderr, "onset_latency: run it under scripts/with-test-services\n");
    return 1;
  }
  const double floor_ms = AnalysisFloorMs();
  const testing::OnsetRun run = testing::PlayOnsetsToLight(24);
  if (!run.error.empty()) {
    std::fprintf(stderr, "onset_latency: %s\n", run.error.c_str());
    return 1;
  }
  const std::vector<double>& delays = run.delays_ms;
  if (delays.size() < 20) {
    std::fprintf(stderr, "onset_latency: only %zu of %d onsets lit the channel within 1 s\n",
                 delays.size(), run.onsets);
    return 1;
  }
  std::printf(
      "onset-to-light over %zu of %d onsets: median %.0f ms, p95 %.0f ms, min %.0f ms, "
      "max %.0f ms\n",
      delays.size(), run.onsets, Percentile(delays, 0.5), Percentile(delays, 0.95),
      Percentile(delays, 0), Percentile(delays, 1));
  std::printf(
      "analysis floor: %.0f ms of tone in the window; with a pass every ~50 ms the floor "
      "is %.0f..%.0f ms (median %.0f ms)\n",
      floor_ms, floor_ms, floor_ms + 50, floor_ms + 25);
  return 0;
}
