#include "tools/replay/light_png.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>

namespace glimmerix {
namespace {

constexpr Rgb kLampLit{255, 40, 40};
constexpr Rgb kLampDark{48, 48, 48};
constexpr float kFullValue = 40.0f;

void Put32(std::string& s, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) s.push_back(static_cast<char>(v >> shift));
}

void PutChunk(std::string& png, const char* type, const std::string& data) {
  Put32(png, static_cast<std::uint32_t>(data.size()));
  std::string body(type, 4);
  body += data;
  png += body;
  Put32(png, static_cast<std::uint32_t>(
                 crc32(0, reinterpret_cast<const Bytef*>(body.data()), body.size())));
}

}  // namespace

void LightPicture::AddPass(const float* band_values, const int* lamps) {
  Column c;
  std::copy(band_values, band_values + kChannels, c.values.begin());
  std::copy(lamps, lamps + kChannels, c.lamps.begin());
  columns_.push_back(c);
}

Rgb LightPicture::at(int x, int y) const {
  if (x < 0 || x >= width() || y < 0 || y >= kHeight) return Rgb{0, 0, 0};
  const Column& c = columns_[x];
  const int channel_index = kChannels - 1 - y / kBandRows;  // channel 18 at the top
  const int row = y % kBandRows;
  if (row < 2) return c.lamps[channel_index] ? kLampLit : kLampDark;
  if (row == kBandRows - 1) return Rgb{0, 0, 0};
  float v = c.values[channel_index];
  if (!std::isfinite(v) || v < 0) v = 0;
  const int green = static_cast<int>(std::lround(std::min(v / kFullValue, 1.0f) * 255));
  return Rgb{0, static_cast<std::uint8_t>(green), 0};
}

bool LightPicture::WritePng(const std::string& path, std::string& error) const {
  const int w = std::max(width(), 1);
  std::string raw;
  raw.reserve(static_cast<std::size_t>(kHeight) * (1 + 3 * w));
  for (int y = 0; y < kHeight; ++y) {
    raw.push_back(0);  // filter: none
    for (int x = 0; x < w; ++x) {
      const Rgb p = at(x, y);
      raw.push_back(static_cast<char>(p.r));
      raw.push_back(static_cast<char>(p.g));
      raw.push_back(static_cast<char>(p.b));
    }
  }
  uLongf packed_size = compressBound(raw.size());
  std::string packed(packed_size, '\0');
  if (compress2(reinterpret_cast<Bytef*>(packed.data()), &packed_size,
                reinterpret_cast<const Bytef*>(raw.data()), raw.size(), 9) != Z_OK) {
    error = "cannot compress the picture";
    return false;
  }
  packed.resize(packed_size);

  std::string png("\x89PNG\r\n\x1a\n", 8);
  std::string header;
  Put32(header, static_cast<std::uint32_t>(w));
  Put32(header, static_cast<std::uint32_t>(kHeight));
  header +=
      std::string("\x08\x02\x00\x00\x00", 5);  // 8 bits, RGB, deflate, no filter, no interlace
  PutChunk(png, "IHDR", header);
  PutChunk(png, "IDAT", packed);
  PutChunk(png, "IEND", "");

  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (out) out.write(png.data(), static_cast<std::streamsize>(png.size()));
  out.close();
  if (!out) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace glimmerix
