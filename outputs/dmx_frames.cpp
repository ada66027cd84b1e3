#include "outputs/dmx_frames.h"

#include <algorithm>
#include <cmath>

namespace glimmerix {
namespace {

constexpr int kColumnBarPixels = 60;  // the column's visible bar: rows 20..79
constexpr int kPixelsPerUnit = 2;

int Clamped(const char* name, int value, int low, int high, std::string& problem) {
  if (value >= low && value <= high) return value;
  const int clamped = std::clamp(value, low, high);
  if (!problem.empty()) problem += ' ';
  problem += std::string("DMX ") + name + " " + std::to_string(value) + " is outside " +
             std::to_string(low) + ".." + std::to_string(high) + "; using " +
             std::to_string(clamped) + ".";
  return clamped;
}

// The bar's height in pixels as the column draws it.
int ShownPixels(float band_value) {
  const double v = std::isfinite(band_value) ? std::clamp<double>(band_value, -1000, 1000) : 0.0;
  return static_cast<int>(
      std::clamp<double>(std::nearbyint(v * kPixelsPerUnit), 0, kColumnBarPixels));
}

}  // namespace

CheckedDmxSettings CheckDmxSettings(int enabled, int universe, int start, int level, int mapping) {
  CheckedDmxSettings checked;
  DmxSettings& s = checked.settings;
  std::string& problem = checked.problem;
  s.enabled = enabled != 0;
  s.universe =
      Clamped("universe", universe, DmxSettings::kMinUniverse, DmxSettings::kMaxUniverse, problem);
  s.start =
      Clamped("start address", start, DmxSettings::kMinStart, DmxSettings::kMaxStart, problem);
  s.level = Clamped("level", level, DmxSettings::kMinLevel, DmxSettings::kMaxLevel, problem);
  s.mapping = static_cast<DmxMapping>(Clamped("mapping", mapping, 0, 1, problem));
  return checked;
}

std::array<std::uint8_t, kDmxChannels> DmxChannelValues(const DmxSettings& settings,
                                                        const int* states, const float* band_values,
                                                        bool inverted) {
  std::array<std::uint8_t, kDmxChannels> values{};
  const int level = std::clamp(settings.level, 0, 255);
  for (int n = 0; n < kDmxChannels; ++n) {
    int value = 0;
    if (settings.mapping == DmxMapping::kLevel) {
      value = (ShownPixels(band_values[n]) * level + kColumnBarPixels / 2) / kColumnBarPixels;
      if (inverted) value = level - value;
    } else {
      value = states[n] != 0 ? level : 0;
    }
    values[n] = static_cast<std::uint8_t>(value);
  }
  return values;
}

DmxFrame BuildDmxFrame(const DmxSettings& settings,
                       const std::array<std::uint8_t, kDmxChannels>& values) {
  DmxFrame frame{};
  const int first = std::clamp(settings.start, DmxSettings::kMinStart, DmxSettings::kMaxStart) - 1;
  std::copy(values.begin(), values.end(), frame.begin() + first);
  return frame;
}

}  // namespace glimmerix
