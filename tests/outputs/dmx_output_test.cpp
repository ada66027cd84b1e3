// The DMX output's frame from a pass and the settings it accepts.
#include "outputs/dmx_output.h"

#include <gtest/gtest.h>

namespace glimmerix {
namespace {

std::array<int, 18> OnlyChannel(int channel) {
  std::array<int, 18> states{};
  states[channel - 1] = 1;
  return states;
}

TEST(DmxSettingsCheck, ValuesInRangePassUnchanged) {
  const CheckedDmxSettings c = CheckDmxSettings(1, 63999, 495, 1, 1);
  EXPECT_EQ(c.problem, "");
  EXPECT_EQ(c.settings, (DmxSettings{true, 63999, 495, 1, DmxMapping::kLevel}));
}

TEST(DmxSettingsCheck, OutOfRangeValuesAreClampedAndEachIsNamed) {
  // Universe 0, a start address whose 18th channel would be slot 513, a level above 255, and a
  // mapping that does not exist ("letters" in the file read as 0 and land here too).
  const CheckedDmxSettings c = CheckDmxSettings(1, 0, 496, 256, 7);
  EXPECT_EQ(c.settings, (DmxSettings{true, 1, 495, 255, DmxMapping::kLevel}));
  EXPECT_NE(c.problem.find("DMX universe 0 is outside 1..63999; using 1."), std::string::npos)
      << c.problem;
  EXPECT_NE(c.problem.find("DMX start address 496 is outside 1..495"), std::string::npos);
  EXPECT_NE(c.problem.find("DMX level 256"), std::string::npos);
  EXPECT_NE(c.problem.find("DMX mapping 7"), std::string::npos);

  const CheckedDmxSettings low = CheckDmxSettings(0, 64000, -5, 0, -1);
  EXPECT_EQ(low.settings, (DmxSettings{false, 63999, 1, 1, DmxMapping::kOnOff}));
}

TEST(DmxFrame, OnOffMapsChannelNToStartPlusNMinus1AtTheLevel) {
  const DmxSettings s{true, 1, 100, 200, DmxMapping::kOnOff};
  const auto states = OnlyChannel(11);
  const std::array<float, 18> bands{};
  const DmxFrame frame = BuildDmxFrame(s, DmxChannelValues(s, states.data(), bands.data(), false));
  for (int slot = 1; slot <= kDmxSlots; ++slot)
    EXPECT_EQ(frame[slot - 1], slot == 110 ? 200 : 0) << "slot " << slot;
}

TEST(DmxFrame, TheLastStartAddressEndsAtSlot512) {
  const DmxSettings s{true, 1, DmxSettings::kMaxStart, 255, DmxMapping::kOnOff};
  std::array<int, 18> states;
  states.fill(1);
  const std::array<float, 18> bands{};
  const DmxFrame frame = BuildDmxFrame(s, DmxChannelValues(s, states.data(), bands.data(), false));
  EXPECT_EQ(frame[511], 255);
  EXPECT_EQ(frame[494], 255);
  EXPECT_EQ(frame[493], 0);
}

TEST(DmxFrame, LevelMappingFollowsTheColumnsHeightAndInvertTurnsIt) {
  const DmxSettings s{true, 1, 1, 255, DmxMapping::kLevel};
  const std::array<int, 18> states{};
  // Column heights: 2 pixels per unit, 60 pixels full; beyond that and below 0 the bar is full or
  // empty; a value that is not finite shows nothing.
  std::array<float, 18> bands{0, 15, 30, 45, -3, 7.5f, 1.0f / 0.0f, 0.24f};
  auto v = DmxChannelValues(s, states.data(), bands.data(), false);
  EXPECT_EQ(v[0], 0);
  EXPECT_EQ(v[1], 128);  // 30 of 60 pixels: 127.5 rounds up
  EXPECT_EQ(v[2], 255);
  EXPECT_EQ(v[3], 255);
  EXPECT_EQ(v[4], 0);
  EXPECT_EQ(v[5], 64);  // 15 of 60 pixels
  EXPECT_EQ(v[6], 0);
  EXPECT_EQ(v[7], 0);  // 0.48 pixels: nothing drawn
  auto inverted = DmxChannelValues(s, states.data(), bands.data(), true);
  EXPECT_EQ(inverted[0], 255);
  EXPECT_EQ(inverted[2], 0);

  // The on level is the top of the scale.
  const DmxSettings dim{true, 1, 1, 100, DmxMapping::kLevel};
  v = DmxChannelValues(dim, states.data(), bands.data(), false);
  EXPECT_EQ(v[2], 100);
  EXPECT_EQ(v[1], 50);
}

}  // namespace
}  // namespace glimmerix
