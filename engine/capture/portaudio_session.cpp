#include "engine/capture/portaudio_session.h"

#include <portaudio.h>

#include <system_error>
#include <thread>

namespace glimmerix {
namespace {

std::atomic<bool> g_portaudio_held{false};

}  // namespace

struct PortAudioSession::Hooks {
  // PortAudio's callback thread: copies the block into the target and nothing else.
  static int Callback(const void* input, void*, unsigned long frames,
                      const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags, void* user) {
    auto* self = static_cast<PortAudioSession*>(user);
    self->callbacks_inside_.fetch_add(1);
    LiveSpectrum* target = self->target_.load();
    if (target && input) {
      target->Deliver(static_cast<const float*>(input), frames, LiveSpectrum::Clock::now());
    }
    self->callbacks_inside_.fetch_sub(1);
    return paContinue;
  }
  static void Finished(void* user) {
    static_cast<PortAudioSession*>(user)->finished_.store(true, std::memory_order_release);
  }
};

bool PortAudioSession::held() {
  return g_portaudio_held.load(std::memory_order_acquire);
}

std::shared_ptr<PortAudioSession> PortAudioSession::Begin(LiveSpectrum* target, double sample_rate,
                                                          unsigned long frames_per_buffer) {
  bool free = false;
  if (!g_portaudio_held.compare_exchange_strong(free, true)) return nullptr;
  std::shared_ptr<PortAudioSession> session(new PortAudioSession(target));
  try {
    std::thread([session, sample_rate, frames_per_buffer] {
      session->OpenOnThisThread(sample_rate, frames_per_buffer);
    }).detach();
  } catch (const std::system_error&) {
    g_portaudio_held.store(false, std::memory_order_release);
    return nullptr;
  }
  return session;
}

void PortAudioSession::OpenOnThisThread(double sample_rate, unsigned long frames_per_buffer) {
  const bool initialised = Pa_Initialize() == paNoError;
  PaStream* stream = nullptr;
  bool ok = initialised;
  if (ok) {
    const PaDeviceIndex device = Pa_GetDefaultInputDevice();
    const PaDeviceInfo* info = device == paNoDevice ? nullptr : Pa_GetDeviceInfo(device);
    ok = info && info->maxInputChannels >= 1;
    if (ok) {
      PaStreamParameters input{};
      input.device = device;
      input.channelCount = 1;
      input.sampleFormat = paFloat32;
      input.suggestedLatency = info->defaultLowInputLatency;
      ok = Pa_OpenStream(&stream, &input, nullptr, sample_rate, frames_per_buffer, paNoFlag,
                         &Hooks::Callback, this) == paNoError;
    }
  }
  if (ok) {
    Pa_SetStreamFinishedCallback(stream, &Hooks::Finished);
    ok = Pa_StartStream(stream) == paNoError;
  }
  if (!ok) {
    if (stream) Pa_CloseStream(stream);
    if (initialised) Pa_Terminate();
    g_portaudio_held.store(false, std::memory_order_release);
    std::lock_guard lock(mutex_);
    state_ = State::kFailed;
    changed_.notify_all();
    return;
  }
  {
    std::lock_guard lock(mutex_);
    if (!abandoned_) {
      stream_ = stream;
      state_ = State::kOpen;
      changed_.notify_all();
      return;
    }
  }
  CloseOnThisThread(stream);
}

void PortAudioSession::CloseOnThisThread(void* stream) {
  if (stream) {
    // Aborting returns at once; stopping can hang on a source that never delivers.
    Pa_AbortStream(static_cast<PaStream*>(stream));
    Pa_CloseStream(static_cast<PaStream*>(stream));
  }
  Pa_Terminate();
  g_portaudio_held.store(false, std::memory_order_release);
  std::lock_guard lock(mutex_);
  state_ = State::kClosed;
  changed_.notify_all();
}

PortAudioSession::State PortAudioSession::state() const {
  std::lock_guard lock(mutex_);
  return state_;
}

bool PortAudioSession::ended() const {
  void* stream = nullptr;
  {
    std::lock_guard lock(mutex_);
    stream = stream_;
  }
  return finished_.load(std::memory_order_acquire) ||
         Pa_IsStreamActive(static_cast<PaStream*>(stream)) != 1;
}

void PortAudioSession::Detach() {
  // Sequentially consistent with the callback's count and load: either the callback saw no
  // target, or its count is seen here and waited out.
  target_.store(nullptr);
  while (callbacks_inside_.load() != 0) std::this_thread::yield();
}

bool PortAudioSession::End(std::chrono::milliseconds wait) {
  Detach();
  void* stream = nullptr;
  {
    std::lock_guard lock(mutex_);
    if (state_ == State::kOpening) {
      abandoned_ = true;
      return false;
    }
    if (state_ != State::kOpen || !stream_) return true;
    stream = stream_;
    stream_ = nullptr;
  }
  // The closing thread holds the session until it is done.
  try {
    std::thread([self = shared_from_this(), stream] { self->CloseOnThisThread(stream); }).detach();
  } catch (const std::system_error&) {
    CloseOnThisThread(stream);
    return true;
  }
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, wait, [this] { return state_ == State::kClosed; });
}

}  // namespace glimmerix
