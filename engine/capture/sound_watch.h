// Whether a recording brings sound, decided the same way on every platform: the newest samples of
// its LiveSpectrum are looked at (at most every kListenEvery), and nothing but samples under
// kSoundLevel in magnitude for the silence interval (kSilenceReported unless given) counts as
// "no sound". It also keeps what was last told to the user, so that each problem is told once
// when it begins and its end only once sound is really heard again.
//
// Threads: one thread only (the recording's background thread), alongside the LiveSpectrum's
// writer. Listen() never allocates.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <string_view>

#include "engine/capture/live_spectrum.h"

namespace glimmerix {

// Why a recording brings no sound, if it does not.
enum class RecordingProblem {
  kNone,                // sound arrives, or not yet known (just started, just reopened)
  kNoSoundServer,       // no sound server answers, and nothing else records
  kDeviceDoesNotStart,  // the recording device does not open or does not start
  kNoSound,             // recording, but only silence for the silence interval
  kSourceMissing,       // the chosen source (or the default output's monitor) is not there
};

// The problem as a short lower-case phrase ("" for kNone); static text.
std::string_view RecordingProblemPhrase(RecordingProblem problem);

class SoundWatch {
 public:
  using Clock = LiveSpectrum::Clock;
  static constexpr std::chrono::milliseconds kListenEvery{250};
  static constexpr std::chrono::milliseconds kSilenceReported{10000};
  static constexpr float kSoundLevel = 1e-4f;  // full scale 1: about -80 dB

  explicit SoundWatch(std::chrono::milliseconds silence_reported = kSilenceReported)
      : silence_reported_(silence_reported) {}

  // Starts afresh at now: silence counts from now, what live delivered so far is not looked at,
  // and nothing counts as told.
  void Begin(const LiveSpectrum& live, Clock::time_point now);
  // Silence counts from now (a recording back after another problem).
  void RestartSilence(Clock::time_point now) { silence_from_ = now; }
  // When kListenEvery has passed since the last look: looks at the samples delivered since then
  // (the newest 8192 of them at most). True when one is above kSoundLevel; silence then counts
  // from now.
  bool Listen(const LiveSpectrum& live, Clock::time_point now);
  // Nothing but silence for the silence interval up to now.
  bool silent_too_long(Clock::time_point now) const {
    return now - silence_from_ >= silence_reported_;
  }
  std::chrono::milliseconds silence_reported() const { return silence_reported_; }
  // Whether problem is to be told now: it differs from the last one told and either is a
  // problem or comes with sound heard (heard: Listen()'s answer just now). Remembers it as told.
  bool Tell(RecordingProblem problem, bool heard);

 private:
  std::chrono::milliseconds silence_reported_;
  Clock::time_point silence_from_{};
  Clock::time_point next_listen_{};
  std::uint64_t listened_up_to_ = 0;
  std::array<float, 8192> listened_{};
  RecordingProblem told_ = RecordingProblem::kNone;
};

}  // namespace glimmerix
