#include "engine/capture/windows/mix_converter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "engine/capture/spectrum_analyzer.h"

namespace glimmerix {
namespace {

std::size_t BytesPerSample(SampleEncoding encoding) {
  switch (encoding) {
    case SampleEncoding::kInt16:
      return 2;
    case SampleEncoding::kInt24:
      return 3;
    case SampleEncoding::kFloat32:
    case SampleEncoding::kInt32:
      break;
  }
  return 4;
}

float ReadSample(const std::uint8_t* at, SampleEncoding encoding) {
  switch (encoding) {
    case SampleEncoding::kFloat32: {
      float value;
      std::memcpy(&value, at, 4);
      return value;
    }
    case SampleEncoding::kInt16: {
      std::int16_t value;
      std::memcpy(&value, at, 2);
      return value / 32768.0f;
    }
    case SampleEncoding::kInt24: {
      const std::int32_t value =
          static_cast<std::int32_t>((std::uint32_t{at[0]} << 8) | (std::uint32_t{at[1]} << 16) |
                                    (std::uint32_t{at[2]} << 24));
      return static_cast<float>(value / 2147483648.0);
    }
    case SampleEncoding::kInt32: {
      std::int32_t value;
      std::memcpy(&value, at, 4);
      return static_cast<float>(value / 2147483648.0);
    }
  }
  return 0;
}

}  // namespace

bool MixConverter::Configure(SampleEncoding encoding, int channels, int rate,
                             std::size_t max_frames) {
  channels_ = 0;
  if (channels <= 0 || rate < 4000 || rate > 768000 || max_frames == 0) return false;
  encoding_ = encoding;
  frame_bytes_ = BytesPerSample(encoding) * static_cast<std::size_t>(channels);
  max_frames_ = max_frames;
  pass_through_ = rate == kSampleRate;
  step_ = static_cast<double>(rate) / kSampleRate;
  constexpr int kTaps = 2 * kTapsPerSide;
  if (!pass_through_) {
    // Cutoff as a fraction of the input rate; each row sums to 1 (gain 1 at 0 Hz).
    const double cutoff = 0.45 * std::min(rate, kSampleRate) / rate;
    filter_.assign(static_cast<std::size_t>(kPhases + 1) * kTaps, 0.0f);
    for (int phase = 0; phase <= kPhases; ++phase) {
      const double fraction = static_cast<double>(phase) / kPhases;
      float* row = &filter_[static_cast<std::size_t>(phase) * kTaps];
      double sum = 0;
      for (int k = 0; k < kTaps; ++k) {
        // Tap k weighs input sample floor(position) - kTapsPerSide + 1 + k.
        const double x = k - (kTapsPerSide - 1) - fraction;
        const double arg = 2 * cutoff * x;
        const double sinc =
            arg == 0 ? 1.0 : std::sin(std::numbers::pi * arg) / (std::numbers::pi * arg);
        const double w = (x + kTapsPerSide) / kTaps;  // 0..1 across the window
        const double blackman = w <= 0 || w >= 1 ? 0.0
                                                 : 0.42 - 0.5 * std::cos(2 * std::numbers::pi * w) +
                                                       0.08 * std::cos(4 * std::numbers::pi * w);
        row[k] = static_cast<float>(sinc * blackman);
        sum += row[k];
      }
      for (int k = 0; k < kTaps; ++k) row[k] = static_cast<float>(row[k] / sum);
    }
  }
  pending_.assign(max_frames + 2 * kTaps + 2, 0.0f);
  // Zeros stand before the first sample, so the first output sample is the first input's.
  pending_count_ = pass_through_ ? 0 : kTapsPerSide - 1;
  position_ = pass_through_ ? 0 : kTapsPerSide - 1;
  out_.assign(kBlockSamples, 0.0f);
  channels_ = channels;
  return true;
}

void MixConverter::TakeIn(const void* data, std::size_t frames, bool silent) {
  float* to = &pending_[pending_count_];
  const auto* from = static_cast<const std::uint8_t*>(data);
  const std::size_t sample_bytes = BytesPerSample(encoding_);
  for (std::size_t f = 0; f < frames; ++f) {
    float sum = 0;
    if (!silent && from) {
      for (int c = 0; c < channels_; ++c) sum += ReadSample(from + c * sample_bytes, encoding_);
      from += frame_bytes_;
    }
    to[f] = sum / static_cast<float>(channels_);
  }
  pending_count_ += frames;
}

std::size_t MixConverter::Produce() {
  std::size_t count = 0;
  if (pass_through_) {
    count = std::min(pending_count_ - static_cast<std::size_t>(position_), kBlockSamples);
    std::copy_n(&pending_[static_cast<std::size_t>(position_)], count, out_.begin());
    position_ += static_cast<double>(count);
  } else {
    constexpr int kTaps = 2 * kTapsPerSide;
    while (count < kBlockSamples) {
      const auto base = static_cast<std::size_t>(position_);
      if (base + kTapsPerSide + 1 > pending_count_) break;  // its right-hand taps not there yet
      const double fraction = position_ - static_cast<double>(base);
      const auto phase = static_cast<std::size_t>(std::lround(fraction * kPhases));
      const float* row = &filter_[phase * kTaps];
      const float* in = &pending_[base + 1 - kTapsPerSide];
      float value = 0;
      for (int k = 0; k < kTaps; ++k) value += row[k] * in[k];
      out_[count++] = value;
      position_ += step_;
    }
  }
  // Keeps kTapsPerSide samples before the next position (all that the filter looks back at).
  const std::size_t keep_from = std::min(
      pending_count_,
      static_cast<std::size_t>(position_) -
          std::min(static_cast<std::size_t>(position_), static_cast<std::size_t>(kTapsPerSide)));
  if (keep_from > 0) {
    std::copy(pending_.begin() + static_cast<std::ptrdiff_t>(keep_from),
              pending_.begin() + static_cast<std::ptrdiff_t>(pending_count_), pending_.begin());
    pending_count_ -= keep_from;
    position_ -= static_cast<double>(keep_from);
  }
  return count;
}

}  // namespace glimmerix
