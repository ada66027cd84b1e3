// Channel decisions by mode, the AGC release, the keyboard lamp states, Invert and hot keys.
#include <gtest/gtest.h>

#include "tests/engine/engine_harness.h"

namespace glimmerix::testing {
namespace {

// Band 1 raw 1.0 and band 18 raw 2.0: total 3, K = 1; in Manual Z(0) = Level, Z(17) = 1.41 Level.
void QuietTwoBands(Harness& h, int level) {
  h.controls.set_value(gadget::kLevelBar, level);
  h.SetBands({1.0f, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2.0f});
  h.Pass();  // engine_level_bar takes the Level bar
}

TEST(Manual, StrictlyGreaterThanTheBarLights) {
  Harness h;
  h.shared.mode = kModeManual;
  QuietTwoBands(h, 5);
  h.controls.set_value(1, 5);
  h.controls.set_value(18, 7);
  h.Pass();
  ASSERT_EQ(h.engine.band_values()[0], 5.0f);
  EXPECT_EQ(h.engine.channel_states()[1], 0) << "equal is not greater";
  EXPECT_EQ(h.engine.channel_states()[18], 1);
  h.controls.set_value(1, 4);
  h.Pass();
  EXPECT_EQ(h.engine.channel_states()[1], 1);
  EXPECT_EQ(h.controls.band_bar(1), 4) << "Manual never moves the bars";
  EXPECT_EQ(h.engine.column_lamp(0), 1);
  EXPECT_EQ(h.engine.column_lamp(1), 0);
}

TEST(Auto, JumpsToEachPeakAndClampsAt39) {
  Harness h;
  h.shared.mode = kModeAuto;
  h.controls.set_value(gadget::kAgcBar, 60);
  for (int n = 1; n <= kChannels; ++n) h.controls.set_value(n, 0);
  // Band 1: 1.0 * K(1) * Level 20 * 2.2 = 44 -> on, bar parked at 39.
  QuietTwoBands(h, 20);
  h.Pass();
  EXPECT_EQ(h.engine.channel_states()[1], 1);
  EXPECT_EQ(h.controls.band_bar(1), 39);
  EXPECT_EQ(h.engine.channel_states()[18], 1);
  EXPECT_EQ(h.controls.band_bar(18), 39);
  EXPECT_EQ(h.engine.channel_states()[2], 0) << "0 is not above 0";
  // Still 44 > 39: stays on while the value is above the clamped bar.
  h.Pass();
  EXPECT_EQ(h.engine.channel_states()[1], 1);
}

TEST(Auto, ReleasePassesSetDarkBarsOneStepAboveTheValue) {
  Harness h;
  h.shared.mode = kModeAuto;
  h.controls.set_value(gadget::kAgcBar, 1);  // every pass releases
  // Band 1 at 1 * 5 * 2.2 = 11 against a bar at 30: dark, bar goes to round(11 + 1) = 12.
  QuietTwoBands(h, 5);
  for (int n = 1; n <= kChannels; ++n) h.controls.set_value(n, 30);
  h.Pass();
  EXPECT_EQ(h.engine.channel_states()[1], 0);
  EXPECT_EQ(h.controls.band_bar(1), 12);
  EXPECT_EQ(h.controls.band_bar(2), 1) << "silent bands are released to 1";
  // Next pass 11 < 12 again: dark and released to 12 once more; the peak never lights it.
  h.Pass();
  EXPECT_EQ(h.engine.channel_states()[1], 0);
  EXPECT_EQ(h.controls.band_bar(1), 12);
}

TEST(Agc, CounterWrapsAtThePeriodInEveryMode) {
  Harness h;
  h.controls.set_value(gadget::kAgcBar, 3);
  std::vector<int> seen;
  for (int i = 0; i < 7; ++i) {
    h.Pass();
    seen.push_back(h.engine.agc_pass_count());
  }
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 0, 1, 2, 0, 1}));
  EXPECT_EQ(h.shared.engine_agc_bar.load(), 3);
}

TEST(Leds, AlternateOnceThePeaksFallBelowZero) {
  Harness h;
  h.spectrum[100] = 20.0f;  // total above 12: K = 0, every level 0
  std::vector<int> num;
  for (int i = 0; i < 5; ++i) {
    h.Pass();
    num.push_back(h.engine.num_lock_lamp());
    EXPECT_EQ(h.engine.num_lock_lamp(), h.engine.caps_lock_lamp());
    EXPECT_EQ(h.engine.num_lock_lamp(), h.engine.scroll_lock_lamp());
  }
  EXPECT_EQ(num, (std::vector<int>{0, 1, 0, 1, 0}));
}

TEST(Leds, SilenceKeepsThemOffAndTheFirstSoundLightsAllThree) {
  Harness h;
  h.controls.set_value(gadget::kLevelBar, 1);
  for (int i = 0; i < 3; ++i) {
    h.Pass();
    EXPECT_EQ(h.engine.num_lock_lamp() + h.engine.caps_lock_lamp() + h.engine.scroll_lock_lamp(),
              0);
  }
  h.spectrum[3] = 0.001f;    // group 1
  h.spectrum[200] = 0.001f;  // group 2
  h.spectrum[1600] = 0.1f;   // group 3
  h.Pass();
  EXPECT_EQ(h.engine.num_lock_lamp(), 1);
  EXPECT_EQ(h.engine.caps_lock_lamp(), 1);
  EXPECT_EQ(h.engine.scroll_lock_lamp(), 1);
  // Driven only while "Key" is ticked, in the order n, c, s.
  std::vector<Event> leds;
  for (const Event& e : h.events)
    if (e.what == "led") leds.push_back(e);
  EXPECT_EQ(leds, (std::vector<Event>{{"led", 'n', 1}, {"led", 'c', 1}, {"led", 's', 1}}));
  h.controls.set_value(gadget::kKeyCheck, 0);
  h.Pass();
  for (const Event& e : h.events) EXPECT_NE(e.what, "led");
}

