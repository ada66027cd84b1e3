// Band sums, gain and scaling, pinned to the bit.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tests/engine/engine_harness.h"

namespace glimmerix::testing {
namespace {

// K for a spectrum whose whole total sits in one bin.
int GainFor(float total) {
  Harness h;
  h.spectrum[700] = total;
  h.Pass();
  return h.engine.gain();
}

TEST(Gain, TellingValues) {
  EXPECT_EQ(GainFor(0.0101f), 24);
  EXPECT_EQ(GainFor(0.02f), 17);
  EXPECT_EQ(GainFor(0.1f), 8);
  EXPECT_EQ(GainFor(0.5f), 3);
  EXPECT_EQ(GainFor(1.0f), 2);
  EXPECT_EQ(GainFor(2.0f), 2);
  EXPECT_EQ(GainFor(3.0f), 1);
  EXPECT_EQ(GainFor(11.9f), 1);
  EXPECT_EQ(GainFor(12.0f), 0);  // 6 / 12 = 0.5 rounds to the even 0
  EXPECT_EQ(GainFor(500.0f), 0);
}

TEST(Gain, TheFloatNearestPointFourEightGivesFour) {
  // 6 / 0.479999989 = 12.50000028 rounds to 13, whose root 3.6 rounds to 4; computing with the
  // decimal 0.48 instead would give 12 and then 3.
  EXPECT_EQ(GainFor(0.48f), 4);
}

TEST(Gain, TotalExactlyAtTheSilenceLineIsSilence) {
  Harness h;
  h.controls.set_value(gadget::kLevelBar, 10);
  h.shared.mode = kModeManual;
  h.spectrum[5] = 1.0f;
  h.Pass();
  ASSERT_EQ(h.engine.gain(), 2);
  h.spectrum.fill(0.0f);
  h.spectrum[5] = 0.01f;
  h.Pass();
  EXPECT_EQ(h.engine.gain(), 2) << "a silent pass leaves the previous gain";
  for (int i = 0; i <= 18; ++i) EXPECT_EQ(h.engine.band_values()[i], 0.0f) << i;
  EXPECT_EQ(h.engine.lamp_peaks(), (std::array<int, 3>{-1, -1, -1}));
  for (int n = 1; n <= kChannels; ++n) EXPECT_EQ(h.engine.channel_states()[n], 0);
}

TEST(Gain, StartsAtZeroBeforeAnySound) {
  Harness h;
  h.Pass();
  EXPECT_EQ(h.engine.gain(), 0);
}

TEST(BandSums, EveryBinBelongsToExactlyOneBandAndSumsRoundToFloat) {
  Harness h;
  for (int k = 0; k < kSpectrumBins; ++k) h.spectrum[k] = 1.0f / 4096 + k * 1e-9f;
  h.Pass();  // mode 0: the bands keep only the gain
  static constexpr int kEdges[] = {0,   4,   8,   12,  16,  24,  32,   48,   64,  96,
                                   128, 192, 256, 384, 512, 768, 1024, 1536, 2048};
  float total = 0;
  std::array<float, kChannels> raw{};
  for (int n = 0; n < kChannels; ++n) {
    float s = 0;
    for (int k = kEdges[n]; k < kEdges[n + 1]; ++k) s += h.spectrum[k];
    raw[n] = s;
  }
  for (float v : raw) total += v;
  const int K = static_cast<int>(std::nearbyint(std::sqrt(std::nearbyint(6.0 / total))));
  EXPECT_EQ(h.engine.gain(), K);
  for (int n = 0; n < kChannels; ++n)
    EXPECT_EQ(h.engine.band_values()[n], static_cast<float>(static_cast<double>(raw[n]) * K)) << n;
  EXPECT_EQ(h.engine.band_values()[18], static_cast<float>(std::sqrt(static_cast<double>(total))));
}

TEST(Scaling, ManualTakesTheRootTimesLevelAndAutoTheProductWithTwoPointTwo) {
  for (int mode : {kModeManual, kModeAuto, kModeRnd + 1}) {
    Harness h;
    h.shared.mode = mode;
    h.controls.set_value(gadget::kLevelBar, 7);
    h.SetBands({1.0f, 0.5f, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1.5f});
    h.Pass();  // first pass runs with engine_level_bar 0
    h.Pass();
    ASSERT_EQ(h.engine.gain(), 1);  // total 3 -> 6/3 = 2 -> root 1.41 -> 1
    const float z0 = h.engine.band_values()[0], z1 = h.engine.band_values()[1];
    if (mode == kModeManual) {
      EXPECT_EQ(z0, 7.0f);
      EXPECT_EQ(z1, static_cast<float>(std::sqrt(0.5) * 7));
    } else if (mode == kModeAuto) {
      EXPECT_EQ(z0, static_cast<float>(7 * 2.2));
      EXPECT_EQ(z1, static_cast<float>(0.5 * 7 * 2.2));
    } else {
      EXPECT_EQ(z0, 1.0f);
    }
    EXPECT_EQ(h.engine.band_values()[18], static_cast<float>(std::sqrt(3.0)));
  }
}

TEST(Scaling, FirstPassRunsWithLevelZero) {
  Harness h;
  h.shared.mode = kModeManual;
  for (int n = 1; n <= kChannels; ++n) h.controls.set_value(n, 0);
  h.spectrum.fill(0.001f);
  h.Pass();
  for (int n = 0; n < kChannels; ++n) EXPECT_EQ(h.engine.band_values()[n], 0.0f);
  for (int n = 1; n <= kChannels; ++n)
    EXPECT_EQ(h.engine.channel_states()[n], 0) << "strict comparison";
  EXPECT_EQ(h.shared.engine_level_bar.load(), 35) << "the copy is taken at the end of the pass";
  h.Pass();
  EXPECT_GT(h.engine.band_values()[0], 0.0f);
}

TEST(BrokenSpectrum, NonFiniteValuesNeverCrashAndDecideNothing) {
  for (float bad : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                    -std::numeric_limits<float>::infinity(), std::numeric_limits<float>::max()}) {
    for (int mode : {kModeManual, kModeAuto, kModeRnd}) {
      Harness h;
      h.shared.mode = mode;
      h.controls.set_value(gadget::kAgcBar, 1);
      h.spectrum.fill(bad);
      h.Pass();
      h.Pass();
      for (int n = 1; n <= kChannels; ++n) {
        EXPECT_GE(h.controls.band_bar(n), 0);
        EXPECT_LE(h.controls.band_bar(n), 39);
      }
      EXPECT_EQ(h.Reports().size(), 3u);
    }
  }
}

}  // namespace
}  // namespace glimmerix::testing
