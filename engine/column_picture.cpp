#include "engine/column_picture.h"

#include <algorithm>
#include <cmath>

namespace glimmerix {
namespace {

void FillRect(ColumnPicture& p, long x, long y, long w, long h, Rgb colour) {
  const long x0 = std::max(0L, x), x1 = std::min<long>(ColumnPicture::kWidth, x + w);
  const long y0 = std::max(0L, y), y1 = std::min<long>(ColumnPicture::kHeight, y + h);
  for (long row = y0; row < y1; ++row)
    for (long col = x0; col < x1; ++col)
      p.at(static_cast<int>(col), static_cast<int>(row)) = colour;
}

void HorizontalLine(ColumnPicture& p, int row, Rgb colour) {
  FillRect(p, 0, row, ColumnPicture::kWidth, 1, colour);
}

long Round(double v) {
  return static_cast<long>(std::nearbyint(v));
}

}  // namespace

void DrawColumn(ColumnPicture& picture, float band_value, int lamp) {
  using namespace column_colour;
  constexpr int kHeight = ColumnPicture::kHeight;
  // Any value of 40 or more fills the bar area and the lamp covers the rest, so clamping
  // changes no pixel and keeps every coordinate small.
  const double value =
      std::isfinite(band_value) ? std::clamp<double>(band_value, -1000, 1000) : 0.0;

  FillRect(picture, 0, 20, 10, kHeight - 15, kBackground);
  const long bar_height = Round(value * 2);
  const long bar_top = Round(kHeight - value * 2);
  FillRect(picture, 0, bar_top, 20, bar_height, kBar);
  FillRect(picture, 0, 0, 10, 15, lamp == 1 ? kLampOn : kLampOff);
  for (int a = kHeight, d = 0; d <= 21; ++d, a -= 3) HorizontalLine(picture, a, kGrid);
  for (int d = 0; d <= 4; ++d) HorizontalLine(picture, d, kGrid);
  for (int d = 15; d <= 19; ++d) HorizontalLine(picture, d, kGrid);
}

}  // namespace glimmerix
