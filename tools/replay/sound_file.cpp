#include "tools/replay/sound_file.h"

#include <samplerate.h>
#include <sndfile.h>

#include <algorithm>
#include <memory>

namespace glimmerix {
namespace {

// Samples per 50 ms pass at 22050 Hz, as a fraction: 1102.5 = 2205 / 2.
constexpr long long kPassNumerator = 2205;
constexpr long long kPassDenominator = 2;

}  // namespace

bool ReadSoundFile(const std::string& path, std::vector<float>& samples, std::string& error) {
  SF_INFO info{};
  std::unique_ptr<SNDFILE, int (*)(SNDFILE*)> file(sf_open(path.c_str(), SFM_READ, &info),
                                                   &sf_close);
  if (!file) {
    error = "cannot read " + path + ": " + sf_strerror(nullptr);
    return false;
  }
  if (info.channels < 1 || info.samplerate < 1 || info.frames < 0) {
    error = "cannot read " + path + ": no channels or no sample rate";
    return false;
  }
  const int channels = info.channels;
  std::vector<float> mono;
  mono.reserve(static_cast<std::size_t>(info.frames));
  std::vector<float> block(4096 * static_cast<std::size_t>(channels));
  while (true) {
    const sf_count_t got = sf_readf_float(file.get(), block.data(), 4096);
    if (got <= 0) break;
    for (sf_count_t f = 0; f < got; ++f) {
      double sum = 0;
      for (int c = 0; c < channels; ++c) sum += block[f * channels + c];
      mono.push_back(static_cast<float>(sum / channels));
    }
  }
  if (sf_error(file.get()) != SF_ERR_NO_ERROR) {
    error = "cannot read " + path + ": " + sf_strerror(file.get());
    return false;
  }

  if (info.samplerate == kSampleRate || mono.empty()) {
    samples = std::move(mono);
    return true;
  }
  const double ratio = static_cast<double>(kSampleRate) / info.samplerate;
  std::vector<float> out(static_cast<std::size_t>(mono.size() * ratio) + 64);
  SRC_DATA data{};
  data.data_in = mono.data();
  data.input_frames = static_cast<long>(mono.size());
  data.data_out = out.data();
  data.output_frames = static_cast<long>(out.size());
  data.src_ratio = ratio;
  data.end_of_input = 1;
  if (const int e = src_simple(&data, SRC_SINC_MEDIUM_QUALITY, 1)) {
    error = "cannot resample " + path + ": " + src_strerror(e);
    return false;
  }
  out.resize(static_cast<std::size_t>(data.output_frames_gen));
  samples = std::move(out);
  return true;
}

SoundFileSpectra::SoundFileSpectra(std::vector<float> samples)
    : samples_(std::move(samples)),
      passes_(static_cast<long long>(samples_.size()) * kPassDenominator / kPassNumerator) {
  live_.BeginStream();
}

bool SoundFileSpectra::Next() {
  if (pass_ + 1 >= passes_) return false;
  ++pass_;
  const auto end = static_cast<std::size_t>((pass_ + 1) * kPassNumerator / kPassDenominator);
  now_ += std::chrono::milliseconds(50);
  live_.Deliver(samples_.data() + delivered_, end - delivered_, now_);
  delivered_ = end;
  return true;
}

void SoundFileSpectra::Fetch(float* fft) {
  live_.Fetch(fft, now_);
}

}  // namespace glimmerix
