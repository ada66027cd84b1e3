// Sound files for glimmerix-replay --wav: read as the live capture would hear them, block by
// block, so memory stays the same for a file of any length and only what the passes use is read.
#pragma once

#include <samplerate.h>
#include <sndfile.h>

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "engine/capture/live_spectrum.h"
#include "engine/ports.h"
#include "tools/replay/sound_input.h"

namespace glimmerix {

// Any file libsndfile knows (WAV, FLAC, Ogg, MP3 where the library has it), its channels mixed
// down to their mean and resampled to kSampleRate (SRC_SINC_MEDIUM_QUALITY, one converter over
// the whole file, so the samples are those of converting the file in one go) where needed.
class SoundFileReader {
 public:
  // On failure returns false with a message in error.
  bool Open(const std::string& path, std::string& error);
  // The next samples at kSampleRate (valid until the next call); empty at the end of the file.
  // On a read or conversion error returns false with a message in error.
  bool NextBlock(std::span<const float>& block, std::string& error);

 private:
  // Reads and mixes down the next block of frames into mono_; false on a read error.
  bool ReadMono(std::string& error);

  std::string path_;
  std::unique_ptr<SNDFILE, int (*)(SNDFILE*)> file_{nullptr, &sf_close};
  std::unique_ptr<SRC_STATE, SRC_STATE* (*)(SRC_STATE*)> converter_{nullptr, &src_delete};
  int channels_ = 1;
  double ratio_ = 1.0;
  sf_count_t block_frames_ = 0;
  std::vector<float> frames_;   // one block as read, interleaved
  std::vector<float> mono_;     // the block mixed down
  std::size_t mono_count_ = 0;  // samples in mono_
  std::size_t mono_used_ = 0;   // of which the converter has taken this many
  bool file_ended_ = false;
  bool finished_ = false;
  std::vector<float> converted_;  // the converter's output
};

// The recording replayed pass by pass through the live capture's own fetch: pass k (from 0) sees
// the 4096 samples that end at sample floor((k + 1) * 1102.5), zeros before the file's start,
// and there are as many passes as whole 50 ms steps in the file.
class SoundFileSpectra : public SoundFileInput {
 public:
  SoundFileSpectra();
  bool Open(const std::string& path, std::string& error) override {
    return reader_.Open(path, error);
  }
  Step Next(std::string& error) override;
  void Fetch(float* fft) override;

 private:
  SoundFileReader reader_;
  std::vector<float> pending_;  // samples read but not yet delivered
  std::size_t pending_used_ = 0;
  long long pass_ = -1;
  long long delivered_ = 0;
  LiveSpectrum live_;
  LiveSpectrum::Clock::time_point now_{};
};

}  // namespace glimmerix
