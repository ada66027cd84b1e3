// The sound a Windows endpoint mixes (any rate, any number of channels, float or integer samples)
// as the engine's input: mono, kSampleRate, 32-bit float, full scale 1.
//
// Channels are averaged; the rate is changed with a windowed-sinc filter whose cutoff lies at 45 %
// of the lower of the two rates, so that nothing above the engine's Nyquist frequency folds back
// into the spectrum. A rate equal to kSampleRate passes unfiltered. Output comes in blocks of at
// most kBlockSamples, continuous across calls.
//
// Threads: one thread (the recording's). Configure() allocates; Convert() never does as long as a
// call brings at most the frames given to Configure().
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace glimmerix {

enum class SampleEncoding { kFloat32, kInt16, kInt24, kInt32 };

class MixConverter {
 public:
  static constexpr int kTapsPerSide = 32;  // input samples on each side of an output sample
  static constexpr int kPhases = 512;      // fractional positions the filter is tabled for
  static constexpr std::size_t kBlockSamples = 512;

  // False (and nothing converted) for zero channels or a rate outside 4 kHz..768 kHz.
  bool Configure(SampleEncoding encoding, int channels, int rate, std::size_t max_frames);
  bool configured() const { return channels_ > 0; }

  // frames interleaved frames of the configured encoding at data (silent: read as zeros whatever
  // data holds); deliver(const float* samples, std::size_t count) gets the converted samples.
  template <class Deliver>
  void Convert(const void* data, std::size_t frames, bool silent, Deliver&& deliver) {
    if (!configured()) return;
    while (frames > 0) {
      const std::size_t take = std::min(frames, max_frames_);
      TakeIn(data, take, silent);
      if (data) data = static_cast<const std::uint8_t*>(data) + take * frame_bytes_;
      frames -= take;
      std::size_t count;
      while ((count = Produce()) > 0) deliver(out_.data(), count);
    }
  }

 private:
  // Appends frames as mono to pending_.
  void TakeIn(const void* data, std::size_t frames, bool silent);
  // Up to kBlockSamples output samples into out_ from pending_; drops what is no longer needed.
  std::size_t Produce();

  SampleEncoding encoding_ = SampleEncoding::kFloat32;
  int channels_ = 0;
  std::size_t frame_bytes_ = 0;
  std::size_t max_frames_ = 0;
  bool pass_through_ = false;
  double step_ = 1.0;           // input samples per output sample
  double position_ = 0;         // input index (in pending_) of the next output sample
  std::vector<float> filter_;   // kPhases + 1 rows of 2 * kTapsPerSide taps
  std::vector<float> pending_;  // mono input not yet used up, kTapsPerSide before position_
  std::size_t pending_count_ = 0;
  std::vector<float> out_;
};

}  // namespace glimmerix
