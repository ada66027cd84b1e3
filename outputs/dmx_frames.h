// What the DMX output sends, worked out without any device: the checked settings, the 18 slot
// values of a pass and the whole universe's frame. Platform-neutral and free of threads, so the
// replay tool computes the same values on every platform.
//
// Channel n goes to DMX slot start + n - 1. With the on/off mapping an "on" channel sends the on
// level and an "off" one 0. With the level mapping a channel sends the band's value as its column
// shows it: the column's bar is 2 pixels per unit and 60 pixels tall, so the shown height
// (0..60 pixels) is scaled linearly onto 0..level. The scale is the column's, so the dimmer and
// the window agree, and its top is the on level, so that setting caps both mappings alike. With
// Invert ticked the level mapping sends level minus that value, as Invert turns on into off.
// Every frame carries all 512 slots, those outside the 18 channels at 0: a slot given up by a
// change of the start address never keeps its last value.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace glimmerix {

inline constexpr int kDmxSlots = 512;
inline constexpr int kDmxChannels = 18;

enum class DmxMapping { kOnOff = 0, kLevel = 1 };

struct DmxSettings {
  static constexpr int kMinUniverse = 1;
  // The highest universe number every network OLA drives can carry as it stands (sACN's range
  // is 1..63999; Art-Net's port addresses reach 32767 and are patched per universe).
  static constexpr int kMaxUniverse = 63999;
  static constexpr int kMinStart = 1;
  static constexpr int kMaxStart = kDmxSlots - kDmxChannels + 1;  // 495: slot 512 the last
  static constexpr int kMinLevel = 1;
  static constexpr int kMaxLevel = 255;

  bool enabled = false;
  int universe = 1;
  int start = 1;  // DMX address of channel 1
  int level = 255;
  DmxMapping mapping = DmxMapping::kOnOff;
  bool operator==(const DmxSettings&) const = default;
};

// Settings brought into range, and what had to be changed (empty when nothing), one sentence per
// value, naming the value, what it was and the allowed range.
struct CheckedDmxSettings {
  DmxSettings settings;
  std::string problem;
};
// Any int is accepted; out-of-range values are clamped to the nearest allowed one (the mapping
// to 0 on/off or 1 level).
CheckedDmxSettings CheckDmxSettings(int enabled, int universe, int start, int level, int mapping);

// The 18 slot values for one pass (see the mapping above). states and band_values as
// ChannelSink::ChannelsSent gives them.
std::array<std::uint8_t, kDmxChannels> DmxChannelValues(const DmxSettings& settings,
                                                        const int* states, const float* band_values,
                                                        bool inverted);

// A whole universe: slot 1 is slots[0].
using DmxFrame = std::array<std::uint8_t, kDmxSlots>;
DmxFrame BuildDmxFrame(const DmxSettings& settings,
                       const std::array<std::uint8_t, kDmxChannels>& values);

}  // namespace glimmerix
