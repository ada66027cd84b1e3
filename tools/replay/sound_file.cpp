#include "tools/replay/sound_file.h"

#include <algorithm>
#include <filesystem>

namespace glimmerix {
namespace {

// Samples per 50 ms pass at 22050 Hz, as a fraction: 1102.5 = 2205 / 2.
constexpr long long kPassNumerator = 2205;
constexpr long long kPassDenominator = 2;
// Floats read from the file at a time (all channels), and samples the converter writes at a time.
constexpr std::size_t kReadFloats = 1 << 16;
constexpr sf_count_t kReadFrames = 4096;
constexpr std::size_t kConvertedSamples = 1 << 14;

}  // namespace

bool SoundFileReader::Open(const std::string& path, std::string& error) {
  path_ = path;
  if (std::error_code ec; std::filesystem::is_directory(path, ec)) {
    error = "cannot read " + path + ": it is a folder";
    return false;
  }
  SF_INFO info{};
  file_.reset(sf_open(path.c_str(), SFM_READ, &info));
  if (!file_) {
    error = "cannot read " + path + ": " + sf_strerror(nullptr);
    return false;
  }
  if (info.channels < 1 || info.samplerate < 1 || info.frames < 0) {
    error = "cannot read " + path + ": no channels or no sample rate";
    return false;
  }
  channels_ = info.channels;
  block_frames_ = std::clamp<sf_count_t>(
      static_cast<sf_count_t>(kReadFloats / static_cast<std::size_t>(channels_)), 1, kReadFrames);
  frames_.resize(static_cast<std::size_t>(block_frames_) * static_cast<std::size_t>(channels_));
  mono_.resize(static_cast<std::size_t>(block_frames_));
  if (info.samplerate != kSampleRate) {
    ratio_ = static_cast<double>(kSampleRate) / info.samplerate;
    if (!src_is_valid_ratio(ratio_)) {
      error = "cannot resample " + path + ": " + std::to_string(info.samplerate) +
              " Hz is too far from " + std::to_string(kSampleRate) + " Hz";
      return false;
    }
    int e = 0;
    converter_.reset(src_new(SRC_SINC_MEDIUM_QUALITY, 1, &e));
    if (!converter_) {
      error = "cannot resample " + path + ": " + src_strerror(e);
      return false;
    }
    converted_.resize(kConvertedSamples);
  }
  return true;
}

bool SoundFileReader::ReadMono(std::string& error) {
  const sf_count_t got = sf_readf_float(file_.get(), frames_.data(), block_frames_);
  if (got <= 0) {
    if (sf_error(file_.get()) != SF_ERR_NO_ERROR) {
      error = "cannot read " + path_ + ": " + sf_strerror(file_.get());
      return false;
    }
    file_ended_ = true;
  }
  mono_count_ = got > 0 ? static_cast<std::size_t>(got) : 0;
  mono_used_ = 0;
  for (std::size_t f = 0; f < mono_count_; ++f) {
    double sum = 0;
    for (int c = 0; c < channels_; ++c) sum += frames_[f * channels_ + c];
    mono_[f] = static_cast<float>(sum / channels_);
  }
  return true;
}

bool SoundFileReader::NextBlock(std::span<const float>& block, std::string& error) {
  block = {};
  if (!file_) return true;
  if (!converter_) {
    if (!file_ended_ && !ReadMono(error)) return false;
    block = std::span<const float>(mono_.data(), file_ended_ ? 0 : mono_count_);
    return true;
  }
  while (!finished_) {
    if (mono_used_ == mono_count_ && !file_ended_ && !ReadMono(error)) return false;
    SRC_DATA data{};
    data.data_in = mono_.data() + mono_used_;
    data.input_frames = static_cast<long>(mono_count_ - mono_used_);
    data.data_out = converted_.data();
    data.output_frames = static_cast<long>(converted_.size());
    data.src_ratio = ratio_;
    data.end_of_input = file_ended_ ? 1 : 0;
    if (const int e = src_process(converter_.get(), &data)) {
      error = "cannot resample " + path_ + ": " + src_strerror(e);
      return false;
    }
    mono_used_ += static_cast<std::size_t>(data.input_frames_used);
    if (data.output_frames_gen > 0) {
      block = std::span<const float>(converted_.data(),
                                     static_cast<std::size_t>(data.output_frames_gen));
      return true;
    }
    // At the end of the file, a call that gives nothing more ends the conversion.
    if (file_ended_ && mono_used_ == mono_count_) finished_ = true;
    if (!file_ended_ && data.input_frames_used == 0 && data.input_frames > 0) {
      error = "cannot resample " + path_ + ": the converter takes no more input";
      return false;
    }
  }
  return true;
}

SoundFileSpectra::SoundFileSpectra() {
  live_.BeginStream();
}

SoundFileSpectra::Step SoundFileSpectra::Next(std::string& error) {
  const long long end = (pass_ + 2) * kPassNumerator / kPassDenominator;
  const auto need = static_cast<std::size_t>(end - delivered_);
  while (pending_.size() - pending_used_ < need) {
    // Keep only what is not delivered yet, then append the next block.
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(pending_used_));
    pending_used_ = 0;
    std::span<const float> block;
    if (!reader_.NextBlock(block, error)) return Step::kError;
    if (block.empty()) return Step::kEnd;
    pending_.insert(pending_.end(), block.begin(), block.end());
  }
  ++pass_;
  now_ += std::chrono::milliseconds(50);
  live_.Deliver(pending_.data() + pending_used_, need, now_);
  pending_used_ += need;
  delivered_ = end;
  return Step::kPass;
}

void SoundFileSpectra::Fetch(float* fft) {
  live_.Fetch(fft, now_);
}

}  // namespace glimmerix