TEST(Rnd, QuietBelowTheGateAndThresholdDrawnOncePerPass) {
  Harness h;
  h.shared.mode = kModeRnd;
  h.spectrum[10] = 0.0625f;  // root 0.25: not above the gate
  h.random_values = {13};
  h.Pass();
  EXPECT_EQ(h.random_ranges, (std::vector<int>{13}));
  EXPECT_EQ(h.engine.rnd_threshold(), 39);
  for (int n = 1; n <= kChannels; ++n) EXPECT_EQ(h.engine.channel_states()[n], 0);
  for (int n = 0; n < kChannels; ++n) EXPECT_EQ(h.engine.band_values()[n], 0.0f);

  h.spectrum[10] = 0.07f;
  h.random_ranges.clear();
  // Threshold 39: only a value of 40 lights.
  h.random_values = {13, 40, 39, 0, 40};
  h.Pass();
  ASSERT_EQ(h.random_ranges.size(), 19u);
  EXPECT_EQ(h.random_ranges[0], 13);
  for (int i = 1; i <= 18; ++i) EXPECT_EQ(h.random_ranges[i], 40);
  EXPECT_EQ(h.engine.channel_states()[1], 1);
  EXPECT_EQ(h.engine.channel_states()[2], 0);
  EXPECT_EQ(h.engine.channel_states()[4], 1);
  EXPECT_EQ(h.engine.band_values()[0], 40.0f) << "the column shows the random value";
  EXPECT_EQ(h.engine.lpt_data(), 0x01) << "channel 4 drives D0";
}

TEST(Invert, FlipsOnlyTheUsbOutputs) {
  Harness h;
  h.shared.mode = kModeManual;
  h.controls.set_value(gadget::kInvertCheck, 1);
  for (int n = 1; n <= kChannels; ++n) h.controls.set_value(gadget::kFirstOutputList + n - 1, n);
  h.Pass();  // silence: every channel decided off
  for (int n = 1; n <= kChannels; ++n) EXPECT_EQ(h.engine.channel_states()[n], 1);
  EXPECT_EQ(h.Reports(), (std::vector<int>{0x3F, 0x7F, 0xBF}));
  EXPECT_EQ(h.LptValues(), (std::vector<int>{0, 11}));
  for (int i = 0; i < kChannels; ++i) EXPECT_EQ(h.engine.column_lamp(i), 0);
}

TEST(Invert, WithNoModeTheStatesFlipEveryPass) {
  Harness h;
  h.controls.set_value(gadget::kInvertCheck, 1);
  h.controls.set_value(gadget::kFirstOutputList, 1);
  std::vector<int> port_d;
  for (int i = 0; i < 4; ++i) {
    h.Pass();
    port_d.push_back(h.Reports()[2]);
    EXPECT_EQ(h.LptValues(), (std::vector<int>{0, 11}));
  }
  EXPECT_EQ(port_d, (std::vector<int>{0x81, 0x80, 0x81, 0x80}));
}

TEST(HotKeys, NeedShiftAndAltAndPostInTheirOrder) {
  Harness h;
  h.held[static_cast<int>(HotKey::kF5)] = true;
  h.held[static_cast<int>(HotKey::kF6)] = true;
  h.held[static_cast<int>(HotKey::kF7)] = true;
  h.held[static_cast<int>(HotKey::kShift)] = true;
  auto clicks = [&] {
    std::vector<Event> out;
    for (const Event& e : h.Pass())
      if (e.what == "down" || e.what == "up" || e.what == "sleep") out.push_back(e);
    return out;
  };
  EXPECT_TRUE(clicks().empty()) << "Shift alone is not enough";
  h.held[static_cast<int>(HotKey::kAlt)] = true;
  EXPECT_EQ(clicks(),
            (std::vector<Event>{
                {"down", 19}, {"up", 19}, {"down", 25}, {"up", 25}, {"down", 20}, {"up", 20}}));
  EXPECT_EQ(h.shared.mode.load(), kModeNone) << "the engine never sets the mode itself";
}

TEST(HotKeys, F8StepsManualRndAutoWithFiftyMillisecondGaps) {
  Harness h;
  h.held[static_cast<int>(HotKey::kShift)] = true;
  h.held[static_cast<int>(HotKey::kAlt)] = true;
  h.held[static_cast<int>(HotKey::kF8)] = true;
  auto tail = [&] {
    std::vector<Event> e = h.Pass();
    return std::vector<Event>(e.end() - std::min<size_t>(e.size(), 4), e.end());
  };
  for (const Event& e : h.Pass()) EXPECT_NE(e.what, "down") << "no mode: no click";
  const std::vector<std::pair<int, int>> steps = {
      {kModeManual, 25}, {kModeRnd, 20}, {kModeAuto, 19}};
  for (auto [mode, target] : steps) {
    h.shared.mode = mode;
    EXPECT_EQ(tail(),
              (std::vector<Event>{{"down", target}, {"sleep", 50}, {"up", target}, {"sleep", 50}}));
  }
}

}  // namespace
}  // namespace glimmerix::testing
