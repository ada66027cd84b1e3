#include "engine/capture/audio_capture.h"

#include <alsa/asoundlib.h>
#include <dlfcn.h>
#include <portaudio.h>

#include <algorithm>

namespace glimmerix {
namespace {

void IgnoreAlsaError(const char*, int, const char*, int, const char*, ...) {}
void IgnoreJackMessage(const char*) {}

// Keeps the sound libraries' diagnostics (dozens of lines on every PortAudio start when ALSA has
// no card or JACK no server) off the user's terminal. JACK is reached through PortAudio, so its
// functions are looked up in the running process rather than linked.
void QuietSoundLibraries() {
  static std::once_flag once;
  std::call_once(once, [] {
    snd_lib_error_set_handler(IgnoreAlsaError);
    using SetMessageFunction = void (*)(void (*)(const char*));
    for (const char* name : {"jack_set_error_function", "jack_set_info_function"}) {
      if (auto set = reinterpret_cast<SetMessageFunction>(dlsym(RTLD_DEFAULT, name))) {
        set(IgnoreJackMessage);
      }
    }
  });
}

}  // namespace

struct AudioCapture::PaHooks {
  // PortAudio's callback thread: copies the block into the ring and nothing else.
  static int Callback(const void* input, void*, unsigned long frames,
                      const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags, void* user) {
    if (input) {
      static_cast<AudioCapture*>(user)->live_.Deliver(static_cast<const float*>(input), frames,
                                                      Clock::now());
    }
    return paContinue;
  }
  static void Finished(void* user) {
    static_cast<AudioCapture*>(user)->finished_.store(true, std::memory_order_release);
  }
};

AudioCapture::~AudioCapture() {
  Stop();
}

void AudioCapture::Start() {
  std::lock_guard lock(control_mutex_);
  if (supervisor_.joinable()) return;
  supervisor_ = std::jthread([this](std::stop_token stop) { Run(stop); });
}

void AudioCapture::Stop() {
  std::lock_guard lock(control_mutex_);
  if (!supervisor_.joinable()) return;
  supervisor_.request_stop();
  wake_.notify_all();
  supervisor_.join();
  supervisor_ = std::jthread();
}

void AudioCapture::Collect() {
  last_collect_.store(Clock::now().time_since_epoch().count(), std::memory_order_relaxed);
  if (backend_.load(std::memory_order_acquire) != Backend::kSoundServer) return;
  std::unique_lock recording(recording_mutex_, std::try_to_lock);
  if (recording.owns_lock()) pulse_.Pump();
}

void AudioCapture::Fetch(float* fft) {
  live_.Fetch(fft, Clock::now());
}

bool AudioCapture::EngineCollects(Clock::time_point now) const {
  const Clock::rep last = last_collect_.load(std::memory_order_relaxed);
  return last != 0 && now - Clock::time_point(Clock::duration(last)) <= kCollectorGone;
}

void AudioCapture::DeliverFromServer(void* self, const float* samples, std::size_t count) {
  static_cast<AudioCapture*>(self)->live_.Deliver(samples, count, Clock::now());
}

void AudioCapture::Run(std::stop_token stop) {
  QuietSoundLibraries();
  Clock::time_point next_attempt = Clock::now();
  while (!stop.stop_requested()) {
    Clock::time_point wake = next_attempt;
    if (backend_.load(std::memory_order_relaxed) == Backend::kNone) {
      if (Clock::now() >= next_attempt) {
        Open();
        next_attempt = Clock::now() + kReopenInterval;
        wake = backend_.load(std::memory_order_relaxed) == Backend::kNone ? next_attempt
                                                                          : Clock::now();
      }
    } else {
      bool ended = false;
      bool collecting_here = false;
      {
        std::lock_guard recording(recording_mutex_);
        const Clock::time_point now = Clock::now();
        collecting_here = pulse_.is_open() && !EngineCollects(now);
        if (collecting_here) pulse_.Pump();
        const Clock::time_point last = std::max(opened_at_, live_.last_delivery());
        ended = Ended() || now - last > kReopenAfterSilence;
      }
      if (ended) {
        Close();
        continue;
      }
      wake = Clock::now() + (collecting_here ? Clock::duration(kCollectInterval)
                                             : Clock::duration(kWatchInterval));
    }
    std::unique_lock lock(wake_mutex_);
    wake_.wait_until(lock, stop, wake, [] { return false; });
  }
  Close();
}

bool AudioCapture::Ended() {
  if (pulse_.is_open()) return pulse_.failed();
  return finished_.load(std::memory_order_acquire) ||
         Pa_IsStreamActive(static_cast<PaStream*>(stream_)) != 1;
}

bool AudioCapture::Open() {
  std::lock_guard recording(recording_mutex_);
  live_.BeginStream();  // no callback runs yet: this thread is the ring's writer
  if (pulse_.Open(static_cast<unsigned>(kSampleRate), kPulseFragmentFrames, kServerTimeout)) {
    opened_at_ = Clock::now();
    streams_opened_.fetch_add(1, std::memory_order_acq_rel);
    backend_.store(Backend::kSoundServer, std::memory_order_release);
    server_answered_ = true;
    return true;
  }
  live_.EndStream();
  const Clock::time_point now = Clock::now();
  if (server_answered_ || now < next_fallback_) return false;
  fallback_tries_.fetch_add(1, std::memory_order_acq_rel);
  if (OpenPortAudio()) {
    fallback_wait_ = kReopenInterval;
    return true;
  }
  next_fallback_ = now + fallback_wait_;
  fallback_wait_ = std::min<Clock::duration>(2 * fallback_wait_, kFallbackWaitMax);
  return false;
}

bool AudioCapture::OpenPortAudio() {
  if (Pa_Initialize() != paNoError) return false;
  const PaDeviceIndex device = Pa_GetDefaultInputDevice();
  const PaDeviceInfo* info = device == paNoDevice ? nullptr : Pa_GetDeviceInfo(device);
  if (!info || info->maxInputChannels < 1) {
    Pa_Terminate();
    return false;
  }
  PaStreamParameters input{};
  input.device = device;
  input.channelCount = 1;
  input.sampleFormat = paFloat32;
  input.suggestedLatency = info->defaultLowInputLatency;
  PaStream* stream = nullptr;
  if (Pa_OpenStream(&stream, &input, nullptr, kSampleRate, kFramesPerBuffer, paNoFlag,
                    &PaHooks::Callback, this) != paNoError) {
    Pa_Terminate();
    return false;
  }
  finished_.store(false, std::memory_order_release);
  live_.BeginStream();  // no callback runs yet: this thread is the ring's writer
  Pa_SetStreamFinishedCallback(stream, &PaHooks::Finished);
  if (Pa_StartStream(stream) != paNoError) {
    live_.EndStream();
    Pa_CloseStream(stream);
    Pa_Terminate();
    return false;
  }
  stream_ = stream;
  opened_at_ = Clock::now();
  streams_opened_.fetch_add(1, std::memory_order_acq_rel);
  backend_.store(Backend::kPortAudio, std::memory_order_release);
  return true;
}

void AudioCapture::Close() {
  if (backend_.load(std::memory_order_relaxed) == Backend::kNone) return;
  std::lock_guard recording(recording_mutex_);
  live_.EndStream();
  backend_.store(Backend::kNone, std::memory_order_release);
  if (pulse_.is_open()) {
    pulse_.Close();
    return;
  }
  auto* stream = static_cast<PaStream*>(stream_);
  stream_ = nullptr;
  // Aborting returns at once; stopping can hang on a source that never delivers.
  Pa_AbortStream(stream);
  Pa_CloseStream(stream);
  Pa_Terminate();
}

}  // namespace glimmerix
