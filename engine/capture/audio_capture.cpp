#include "engine/capture/audio_capture.h"

#include <alsa/asoundlib.h>
#include <dlfcn.h>

#include <algorithm>
#include <cstdio>

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

void AudioCapture::ChooseInput(InputKind kind, std::string source_name) {
  {
    std::lock_guard lock(choice_mutex_);
    chosen_kind_ = kind;
    chosen_name_ = std::move(source_name);
  }
  {
    std::lock_guard lock(wake_mutex_);
    input_chosen_.store(true, std::memory_order_release);
  }
  wake_.notify_all();
}

std::vector<RecordingSourceInfo> AudioCapture::Sources() const {
  std::lock_guard lock(published_mutex_);
  return sources_;
}

std::string AudioCapture::source_in_use() const {
  std::lock_guard lock(published_mutex_);
  return source_in_use_;
}

std::optional<std::string> AudioCapture::WantedSource() const {
  InputKind kind;
  std::string name;
  {
    std::lock_guard lock(choice_mutex_);
    kind = chosen_kind_;
    name = chosen_name_;
  }
  if (kind == InputKind::kNamedSource && name.empty()) kind = InputKind::kDefaultInput;
  switch (kind) {
    case InputKind::kDefaultInput:
      return watch_.default_source();
    case InputKind::kDefaultOutputMonitor:
      if (watch_.default_sink_monitor().empty()) return std::nullopt;
      return watch_.default_sink_monitor();
    case InputKind::kNamedSource:
      break;
  }
  if (!watch_.Lists(name)) return std::nullopt;
  return name;
}

bool AudioCapture::Watch(const std::stop_token& stop) {
  if (watch_.connected()) {
    watch_.Pump();
  } else {
    watch_.Connect(kServerTimeout, stop);
  }
  if (!watch_.connected()) watch_.Close();  // what it told is gone with it
  PublishSources();
  return watch_.connected();
}

void AudioCapture::PublishSources() {
  server_available_.store(watch_.connected(), std::memory_order_release);
  if (watch_.changes() == watch_changes_published_) return;
  watch_changes_published_ = watch_.changes();
  {
    std::lock_guard lock(published_mutex_);
    sources_ = watch_.sources();
  }
  sources_generation_.fetch_add(1, std::memory_order_acq_rel);
}

