#include "tools/replay/light_png.h"

#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>

#include "tools/replay/raw_files.h"

namespace glimmerix {
namespace {

constexpr Rgb kLampLit{255, 40, 40};
constexpr Rgb kLampDark{48, 48, 48};
constexpr Rgb kLegendText{200, 200, 200};
constexpr Rgb kSecondTick{120, 120, 120};
constexpr float kFullValue = 40.0f;

// 3 x 5 pixel glyphs, one row of three bits per entry (bit 2 = left column): digits and ':'.
constexpr int kGlyphWidth = 3, kGlyphHeight = 5, kGlyphAdvance = 4;
constexpr std::uint8_t kDigitGlyphs[10][kGlyphHeight] = {
    {7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 3, 1, 7}, {5, 5, 7, 1, 1},
    {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 2, 2}, {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7}};
constexpr std::uint8_t kColonGlyph[kGlyphHeight] = {0, 2, 0, 2, 0};

// Whether text drawn with its top-left corner at (0, 0) covers pixel (x, y).
bool TextCovers(const std::string& text, int x, int y) {
  if (x < 0 || y < 0 || y >= kGlyphHeight) return false;
  const std::size_t index = static_cast<std::size_t>(x / kGlyphAdvance);
  const int column = x % kGlyphAdvance;
  if (index >= text.size() || column >= kGlyphWidth) return false;
  const char c = text[index];
  const std::uint8_t row = c == ':' ? kColonGlyph[y] : kDigitGlyphs[c - '0'][y];
  return (row >> (kGlyphWidth - 1 - column)) & 1;
}

int TextWidth(const std::string& text) {
  return static_cast<int>(text.size()) * kGlyphAdvance - 1;
}

std::string TimeLabel(int seconds) {
  const int s = seconds % 60;
  return std::to_string(seconds / 60) + ":" + (s < 10 ? "0" : "") + std::to_string(s);
}

// Seconds between time labels: the first step whose labels stand at least their own width apart.
int LabelStep(int last_second) {
  const int widest = TextWidth(TimeLabel(last_second));
  for (int step : {1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600}) {
    if (step * LightPicture::kPassesPerSecond >= 2 * widest + 2) return step;
  }
  return 7200;
}

void Put32(std::string& s, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) s.push_back(static_cast<char>(v >> shift));
}

std::string Chunk(const char* type, const unsigned char* data, std::size_t size) {
  std::string chunk;
  Put32(chunk, static_cast<std::uint32_t>(size));
  chunk.append(type, 4);
  if (size > 0) chunk.append(reinterpret_cast<const char*>(data), size);
  Put32(chunk, static_cast<std::uint32_t>(
                   crc32(0, reinterpret_cast<const Bytef*>(chunk.data() + 4), size + 4)));
  return chunk;
}

// A file written with write(), keeping the error number of the first failure.
class OutputFile {
 public:
  explicit OutputFile(const std::string& path) : fd_(CreateRawForWriting(path)) {
    if (fd_ < 0) error_ = errno;
  }
  ~OutputFile() { Close(); }
  void Write(const std::string& bytes) {
    for (std::size_t done = 0; error_ == 0 && done < bytes.size();) {
      const ssize_t put = ::write(fd_, bytes.data() + done, bytes.size() - done);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) error_ = put < 0 ? errno : EIO;
      if (put > 0) done += static_cast<std::size_t>(put);
    }
  }
  // Closes the file; the error number of the first failure, 0 for none.
  int Close() {
    if (fd_ >= 0 && ::close(fd_) != 0 && error_ == 0) error_ = errno;
    fd_ = -1;
    return error_;
  }
  int error() const { return error_; }

 private:
  int fd_;
  int error_ = 0;
};

}  // namespace

void LightPicture::AddPass(const float* band_values, const int* lamps) {
  Column c;
  for (int i = 0; i < kChannels; ++i) {
    float v = band_values[i];
    if (!std::isfinite(v) || v < 0) v = 0;
    c.green[i] = static_cast<std::uint8_t>(std::lround(std::min(v / kFullValue, 1.0f) * 255));
    if (lamps[i]) c.lit |= 1u << i;
  }
  columns_.push_back(c);
}

