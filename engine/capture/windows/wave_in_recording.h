// The recording on Windows: the system's default recording device through waveIn (WAVE_MAPPER),
// 16-bit mono at 22050 Hz (the system converts whatever the device records), into the same
// LiveSpectrum the other platforms fill.
//
// A thread of the recording's own opens the device, hands it kBuffers buffers of kBufferSamples
// and delivers each one filled. A device that cannot be opened or started, or whose stream ends or
// delivers nothing for kLostAfter, is closed and opened again every kReopenEvery until it works;
// meanwhile, and whenever nothing fresh arrives, the spectrum reads silence (LiveSpectrum).
//
// What keeps the lights dark is told as problem(), decided as on the other platforms
// (SoundWatch): a device that does not open or start, or a running recording that brings only
// silence for the silence interval (kSilenceReported unless given). The recording thread decides
// it and says each change once on stderr (a line when sound arrives again after a problem).
//
// There is no choice of input: the system's default recording device is recorded, the choice is
// kept but changes nothing, no source is listed and server_available() is false.
//
// Threads: Start, Stop and problem on the main thread (problem on any); Collect and Fetch on the
// engine thread; the input choice and the listing from any thread. The recording thread is the
// LiveSpectrum's only writer.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/capture/live_spectrum.h"
#include "engine/capture/recording.h"
#include "engine/capture/sound_watch.h"

namespace glimmerix {

class WaveInRecording : public Recording {
 public:
  static constexpr int kBuffers = 4;
  static constexpr int kBufferSamples = 512;  // 23 ms
  static constexpr std::chrono::milliseconds kLostAfter{1500};
  static constexpr std::chrono::milliseconds kReopenEvery{1000};

  static constexpr std::chrono::milliseconds kSilenceReported = SoundWatch::kSilenceReported;

  explicit WaveInRecording(std::chrono::milliseconds silence_reported = kSilenceReported);
  ~WaveInRecording() override;
  WaveInRecording(const WaveInRecording&) = delete;
  WaveInRecording& operator=(const WaveInRecording&) = delete;

  void Start() override;
  // Wakes the recording thread and joins it; the device is reset and closed on the way out.
  void Stop() override;
  // "the recording device does not start" while it cannot be opened or started, "no sound from
  // the recording input" after the silence interval of silence; else empty.
  std::string problem() const override {
    return std::string(RecordingProblemPhrase(problem_kind()));
  }
  RecordingProblem problem_kind() const { return problem_.load(); }

  void Fetch(float* fft) override;

  void ChooseInput(InputKind kind, std::string source_name = {}) override;
  std::vector<RecordingSourceInfo> Sources() const override { return {}; }
  unsigned sources_generation() const override { return 0; }
  std::string source_in_use() const override { return {}; }
  bool server_available() const override { return false; }

  // --- observation (any thread) ---
  // Streams opened so far (a reopening after a loss counts anew).
  unsigned streams_opened() const { return streams_opened_.load(); }
  std::uint64_t samples_delivered() const { return live_.delivered(); }
  // The newest count samples (see SampleRing::ReadNewest).
  std::size_t ReadNewest(float* out, std::size_t count) const {
    return live_.ReadNewest(out, count);
  }

 private:
  void Run(std::stop_token stop);
  // One stream from opening to its end (stop, loss or failure to open); true when it ran.
  bool RunStream(std::stop_token& stop);
  // Recording thread: decides the problem at now, publishes it and says a change on stderr.
  void Review(RecordingProblem problem, bool heard);

  LiveSpectrum live_;
  std::jthread thread_;
  void* wake_ = nullptr;    // an event (HANDLE) set to wake the recording thread for Stop
  SoundWatch sound_watch_;  // recording thread only
  std::atomic<RecordingProblem> problem_{RecordingProblem::kNone};
  std::atomic<unsigned> streams_opened_{0};

  mutable std::mutex choice_mutex_;  // guards kind_ and source_name_
  InputKind kind_ = InputKind::kDefaultInput;
  std::string source_name_;
};

}  // namespace glimmerix