void AudioCapture::PublishSourceInUse(const std::string& name) {
  {
    std::lock_guard lock(published_mutex_);
    if (source_in_use_ == name) return;
    source_in_use_ = name;
  }
  sources_generation_.fetch_add(1, std::memory_order_acq_rel);
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
  const Clock::time_point started = Clock::now();
  sound_watch_.Begin(live_, started);
  problem_.store(Problem::kNone, std::memory_order_release);
  Clock::time_point next_attempt = started;
  while (!stop.stop_requested()) {
    // The watch's news, and a new choice, may ask for another source than the one recorded.
    const bool chosen_anew = input_chosen_.exchange(false, std::memory_order_acq_rel);
    if (watch_.connected() && (chosen_anew || Clock::now() >= next_watch_)) {
      next_watch_ = Clock::now() + kWatchInterval;
      const bool watching = Watch(stop);
      const std::optional<std::string> wanted = WantedSource();
      if (backend_.load(std::memory_order_relaxed) == Backend::kSoundServer &&
          (!watching || wanted != recording_from_)) {
        Close();
        next_attempt = Clock::now();
        continue;
      }
      if (source_missing_ && wanted) next_attempt = Clock::now();
    }
    // Not recording from the sound server: a new choice is tried at once.
    if (chosen_anew && backend_.load(std::memory_order_relaxed) == Backend::kNone && !fallback_) {
      next_attempt = Clock::now();
    }
    Clock::time_point wake = next_attempt;
    if (backend_.load(std::memory_order_relaxed) == Backend::kNone) {
      if (fallback_) {
        FollowFallback(Clock::now());
        wake = Clock::now() + (fallback_ ? Clock::duration(kWatchInterval) : Clock::duration(0));
      } else if (Clock::now() >= next_attempt) {
        Open(stop);
        next_attempt = Clock::now() + kReopenInterval;
        wake = backend_.load(std::memory_order_relaxed) == Backend::kNone && !fallback_
                   ? next_attempt
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
    if (watch_.connected()) wake = std::min(wake, next_watch_);
    Review(Clock::now());
    std::unique_lock lock(wake_mutex_);
    wake_.wait_until(lock, stop, wake,
                     [this] { return input_chosen_.load(std::memory_order_acquire); });
  }
  Close();
  watch_.Close();
  PublishSources();
}

bool AudioCapture::Ended() {
  if (pulse_.is_open()) return pulse_.failed();
  return !fallback_ || fallback_->ended();
}

void AudioCapture::Open(const std::stop_token& stop) {
  source_missing_ = false;
  if (Watch(stop)) {
    next_watch_ = Clock::now() + kWatchInterval;
    const std::optional<std::string> wanted = WantedSource();
    if (!wanted) {
      source_missing_ = true;
      server_failure_ = PulseRecording::OpenFailure::kNone;
      return;
    }
    std::lock_guard recording(recording_mutex_);
    live_.BeginStream();  // no delivery runs yet: this thread is the ring's writer
    if (pulse_.Open(static_cast<unsigned>(kSampleRate), kPulseFragmentFrames, kServerTimeout, stop,
                    *wanted)) {
      server_answered_ = true;
      server_failure_ = PulseRecording::OpenFailure::kNone;
      recording_from_ = *wanted;
      PublishSourceInUse(pulse_.source());
      Opened(Clock::now(), Backend::kSoundServer);
      return;
    }
    server_failure_ = pulse_.last_failure();
    live_.EndStream();
    // The source may have gone while it opened: then it is missing, not failing.
    watch_.Pump();
    source_missing_ = watch_.connected() && !WantedSource();
    if (source_missing_) return;
  } else {
    server_failure_ = stop.stop_requested() ? PulseRecording::OpenFailure::kStopped
                                            : PulseRecording::OpenFailure::kNoServer;
  }
  const Clock::time_point now = Clock::now();
  if (fallback_stuck_ && !PortAudioSession::held()) fallback_stuck_ = false;  // it came back
  if (stop.stop_requested() || server_answered_ || now < next_fallback_) return;
  live_.BeginStream();
  fallback_ = PortAudioSession::Begin(&live_, kSampleRate, kFramesPerBuffer);
  if (!fallback_) {  // an abandoned open still holds PortAudio
    live_.EndStream();
    return;
  }
  fallback_tries_.fetch_add(1, std::memory_order_acq_rel);
  fallback_began_ = now;
  next_fallback_ = now + fallback_wait_;
}

void AudioCapture::FollowFallback(Clock::time_point now) {
  switch (fallback_->state()) {
    case PortAudioSession::State::kOpen:
      fallback_wait_ = kReopenInterval;
      fallback_stuck_ = false;
      Opened(now, Backend::kPortAudio);
      return;
    case PortAudioSession::State::kOpening:
      if (now - fallback_began_ < kFallbackOpenTimeout) return;
      fallback_->End(std::chrono::milliseconds(0));
      fallback_stuck_ = true;
      break;
    case PortAudioSession::State::kFailed:
    case PortAudioSession::State::kClosed:
      fallback_stuck_ = false;
      break;
  }
  fallback_.reset();
  live_.EndStream();
  fallback_wait_ = std::min<Clock::duration>(2 * fallback_wait_, kFallbackWaitMax);
}

void AudioCapture::Opened(Clock::time_point now, Backend backend) {
  opened_at_ = now;
  // Back from a missing or stuck recording: silence counts from here.
  const Problem before = problem_.load(std::memory_order_relaxed);
  if (before != Problem::kNone && before != Problem::kNoSound) sound_watch_.RestartSilence(now);
  streams_opened_.fetch_add(1, std::memory_order_acq_rel);
  backend_.store(backend, std::memory_order_release);
}

void AudioCapture::Close() {
  if (fallback_) {
    // Deliveries stop here; a stuck close or open is left to finish by itself.
    fallback_->End(kFallbackCloseWait);
    fallback_.reset();
    live_.EndStream();
  }
  if (backend_.load(std::memory_order_relaxed) == Backend::kNone) return;
  std::lock_guard recording(recording_mutex_);
  live_.EndStream();
  backend_.store(Backend::kNone, std::memory_order_release);
  pulse_.Close();
  PublishSourceInUse("");
}

void AudioCapture::Review(Clock::time_point now) {
  const bool recording = backend_.load(std::memory_order_relaxed) != Backend::kNone;
  const bool heard = recording && sound_watch_.Listen(live_, now);

  Problem problem = problem_.load(std::memory_order_relaxed);
  if (recording) {
    problem = sound_watch_.silent_too_long(now) ? Problem::kNoSound : Problem::kNone;
  } else if (fallback_stuck_) {
    problem = Problem::kDeviceDoesNotStart;
  } else if (source_missing_) {
    problem = Problem::kSourceMissing;
  } else if (server_failure_ == PulseRecording::OpenFailure::kNoServer) {
    problem = Problem::kNoSoundServer;
  } else if (server_failure_ == PulseRecording::OpenFailure::kNoStream) {
    problem = Problem::kDeviceDoesNotStart;
  }
  problem_.store(problem, std::memory_order_release);
  // A problem is told when it begins; its end only once sound is really heard.
  if (sound_watch_.Tell(problem, heard)) Tell(problem);
}

void AudioCapture::Tell(Problem problem) const {
  const char* line = nullptr;
  switch (problem) {
    case Problem::kNone:
      line = "glimmerix: sound arrives from the recording input again.\n";
      break;
    case Problem::kNoSoundServer:
      line =
          "glimmerix: no sound server (PulseAudio, or PipeWire's pulse service) answers, so "
          "nothing is recorded and the lights stay dark; Glimmerix asks again every 2 s.\n";
      break;
    case Problem::kDeviceDoesNotStart:
      line = fallback_stuck_
                 ? "glimmerix: the recording device does not start: opening the default input "
                   "through PortAudio has not returned for 5 s (a sound server that takes the "
                   "connection but never answers does this); Glimmerix goes on asking the sound "
                   "server.\n"
                 : "glimmerix: the recording device does not start: the sound server answers "
                   "but does not start the recording; Glimmerix asks again every 2 s.\n";
      break;
    case Problem::kNoSound:
      line =
          "glimmerix: no sound from the recording input for 10 s. To follow what the computer "
          "plays, choose \"What this computer plays\" under \"Input\" in the tray menu.\n";
      break;
    case Problem::kSourceMissing:
      line =
          "glimmerix: the chosen input is not there, so nothing is recorded; recording starts "
          "again when it appears.\n";
      break;
  }
  std::fputs(line, stderr);
}

}  // namespace glimmerix
