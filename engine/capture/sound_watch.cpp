#include "engine/capture/sound_watch.h"

#include <algorithm>
#include <cmath>

namespace glimmerix {

std::string_view RecordingProblemPhrase(RecordingProblem problem) {
  switch (problem) {
    case RecordingProblem::kNoSoundServer:
      return "no sound server";
    case RecordingProblem::kDeviceDoesNotStart:
      return "the recording device does not start";
    case RecordingProblem::kNoSound:
      return "no sound from the recording input";
    case RecordingProblem::kSourceMissing:
      return "the chosen input is not there";
    case RecordingProblem::kNone:
      break;
  }
  return "";
}

void SoundWatch::Begin(const LiveSpectrum& live, Clock::time_point now) {
  silence_from_ = next_listen_ = now;
  listened_up_to_ = live.delivered();
  told_ = RecordingProblem::kNone;
}

bool SoundWatch::Listen(const LiveSpectrum& live, Clock::time_point now) {
  if (now < next_listen_) return false;
  next_listen_ = now + kListenEvery;
  const std::uint64_t delivered = live.delivered();
  const auto count = static_cast<std::size_t>(
      std::min<std::uint64_t>(delivered - listened_up_to_, listened_.size()));
  listened_up_to_ = delivered;
  live.ReadNewest(listened_.data(), count);
  const bool heard = std::any_of(listened_.begin(), listened_.begin() + count,
                                 [](float sample) { return std::fabs(sample) > kSoundLevel; });
  if (heard) silence_from_ = now;
  return heard;
}

bool SoundWatch::Tell(RecordingProblem problem, bool heard) {
  if (problem == told_ || (problem == RecordingProblem::kNone && !heard)) return false;
  told_ = problem;
  return true;
}

}  // namespace glimmerix
