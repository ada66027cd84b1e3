// glimmerix-replay --png: a picture of a light show, one column of pixels per pass.
//
// Each channel has a band of kBandRows rows, channel 18 at the top: two rows of lamp (red when the
// channel is lit, dark when not), five rows whose green brightness is the band value (full at 40,
// the top of a band bar), and a black gap row.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "engine/controls.h"

namespace glimmerix {

class LightPicture {
 public:
  static constexpr int kBandRows = 8;
  static constexpr int kHeight = kChannels * kBandRows;

  // One pass: band values Z[0..17] and lamps (1 lit) of channels 1..18.
  void AddPass(const float* band_values, const int* lamps);

  int width() const { return static_cast<int>(columns_.size()); }
  // The colour of pixel (x, y), y = 0 at the top. A picture without passes is one black column.
  Rgb at(int x, int y) const;

  // Writes an 8-bit RGB PNG; on failure returns false with a message in error.
  bool WritePng(const std::string& path, std::string& error) const;

 private:
  struct Column {
    std::array<float, kChannels> values;
    std::array<int, kChannels> lamps;
  };
  std::vector<Column> columns_;
};

}  // namespace glimmerix
