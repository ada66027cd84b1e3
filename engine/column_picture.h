// One spectrum column of the main window: an 8 x 80 RGB picture with the channel's lamp at the top
// and a segmented green bar below it that shows the band value, 2 pixels per unit.
//
// Pure drawing on a caller-owned buffer; no allocation, no shared state.
#pragma once

#include <array>

#include "engine/controls.h"

namespace glimmerix {

struct ColumnPicture {
  static constexpr int kWidth = 8;
  static constexpr int kHeight = 80;
  std::array<Rgb, kWidth * kHeight> pixels{};  // row-major, row 0 at the top; all black at first

  const Rgb& at(int x, int y) const { return pixels[y * kWidth + x]; }
  Rgb& at(int x, int y) { return pixels[y * kWidth + x]; }
};

namespace column_colour {
inline constexpr Rgb kBackground{107, 107, 107};
inline constexpr Rgb kBar{0, 255, 0};
inline constexpr Rgb kLampOn{255, 0, 0};
inline constexpr Rgb kLampOff{187, 187, 187};
inline constexpr Rgb kGrid{207, 207, 207};
}  // namespace column_colour

// Draws a column for band value band_value (a value that is not finite counts as 0) with the
// lamp on when lamp is 1.
void DrawColumn(ColumnPicture& picture, float band_value, int lamp);

}  // namespace glimmerix
