// The recording on Windows, into the same LiveSpectrum the other platforms fill: 22050 Hz mono.
//
// What is recorded is chosen with ChooseInput():
//   - the default input: the system's default recording device through waveIn (WAVE_MAPPER),
//     16-bit mono at 22050 Hz (the system converts whatever the device records); reopened when
//     the system names another device as its default;
//   - what this computer plays: WASAPI loopback capture of the default output (LoopbackStream),
//     moved to the new default output when that changes. Loopback delivers nothing while nothing
//     plays, which reads as silence. Where the system does not give loopback capture, that is
//     said once on stderr and the default input is recorded instead, until the default output
//     changes or the choice is made again;
//   - one recording device by its name as Sources() lists it (waveIn, by the device's name; see
//     ListRecordingDevices). A device that is not there records silence (problem "the chosen
//     input is not there") until it appears.
// The device list is taken by the recording thread when it starts (server_available() is true
// from then on) and again every kReopenEvery while it runs; sources_generation() changes with it
// and with source_in_use().
//
// A thread of the recording's own opens the stream and delivers what it brings. A stream that
// cannot be opened or started, or whose device goes, or (waveIn) that delivers nothing for
// kLostAfter, is closed and opened again every kReopenEvery until it works; meanwhile, and
// whenever nothing fresh arrives, the spectrum reads silence (LiveSpectrum). A new choice is
// taken at once.
//
// What keeps the lights dark is told as problem(), decided as on the other platforms
// (SoundWatch): a device that does not open or start, a chosen device that is not there, or a
// running recording that brings only silence for the silence interval (kSilenceReported unless
// given). The recording thread decides it and says each change once on stderr (a line when sound
// arrives again after a problem).
//
// Threads: Start, Stop on the main thread (problem on any); Fetch on the engine thread (it never
// allocates); the input choice and the listing from any thread, never waiting for the recording.
// COM is used on the recording thread only. The recording thread is the LiveSpectrum's only
// writer.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "engine/capture/live_spectrum.h"
#include "engine/capture/recording.h"
#include "engine/capture/sound_watch.h"

struct IMMDeviceEnumerator;

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
  // Wakes the recording thread and joins it; the stream is stopped and closed on the way out.
  void Stop() override;
  // "the recording device does not start" while it cannot be opened or started, "the chosen
  // input is not there", "no sound from the recording input" after the silence interval of
  // silence; else empty.
  std::string problem() const override {
    return std::string(RecordingProblemPhrase(problem_kind()));
  }
  RecordingProblem problem_kind() const { return problem_.load(); }

  void Fetch(float* fft) override;

  // Any thread, also before Start(): a running recording moves to the new input at once.
  void ChooseInput(InputKind kind, std::string source_name = {}) override;
  // The recording devices by name (name and description alike), in the system's order.
  std::vector<RecordingSourceInfo> Sources() const override;
  unsigned sources_generation() const override { return sources_generation_.load(); }
  // The name of the device recorded (for the default input, the system's default device as
  // listed, where the system tells it; for what this computer plays, the output's name); empty
  // while nothing records.
  std::string source_in_use() const override;
  bool server_available() const override { return listed_.load(); }
  std::string why_no_input_choice() const override {
    return "Windows has not listed its recording devices yet: Glimmerix records the default "
           "recording device until it has.";
  }

  // --- observation (any thread) ---
  // Streams opened so far (a reopening after a loss counts anew).
  unsigned streams_opened() const { return streams_opened_.load(); }
  // Loopback streams asked for so far, opened or not.
  unsigned loopback_attempts() const { return loopback_attempts_.load(); }
  // A loopback stream records now.
  bool recording_loopback() const { return recording_loopback_.load(); }
  std::uint64_t samples_delivered() const { return live_.delivered(); }
  // The newest count samples (see SampleRing::ReadNewest).
  std::size_t ReadNewest(float* out, std::size_t count) const {
    return live_.ReadNewest(out, count);
  }

 private:
  // What the choice comes to now, with the devices as last listed.
  struct Target {
    enum class Kind { kDevice, kLoopback, kMissing } kind = Kind::kDevice;
    unsigned device = 0;    // waveIn device id (or WAVE_MAPPER), for kDevice
    std::string name;       // what source_in_use() tells while it records
    std::wstring endpoint;  // the default output's id (kLoopback, and kDevice standing in)
    bool operator==(const Target&) const = default;
  };
  // How a stream ended.
  enum class StreamEnd { kNotStarted, kLost, kRetarget, kStopped };

  void Run(std::stop_token stop);
  // Recording thread: lists the devices and publishes a changed list.
  void Relist(IMMDeviceEnumerator* devices);
  Target Resolve(IMMDeviceEnumerator* devices);
  StreamEnd RecordDevice(std::stop_token& stop, const Target& target, IMMDeviceEnumerator* devices);
  StreamEnd RecordLoopback(std::stop_token& stop, const Target& target,
                           IMMDeviceEnumerator* devices);
  // Delivers what stream brings until it ends; false from take() means the device is gone.
  template <class Take>
  StreamEnd Follow(std::stop_token& stop, const Target& target, IMMDeviceEnumerator* devices,
                   void* ready, bool quiet_is_loss, std::chrono::milliseconds poll, Take&& take);
  // Waits up to timeout for Stop or a new choice.
  void Wait(std::chrono::milliseconds timeout);
  void PublishSourceInUse(const std::string& name);
  // Recording thread: publishes the problem and says a change on stderr.
  void Review(RecordingProblem problem, bool heard);

  LiveSpectrum live_;
  std::jthread thread_;
  void* wake_ = nullptr;    // an event (HANDLE) set to wake the recording thread for Stop
  void* chosen_ = nullptr;  // an auto-reset event (HANDLE) set by ChooseInput
  SoundWatch sound_watch_;  // recording thread only
  std::atomic<RecordingProblem> problem_{RecordingProblem::kNone};
  std::atomic<unsigned> streams_opened_{0};
  std::atomic<unsigned> loopback_attempts_{0};
  std::atomic<bool> recording_loopback_{false};

  mutable std::mutex choice_mutex_;  // guards kind_ and source_name_
  InputKind kind_ = InputKind::kDefaultInput;
  std::string source_name_;
  std::atomic<unsigned> choice_generation_{0};

  // Recording thread only: the device names as last listed; the
  // default output loopback was refused for, until the choice is made again; the choice last
  // taken; the device told as not starting.
  std::vector<std::string> devices_;
  std::optional<std::wstring> loopback_refused_for_;
  unsigned choice_taken_ = 0;
  std::string not_starting_;

  mutable std::mutex published_mutex_;  // guards sources_ and source_in_use_
  std::vector<RecordingSourceInfo> sources_;
  std::string source_in_use_;
  std::atomic<unsigned> sources_generation_{0};
  std::atomic<bool> listed_{false};
};

}  // namespace glimmerix
