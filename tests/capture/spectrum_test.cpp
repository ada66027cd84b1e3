// The fetch on synthetic samples: the magnitude scale the analysis constants rely on, the sample
// ring, and a recording that stalls or goes away reading as silence.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <numbers>
#include <numeric>
#include <random>
#include <thread>
#include <vector>

#include "engine/capture/live_spectrum.h"
#include "engine/capture/sample_ring.h"
#include "engine/capture/spectrum_analyzer.h"
#include "tests/support/alloc_counter.h"

namespace glimmerix {
namespace {

using namespace std::chrono_literals;
using Clock = LiveSpectrum::Clock;

std::vector<float> Sine(double hz, double amplitude, int count, int offset = 0) {
  std::vector<float> s(count);
  for (int n = 0; n < count; ++n) {
    s[n] = static_cast<float>(amplitude *
                              std::sin(2 * std::numbers::pi * hz * (n + offset) / kSampleRate));
  }
  return s;
}

std::vector<float> Analyze(const std::vector<float>& samples) {
  SpectrumAnalyzer analyzer;
  std::vector<float> fft(kSpectrumBins, -1.0f);
  analyzer.Analyze(samples.data(), fft.data());
  return fft;
}

double Total(const std::vector<float>& fft) {
  return std::accumulate(fft.begin(), fft.end(), 0.0);
}

constexpr double kBin186Hz = 186.0 * kSampleRate / kFftSize;

TEST(SpectrumScale, SineDcSilenceAndNoise) {
  const auto sine = Analyze(Sine(kBin186Hz, 1.0, kFftSize));
  EXPECT_NEAR(sine[186], 0.5, 1e-4);
  EXPECT_NEAR(sine[185], 0.25, 1e-4);
  EXPECT_NEAR(sine[187], 0.25, 1e-4);
  EXPECT_NEAR(Total(sine), 1.0, 1e-3);

  const auto dc = Analyze(std::vector<float>(kFftSize, 1.0f));
  EXPECT_NEAR(dc[0], 1.0, 1e-5);
  EXPECT_NEAR(dc[1], 0.5, 1e-5);
  EXPECT_NEAR(Total(dc), 1.5, 1e-3);

  const auto silence = Analyze(std::vector<float>(kFftSize, 0.0f));
  EXPECT_EQ(Total(silence), 0.0);

  // A full-scale 1 kHz tone (between bins) is what the live tests play: 0.4817 in bin 186.
  EXPECT_NEAR(Analyze(Sine(1000.0, 1.0, kFftSize))[186], 0.4817, 5e-4);

  // Noise of deviation s: each bin's mean magnitude is sqrt(pi * 3N / 32) * s * 2/N.
  std::mt19937 gen(7);
  std::normal_distribution<float> normal(0.0f, 0.2f);
  double total = 0;
  for (int run = 0; run < 8; ++run) {
    std::vector<float> noise(kFftSize);
    for (float& v : noise) v = normal(gen);
    total += Total(Analyze(noise)) / 8;
  }
  EXPECT_NEAR(total / 0.2, 34.7, 0.7);
}

TEST(SpectrumScale, SamplesThatAreNotNumbersCountAsSilence) {
  auto samples = Sine(kBin186Hz, 1.0, kFftSize);
  samples[100] = std::nanf("");
  samples[200] = INFINITY;
  samples[300] = -INFINITY;
  const auto fft = Analyze(samples);
  for (float v : fft) ASSERT_TRUE(std::isfinite(v));
  EXPECT_NEAR(fft[186], 0.5, 0.01);
}

// A device that hands over garbage (seen from ALSA's null device: whatever its buffer held) must
// not turn the spectrum into infinities: finite samples of any size give a finite spectrum.
TEST(SpectrumScale, HugeSamplesGiveAFiniteSpectrum) {
  std::vector<float> samples(kFftSize);
  for (int n = 0; n < kFftSize; ++n) samples[n] = (n % 2 ? 1 : -1) * 3e38f;
  for (float v : Analyze(samples)) ASSERT_TRUE(std::isfinite(v));
  samples.assign(kFftSize, 3e38f);
  const auto dc = Analyze(samples);
  for (float v : dc) ASSERT_TRUE(std::isfinite(v));
  EXPECT_GT(dc[0], 1.0f) << "an overload still reads as loud";
}

TEST(SampleRing, NewestWinAcrossTheWrapAndShortHistoryIsPadded) {
  SampleRing ring(6);  // rounded up to 8
  ASSERT_EQ(ring.capacity(), 8u);
  float out[8];

  const float first[] = {1, 2, 3};
  ring.Write(first, 3);
  EXPECT_EQ(ring.ReadNewest(out, 5), 3u);
  EXPECT_EQ(std::vector<float>(out, out + 5), (std::vector<float>{0, 0, 1, 2, 3}));

  const float more[] = {4, 5, 6, 7, 8, 9, 10, 11};  // wraps: 1..3 are overwritten
  ring.Write(more, 8);
  EXPECT_EQ(ring.ReadNewest(out, 8), 8u);
  EXPECT_EQ(std::vector<float>(out, out + 8), (std::vector<float>{4, 5, 6, 7, 8, 9, 10, 11}));
  EXPECT_EQ(ring.ReadNewest(out, 3), 3u);
  EXPECT_EQ(std::vector<float>(out, out + 3), (std::vector<float>{9, 10, 11}));

  std::vector<float> burst(20);  // longer than the ring in one write
  std::iota(burst.begin(), burst.end(), 100.0f);
  ring.Write(burst.data(), burst.size());
  ring.ReadNewest(out, 8);
  EXPECT_EQ(std::vector<float>(out, out + 8),
            (std::vector<float>{112, 113, 114, 115, 116, 117, 118, 119}));

  ring.Restart();
  EXPECT_EQ(ring.ReadNewest(out, 4), 0u);
  EXPECT_EQ(std::vector<float>(out, out + 4), (std::vector<float>{0, 0, 0, 0}));
  const float after[] = {7};
  ring.Write(after, 1);
  ring.ReadNewest(out, 3);
  EXPECT_EQ(std::vector<float>(out, out + 3), (std::vector<float>{0, 0, 7}));
}

TEST(LiveSpectrum, ReadsTheNewestSamplesPaddedWithZeros) {
  LiveSpectrum live;
  std::vector<float> fft(kSpectrumBins, -1.0f);
  const Clock::time_point t0 = Clock::now();

  live.Fetch(fft.data(), t0);
  EXPECT_EQ(Total(fft), 0.0) << "no stream yet";
  live.BeginStream();
  live.Fetch(fft.data(), t0);
  EXPECT_EQ(Total(fft), 0.0) << "nothing delivered yet";

  // Half a window of tone: the zeros in front halve the peak.
  const auto tone = Sine(kBin186Hz, 1.0, kFftSize);
  live.Deliver(tone.data(), kFftSize / 2, t0);
  live.Fetch(fft.data(), t0);
  EXPECT_GT(fft[186], 0.1);
  EXPECT_LT(fft[186], 0.4);

  // A whole window: the same spectrum as the analyzer's own, whatever came before.
  live.Deliver(tone.data(), kFftSize, t0);  // phase jump at the joint lies outside the window
  live.Fetch(fft.data(), t0);
  EXPECT_EQ(fft, Analyze(tone));
}

TEST(LiveSpectrum, StalledOrEndedStreamIsSilenceNotTheLastSoundRepeated) {
  LiveSpectrum live;
  std::vector<float> fft(kSpectrumBins);
  const auto tone = Sine(kBin186Hz, 1.0, kFftSize);
  const Clock::time_point t0 = Clock::now();
  live.BeginStream();
  live.Deliver(tone.data(), kFftSize, t0);

  live.Fetch(fft.data(), t0 + LiveSpectrum::kStallSilence);
  EXPECT_NEAR(fft[186], 0.5, 1e-3) << "still fresh at the limit";
  live.Fetch(fft.data(), t0 + LiveSpectrum::kStallSilence + 1ms);
  EXPECT_EQ(Total(fft), 0.0) << "stalled";

  live.Deliver(tone.data(), 256, t0 + 1s);
  live.Fetch(fft.data(), t0 + 1s);
  EXPECT_NEAR(fft[186], 0.5, 1e-3) << "delivering again";

  live.EndStream();
  live.Fetch(fft.data(), t0 + 1s);
  EXPECT_EQ(Total(fft), 0.0) << "stream gone";

  // A new stream starts from silence: the old stream's tone is not in its first windows.
  live.BeginStream();
  const std::vector<float> quiet(512, 0.0f);
  live.Deliver(quiet.data(), quiet.size(), t0 + 3s);
  live.Fetch(fft.data(), t0 + 3s);
  EXPECT_EQ(Total(fft), 0.0);
}

TEST(LiveSpectrum, FetchAllocatesNothing) {
  LiveSpectrum live;
  std::vector<float> fft(kSpectrumBins);
  const auto tone = Sine(1000.0, 0.5, 1024);
  live.BeginStream();
  const Clock::time_point now = Clock::now();
  const long before = testing::AllocationCount();
  live.Deliver(tone.data(), tone.size(), now);
  live.Fetch(fft.data(), now);
  live.Fetch(fft.data(), now + 1s);
  EXPECT_EQ(testing::AllocationCount() - before, 0);
}

// A writer delivering blocks as an audio callback does while the engine fetches; the
// sanitizer builds check this for races, and every fetch must see a plausible spectrum.
TEST(LiveSpectrum, FetchesWhileTheCallbackDelivers) {
  LiveSpectrum live;
  live.BeginStream();
  const auto tone = Sine(kBin186Hz, 1.0, 256 * 64);
  live.Deliver(tone.data(), kFftSize, Clock::now());
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int block = 0; !done.load(); block = (block + 1) % 48) {
      live.Deliver(tone.data() + block * 256, 256, Clock::now());
      std::this_thread::yield();
    }
  });
  std::vector<float> fft(kSpectrumBins);
  for (int i = 0; i < 200; ++i) {
    live.Fetch(fft.data(), Clock::now());
    ASSERT_GT(fft[186], 0.3f) << "fetch " << i;
    ASSERT_LT(Total(fft), 2.5) << "fetch " << i;
  }
  done = true;
  writer.join();
}

}  // namespace
}  // namespace glimmerix
