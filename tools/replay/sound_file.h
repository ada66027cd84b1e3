// Sound files for glimmerix-replay --wav: read as the live capture would hear them.
#pragma once

#include <string>
#include <vector>

#include "engine/capture/live_spectrum.h"
#include "engine/ports.h"

namespace glimmerix {

// Reads any file libsndfile knows (WAV, FLAC, Ogg, MP3 where the library has it), mixes its
// channels down to their mean and resamples to kSampleRate (SRC_SINC_MEDIUM_QUALITY) where
// needed. On failure returns false with a message in error.
bool ReadSoundFile(const std::string& path, std::vector<float>& samples, std::string& error);

// The recording replayed pass by pass through the live capture's own fetch: pass k (from 0) sees
// the 4096 samples that end at sample floor((k + 1) * 1102.5), zeros before the file's start,
// and there are as many passes as whole 50 ms steps in the file.
class SoundFileSpectra : public SpectrumSource {
 public:
  explicit SoundFileSpectra(std::vector<float> samples);
  long long passes() const { return passes_; }
  // Moves to the next pass; false after the last.
  bool Next();
  void Fetch(float* fft) override;

 private:
  std::vector<float> samples_;
  long long passes_ = 0;
  long long pass_ = -1;
  std::size_t delivered_ = 0;
  LiveSpectrum live_;
  LiveSpectrum::Clock::time_point now_{};
};

}  // namespace glimmerix
