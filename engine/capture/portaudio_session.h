// One try of the PortAudio fallback recording, from opening to closing, run so that no PortAudio
// call can hold up its owner.
//
// PortAudio has no timeouts: with a sound server that accepts connections but never answers,
// ALSA's pulse plug-in blocks Pa_Initialize() (which probes every device) or Pa_OpenStream() for
// as long as the server lives. So the open (initialise, open the default input, start it) runs on
// a thread of the session's own, and the close on another, each waited for only as long as the
// owner chooses; a session its owner gave up on finishes (or stays stuck) by itself and closes
// whatever it opened once its call returns.
//
// PortAudio is one per process: while a session holds it (from Begin() until its Pa_Terminate()
// has returned, even long after its owner gave up on it) no other session begins.
//
// Samples go to the target LiveSpectrum from PortAudio's callback thread; Detach() (part of End())
// guarantees that no callback touches the target afterwards, so the target may be destroyed even
// while the session's threads are stuck.
//
// Threads: Begin(), state(), ended() and End() from the owning thread only; the session itself is
// shared (std::shared_ptr) between the owner and its own threads and lives until the last of them
// lets go.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "engine/capture/live_spectrum.h"

namespace glimmerix {

class PortAudioSession : public std::enable_shared_from_this<PortAudioSession> {
 public:
  enum class State { kOpening, kOpen, kFailed, kClosed };

  // Starts opening the default input device (mono float32 at sample_rate, callbacks of
  // frames_per_buffer) on a thread of its own; its samples go to target, whose BeginStream() the
  // caller has made. nullptr when another session holds PortAudio or no thread could start.
  static std::shared_ptr<PortAudioSession> Begin(LiveSpectrum* target, double sample_rate,
                                                 unsigned long frames_per_buffer);
  // A session, of any owner, holds PortAudio.
  static bool held();

  State state() const;
  // While kOpen: the stream has finished or failed.
  bool ended() const;
  // Stops the deliveries and closes the stream, waiting at most `wait` for PortAudio to close (a
  // session still opening is left to close itself when its open returns). True when PortAudio was
  // let go within the wait. The target is never touched after this returns.
  bool End(std::chrono::milliseconds wait);

  PortAudioSession(const PortAudioSession&) = delete;
  PortAudioSession& operator=(const PortAudioSession&) = delete;

 private:
  struct Hooks;  // PortAudio's callbacks

  explicit PortAudioSession(LiveSpectrum* target) : target_(target) {}
  void OpenOnThisThread(double sample_rate, unsigned long frames_per_buffer);
  // Closes the stream (if any) and terminates PortAudio, then lets go of it.
  void CloseOnThisThread(void* stream);
  void Detach();

  // The target while the owner wants samples; callbacks inside it, counted so Detach() can wait
  // for them to leave.
  std::atomic<LiveSpectrum*> target_;
  std::atomic<int> callbacks_inside_{0};
  std::atomic<bool> finished_{false};  // set by PortAudio's finished callback

  mutable std::mutex mutex_;  // guards state_, stream_ and abandoned_
  std::condition_variable changed_;
  State state_ = State::kOpening;
  void* stream_ = nullptr;  // PaStream* while kOpen
  bool abandoned_ = false;  // the owner ended the session while it was opening
};

}  // namespace glimmerix