Rgb LightPicture::LegendAt(int x, int y) const {
  const int channel = kChannels - y / kBandRows;
  const std::string number = std::to_string(channel);
  // Right-aligned, one blank column before the show; glyph rows 1..5 of the band.
  const int left = kLegendWidth - 1 - TextWidth(number);
  return TextCovers(number, x - left, y % kBandRows - 1) ? kLegendText : Rgb{};
}

Rgb LightPicture::TimeAxisAt(int x, int y) const {
  const int last_second = std::max(passes() - 1, 0) / kPassesPerSecond;
  const int step = LabelStep(last_second);
  const int t = x - kLegendWidth;  // passes from the start
  if (t < 0) return Rgb{};
  const int second = t / kPassesPerSecond;
  const bool on_second = t % kPassesPerSecond == 0;
  const bool labelled = second % step == 0;
  // Ticks: rows 0-1 every second, row 2 as well where a label starts.
  if (y < 3) {
    if (!on_second || (y == 2 && !labelled)) return Rgb{};
    return labelled ? kLegendText : kSecondTick;
  }
  // Labels in rows 4..8, starting at their tick.
  const int label_second = second - second % step;
  const std::string label = TimeLabel(label_second);
  const int dx = t - label_second * kPassesPerSecond;
  return TextCovers(label, dx, y - 4) ? kLegendText : Rgb{};
}

Rgb LightPicture::at(int x, int y) const {
  if (x < 0 || x >= width() || y < 0 || y >= kHeight) return Rgb{};
  if (y >= kShowHeight) return TimeAxisAt(x, y - kShowHeight);
  if (x < kLegendWidth) return LegendAt(x, y);
  const int pass = x - kLegendWidth;
  if (pass >= passes()) return Rgb{};
  const Column& c = columns_[static_cast<std::size_t>(pass)];
  const int channel_index = kChannels - 1 - y / kBandRows;  // channel 18 at the top
  const int row = y % kBandRows;
  if (row < 2) return (c.lit >> channel_index) & 1 ? kLampLit : kLampDark;
  if (row == kBandRows - 1) return Rgb{};
  return Rgb{0, c.green[static_cast<std::size_t>(channel_index)], 0};
}

bool LightPicture::WritePng(const std::string& path, std::string& error) const {
  OutputFile file(path);
  auto failed = [&] {
    if (file.error() == 0) return false;
    error = "cannot write " + path + ": " + std::strerror(file.error());
    return true;
  };
  if (failed()) return false;

  const int w = width();
  std::string header;
  Put32(header, static_cast<std::uint32_t>(w));
  Put32(header, static_cast<std::uint32_t>(kHeight));
  header +=
      std::string("\x08\x02\x00\x00\x00", 5);  // 8 bits, RGB, deflate, no filter, no interlace
  file.Write(std::string("\x89PNG\r\n\x1a\n", 8));
  file.Write(Chunk("IHDR", reinterpret_cast<const unsigned char*>(header.data()), header.size()));

  // The image data, compressed row by row into IDAT chunks of up to 64 KB.
  z_stream z{};
  if (deflateInit(&z, 9) != Z_OK) {
    error = "cannot compress the picture";
    return false;
  }
  std::unique_ptr<z_stream, int (*)(z_stream*)> end_deflate(&z, &deflateEnd);
  std::vector<unsigned char> row(1 + 3 * static_cast<std::size_t>(w));
  std::vector<unsigned char> packed(1 << 16);
  for (int y = 0; y <= kHeight && !failed(); ++y) {
    const bool last = y == kHeight;
    if (!last) {
      row[0] = 0;  // filter: none
      for (int x = 0; x < w; ++x) {
        const Rgb p = at(x, y);
        row[1 + 3 * x] = p.r;
        row[2 + 3 * x] = p.g;
        row[3 + 3 * x] = p.b;
      }
      z.next_in = row.data();
      z.avail_in = static_cast<uInt>(row.size());
    }
    int result;
    do {
      z.next_out = packed.data();
      z.avail_out = static_cast<uInt>(packed.size());
      result = deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
      if (result == Z_STREAM_ERROR) {
        error = "cannot compress the picture";
        return false;
      }
      const std::size_t produced = packed.size() - z.avail_out;
      if (produced > 0) file.Write(Chunk("IDAT", packed.data(), produced));
    } while (z.avail_out == 0 || (last && result != Z_STREAM_END));
  }
  file.Write(Chunk("IEND", nullptr, 0));
  file.Close();
  return !failed();
}

}  // namespace glimmerix
