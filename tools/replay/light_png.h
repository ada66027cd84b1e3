// glimmerix-replay --png: a picture of a light show, one column of pixels per pass.
//
// The show: each channel has a band of kBandRows rows, channel 18 at the top: two rows of lamp
// (red when the channel is lit, dark when not), five rows whose green brightness is the band
// value (full at 40, the top of a band bar), and a black gap row.
// The legend: the channel numbers in a margin left of the show, and a time axis under it with a
// tick every second (a pass is 50 ms, so 20 pixels) and labels "m:ss" every few seconds.
//
// Memory: about 24 bytes per pass; the picture is compressed row by row as it is written.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/controls.h"

namespace glimmerix {

class LightPicture {
 public:
  static constexpr int kBandRows = 8;
  static constexpr int kShowHeight = kChannels * kBandRows;
  static constexpr int kLegendWidth = 10;     // the channel numbers' margin, left of pass 0
  static constexpr int kTimeAxisHeight = 10;  // under the show
  static constexpr int kHeight = kShowHeight + kTimeAxisHeight;
  static constexpr int kPassesPerSecond = 20;

  // One pass: band values Z[0..17] and lamps (1 lit) of channels 1..18.
  void AddPass(const float* band_values, const int* lamps);

  int passes() const { return static_cast<int>(columns_.size()); }
  // The picture's width: the margin and a column per pass (one black column without passes).
  int width() const { return kLegendWidth + std::max(passes(), 1); }
  // The colour of pixel (x, y), y = 0 at the top; pass k is column kLegendWidth + k.
  Rgb at(int x, int y) const;

  // Writes an 8-bit RGB PNG; on failure returns false with a message in error.
  bool WritePng(const std::string& path, std::string& error) const;

 private:
  struct Column {
    std::array<std::uint8_t, kChannels> green;  // the value rows' brightness
    std::uint32_t lit = 0;                      // bit i: channel i + 1 lit
  };
  Rgb LegendAt(int x, int y) const;
  Rgb TimeAxisAt(int x, int y) const;
  std::vector<Column> columns_;
};

}  // namespace glimmerix
