#include "engine/capture/audio_capture.h"

#include <alsa/asoundlib.h>
#include <dlfcn.h>
#include <portaudio.h>

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

void AudioCapture::Fetch(float* fft) {
  const Clock::time_point now = Clock::now();
  const Clock::rep ticks = now.time_since_epoch().count();
  const Clock::rep previous = last_fetch_.exchange(ticks, std::memory_order_relaxed);
  if (previous != 0) fetch_period_.store(ticks - previous, std::memory_order_relaxed);
  live_.Fetch(fft, now);
}

AudioCapture::Clock::time_point AudioCapture::NextPump(Clock::time_point now,
                                                       Clock::time_point last_fetch,
                                                       Clock::duration fetch_period) {
  const Clock::duration lead = kPumpLead;
  if (fetch_period <= lead || fetch_period > std::chrono::seconds(1) ||
      now - last_fetch > 3 * fetch_period) {
    return now + kPumpInterval;
  }
  Clock::time_point next = last_fetch + fetch_period - lead;
  if (next <= now) next += ((now - next) / fetch_period + 1) * fetch_period;
  return next;
}

void AudioCapture::DeliverFromServer(void* self, const float* samples, std::size_t count) {
  static_cast<AudioCapture*>(self)->live_.Deliver(samples, count, Clock::now());
}

void AudioCapture::Run(std::stop_token stop) {
  QuietSoundLibraries();
  Clock::time_point next_attempt = Clock::now();
  while (!stop.stop_requested()) {
    const Clock::time_point now = Clock::now();
    if (backend_.load(std::memory_order_relaxed) == Backend::kNone) {
      if (now >= next_attempt) {
        Open();
        next_attempt = Clock::now() + kReopenInterval;
      }
    } else {
      pulse_.Pump();
      const Clock::time_point last = std::max(opened_at_, live_.last_delivery());
      if (Ended() || now - last > kReopenAfterSilence) Close();
    }
    Clock::time_point wake = Clock::now() + std::chrono::milliseconds(50);
    if (pulse_.is_open()) {
      wake =
          NextPump(Clock::now(),
                   Clock::time_point(Clock::duration(last_fetch_.load(std::memory_order_relaxed))),
                   Clock::duration(fetch_period_.load(std::memory_order_relaxed)));
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
  live_.BeginStream();  // no callback runs yet: this thread is the ring's writer
  if (pulse_.Open(static_cast<unsigned>(kSampleRate), kPulseFragmentFrames, kServerTimeout)) {
    opened_at_ = Clock::now();
    streams_opened_.fetch_add(1, std::memory_order_acq_rel);
    backend_.store(Backend::kSoundServer, std::memory_order_release);
    return true;
  }
  live_.EndStream();
  return OpenPortAudio();
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
