// Live capture from the default recording device: 22050 Hz, mono, 32-bit float.
//
// The recording is taken from the sound server (PulseAudio, or PipeWire's pulse server) through
// its own client library, with no ALSA plug-ins loaded. The background thread collects what the
// server sent once per engine pass, kPumpLead before the fetch it expects next (the engine's pace
// is learnt from its fetches), so the engine reads fresh samples while the capture wakes no more
// often than the engine, whatever pace the server sends at. Where no sound server answers, it is
// taken through PortAudio from ALSA's (or JACK's) default device instead.
//
// Start() returns at once; a background thread opens the recording (which can take a few hundred
// ms) and keeps it open: when the stream reports an error or finishes, or delivers nothing for
// kReopenAfterSilence, it is closed and opened again, at most once every kReopenInterval, each
// time trying the sound server first (PortAudio is terminated and initialised in between so a
// restarted server or a new device is found again). No device, a device that fails to open and a
// stalled stream all read as silence.
//
// PortAudio's, ALSA's and JACK's diagnostics are kept off stderr (ALSA's error handler and JACK's
// message functions are replaced process-wide on first use).
//
// Threads: Start() and Stop() from one controlling thread (the main thread); Fetch() from the
// engine thread only, concurrently with everything else; it never blocks and never allocates.
// Status accessors from any thread. All sound library calls happen on the background thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stop_token>
#include <thread>

#include "engine/capture/live_spectrum.h"
#include "engine/capture/pulse_recording.h"
#include "engine/ports.h"

namespace glimmerix {

class AudioCapture : public SpectrumSource {
 public:
  static constexpr std::chrono::milliseconds kReopenAfterSilence{2000};
  static constexpr std::chrono::milliseconds kReopenInterval{2000};
  static constexpr unsigned long kFramesPerBuffer = 256;  // PortAudio's blocks, ~11.6 ms
  static constexpr unsigned kPulseFragmentFrames = 512;   // the sound server's, ~23 ms
  // The sound server's recording is collected this long before each expected fetch; every
  // kPumpInterval while nothing fetches.
  static constexpr std::chrono::milliseconds kPumpLead{4};
  static constexpr std::chrono::milliseconds kPumpInterval{20};
  static constexpr std::chrono::milliseconds kServerTimeout{3000};  // connecting, at most

  // Which client library the open recording goes through.
  enum class Backend { kNone, kSoundServer, kPortAudio };

  AudioCapture() = default;
  ~AudioCapture() override;  // Stop()
  AudioCapture(const AudioCapture&) = delete;
  AudioCapture& operator=(const AudioCapture&) = delete;

  // Starts the background thread that opens and watches the recording; does nothing if running.
  void Start();
  // Aborts the stream, terminates PortAudio and joins the thread. Waits at most for an open in
  // progress to finish; safe to call when not started and more than once.
  void Stop();

  // Engine thread: the spectrum of the newest 4096 samples, or zeros (see LiveSpectrum).
  void Fetch(float* fft) override;

  // A stream is open and running.
  bool streaming() const { return backend() != Backend::kNone; }
  // The stream delivers: a fetch now reads real samples, not silence.
  bool receiving() const { return live_.fresh(Clock::now()); }
  int streams_opened() const { return streams_opened_.load(std::memory_order_acquire); }
  Backend backend() const { return backend_.load(std::memory_order_acquire); }

  using Clock = LiveSpectrum::Clock;
  // When to collect the recording next, at or after now: kPumpLead before the fetch expected
  // after last_fetch (one fetch_period later, or a whole number of periods), or now +
  // kPumpInterval when fetches have not come for three periods or no period is known.
  static Clock::time_point NextPump(Clock::time_point now, Clock::time_point last_fetch,
                                    Clock::duration fetch_period);

 private:
  struct PaHooks;  // PortAudio's callbacks

  void Run(std::stop_token stop);
  bool Open();  // background thread
  bool OpenPortAudio();
  void Close();  // background thread
  bool Ended();  // background thread: the open stream has failed or finished
  static void DeliverFromServer(void* self, const float* samples, std::size_t count);

  LiveSpectrum live_;
  std::mutex control_mutex_;  // guards supervisor_ (Start/Stop)
  std::jthread supervisor_;
  std::mutex wake_mutex_;  // guards nothing but the supervisor's timed wait
  std::condition_variable_any wake_;
  PulseRecording pulse_{&AudioCapture::DeliverFromServer, this};  // background thread only
  void* stream_ = nullptr;             // PaStream*, background thread only
  Clock::time_point opened_at_{};      // background thread only
  std::atomic<bool> finished_{false};  // the stream ended or failed (set by PortAudio's thread)
  std::atomic<int> streams_opened_{0};
  std::atomic<Backend> backend_{Backend::kNone};
  // Engine thread (Fetch) writes, the background thread reads: steady-clock ticks.
  std::atomic<Clock::rep> last_fetch_{0};
  std::atomic<Clock::rep> fetch_period_{0};
};

}  // namespace glimmerix
