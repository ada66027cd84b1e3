// Live capture from the default recording device: 22050 Hz, mono, 32-bit float, through
// PortAudio (which reaches PipeWire or PulseAudio through ALSA's default device).
//
// Start() returns at once; a background thread opens the recording (which can take a few hundred
// ms) and keeps it open: when the stream reports an error or finishes, or delivers nothing for
// kReopenAfterSilence, it is aborted and opened again, at most once every kReopenInterval, with
// PortAudio terminated and initialised in between so a restarted sound server is found again.
// No device, a device that fails to open and a stalled stream all read as silence.
//
// PortAudio's, ALSA's and JACK's diagnostics are kept off stderr (ALSA's error handler and JACK's
// message functions are replaced process-wide on first use).
//
// Threads: Start() and Stop() from one controlling thread (the main thread); Fetch() from the
// engine thread only, concurrently with everything else; it never blocks and never allocates.
// Status accessors from any thread. All PortAudio calls happen on the background thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stop_token>
#include <thread>

#include "engine/capture/live_spectrum.h"
#include "engine/ports.h"

namespace glimmerix {

class AudioCapture : public SpectrumSource {
 public:
  static constexpr std::chrono::milliseconds kReopenAfterSilence{2000};
  static constexpr std::chrono::milliseconds kReopenInterval{2000};
  static constexpr unsigned long kFramesPerBuffer = 256;  // ~11.6 ms blocks

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
  bool streaming() const { return streaming_.load(std::memory_order_acquire); }
  // The stream delivers: a fetch now reads real samples, not silence.
  bool receiving() const { return live_.fresh(Clock::now()); }
  int streams_opened() const { return streams_opened_.load(std::memory_order_acquire); }

 private:
  using Clock = LiveSpectrum::Clock;
  struct PaHooks;  // PortAudio's callbacks

  void Run(std::stop_token stop);
  bool Open();   // background thread
  void Close();  // background thread

  LiveSpectrum live_;
  std::mutex control_mutex_;  // guards supervisor_ (Start/Stop)
  std::jthread supervisor_;
  std::mutex wake_mutex_;  // guards nothing but the supervisor's timed wait
  std::condition_variable_any wake_;
  void* stream_ = nullptr;             // PaStream*, background thread only
  Clock::time_point opened_at_{};      // background thread only
  std::atomic<bool> finished_{false};  // the stream ended or failed (set by PortAudio's thread)
  std::atomic<bool> streaming_{false};
  std::atomic<int> streams_opened_{0};
};

}  // namespace glimmerix
