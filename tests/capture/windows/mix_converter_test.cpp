// The render mix turned into the engine's input: a tone at the usual mix formats comes out at
// its own bin with its own strength, a tone above the engine's Nyquist frequency does not fold
// back into the spectrum, and packets of any size give the same samples as one large one.
#include "engine/capture/windows/mix_converter.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <vector>

#include "engine/capture/live_spectrum.h"

namespace glimmerix {
namespace {

// seconds of a sine of amplitude at rate, in every channel (the last channel inverted when
// invert_last), as interleaved frames of encoding.
std::vector<std::uint8_t> Tone(SampleEncoding encoding, int channels, int rate, double hz,
                               double amplitude, double seconds, bool invert_last = false) {
  const std::size_t frames = static_cast<std::size_t>(seconds * rate);
  const std::size_t size = encoding == SampleEncoding::kInt16   ? 2
                           : encoding == SampleEncoding::kInt24 ? 3
                                                                : 4;
  std::vector<std::uint8_t> data(frames * channels * size);
  std::uint8_t* at = data.data();
  for (std::size_t n = 0; n < frames; ++n) {
    const double value = amplitude * std::sin(2 * std::numbers::pi * hz * n / rate);
    for (int c = 0; c < channels; ++c) {
      const double v = invert_last && c == channels - 1 ? -value : value;
      if (encoding == SampleEncoding::kFloat32) {
        const float f = static_cast<float>(v);
        std::memcpy(at, &f, 4);
      } else if (encoding == SampleEncoding::kInt16) {
        const auto i = static_cast<std::int16_t>(std::lround(v * 32767));
        std::memcpy(at, &i, 2);
      } else {
        const auto i = static_cast<std::int32_t>(std::lround(v * 8388607));
        at[0] = static_cast<std::uint8_t>(i & 0xff);
        at[1] = static_cast<std::uint8_t>((i >> 8) & 0xff);
        at[2] = static_cast<std::uint8_t>((i >> 16) & 0xff);
      }
      at += size;
    }
  }
  return data;
}

// Everything data converts to, delivered in packets of packet_frames.
std::vector<float> Convert(SampleEncoding encoding, int channels, int rate,
                           const std::vector<std::uint8_t>& data, std::size_t packet_frames) {
  MixConverter converter;
  EXPECT_TRUE(converter.Configure(encoding, channels, rate, 960));
  const std::size_t frame_bytes = (encoding == SampleEncoding::kInt16   ? 2
                                   : encoding == SampleEncoding::kInt24 ? 3
                                                                        : 4) *
                                  static_cast<std::size_t>(channels);
  std::vector<float> out;
  for (std::size_t at = 0; at < data.size(); at += packet_frames * frame_bytes) {
    const std::size_t frames = std::min(packet_frames, (data.size() - at) / frame_bytes);
    converter.Convert(data.data() + at, frames, false, [&](const float* samples, std::size_t n) {
      EXPECT_LE(n, MixConverter::kBlockSamples);
      out.insert(out.end(), samples, samples + n);
    });
  }
  return out;
}

// The spectrum of the newest samples, as the engine fetches it.
std::array<float, kSpectrumBins> SpectrumOf(const std::vector<float>& samples) {
  LiveSpectrum live;
  live.BeginStream();
  const auto now = LiveSpectrum::Clock::now();
  live.Deliver(samples.data(), samples.size(), now);
  std::array<float, kSpectrumBins> fft{};
  live.Fetch(fft.data(), now);
  return fft;
}

TEST(MixConverter, ToneAtTheCommonMixFormatsComesOutAtItsBinWithItsStrength) {
  struct Case {
    SampleEncoding encoding;
    int channels;
    int rate;
  };
  for (const Case c :
       {Case{SampleEncoding::kFloat32, 2, 48000}, Case{SampleEncoding::kInt16, 2, 44100},
        Case{SampleEncoding::kInt24, 6, 96000}, Case{SampleEncoding::kFloat32, 1, kSampleRate}}) {
    SCOPED_TRACE(testing::Message() << c.channels << " channels at " << c.rate << " Hz");
    const std::vector<float> out = Convert(c.encoding, c.channels, c.rate,
                                           Tone(c.encoding, c.channels, c.rate, 1000, 1, 1), 480);
    EXPECT_NEAR(static_cast<double>(out.size()), kSampleRate, 40) << "one second in, one out";
    const auto fft = SpectrumOf(out);
    EXPECT_NEAR(fft[186], 0.48f, 0.02f);
    EXPECT_LT(fft[100], 0.01f);
    EXPECT_LT(fft[1000], 0.01f);
  }
}

TEST(MixConverter, ChannelsAreAveragedAndSilentPacketsAreZeros) {
  const auto opposite = Tone(SampleEncoding::kFloat32, 2, 48000, 1000, 1, 0.5, true);
  for (float sample : Convert(SampleEncoding::kFloat32, 2, 48000, opposite, 480))
    ASSERT_EQ(sample, 0.0f);
  MixConverter converter;
  ASSERT_TRUE(converter.Configure(SampleEncoding::kFloat32, 2, 48000, 960));
  const auto loud = Tone(SampleEncoding::kFloat32, 2, 48000, 1000, 1, 0.02);
  std::size_t count = 0;
  converter.Convert(loud.data(), 960, /*silent=*/true, [&](const float* samples, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) EXPECT_EQ(samples[i], 0.0f);
    count += n;
  });
  EXPECT_GT(count, 400u);
}

TEST(MixConverter, ToneAboveTheEnginesNyquistDoesNotFoldBack) {
  // 15 kHz at 48 kHz would read as 7050 Hz (bin 1309) at 22050 Hz without the filter.
  const auto fft = SpectrumOf(Convert(SampleEncoding::kFloat32, 2, 48000,
                                      Tone(SampleEncoding::kFloat32, 2, 48000, 15000, 1, 1), 480));
  float loudest = 0;
  for (float bin : fft) loudest = std::max(loudest, bin);
  EXPECT_LT(loudest, 0.005f);
}

TEST(MixConverter, PacketSizesDoNotChangeTheSamples) {
  const auto tone = Tone(SampleEncoding::kFloat32, 2, 48000, 440, 0.7, 0.5);
  const std::vector<float> whole = Convert(SampleEncoding::kFloat32, 2, 48000, tone, 960);
  for (std::size_t packet : {1u, 7u, 441u, 960u}) {
    const std::vector<float> pieces = Convert(SampleEncoding::kFloat32, 2, 48000, tone, packet);
    ASSERT_EQ(pieces.size(), whole.size()) << packet;
    for (std::size_t i = 0; i < whole.size(); ++i) ASSERT_EQ(pieces[i], whole[i]) << packet;
  }
  EXPECT_NEAR(static_cast<double>(whole.size()), 11025, 20);
}

}  // namespace
}  // namespace glimmerix
