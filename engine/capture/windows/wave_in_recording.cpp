#include "engine/capture/windows/wave_in_recording.h"

#include <windows.h>

#include <mmsystem.h>

#include "engine/capture/windows/device_names.h"
#include "engine/capture/windows/loopback_stream.h"
#include "engine/capture/windows/wave_format.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>

namespace glimmerix {
namespace {

using Clock = LiveSpectrum::Clock;

// An open waveIn device with its buffers, closed (after a reset that returns every buffer) when
// it goes out of scope.
class Stream {
 public:
  Stream(UINT device, HANDLE ready) {
    const WAVEFORMATEX format = MonoPcm16Format();
    if (waveInOpen(&device_, device, &format, reinterpret_cast<DWORD_PTR>(ready), 0,
                   CALLBACK_EVENT) != MMSYSERR_NOERROR) {
      device_ = nullptr;
      return;
    }
    for (int i = 0; i < WaveInRecording::kBuffers; ++i) {
      WAVEHDR& header = headers_[i];
      header.lpData = reinterpret_cast<LPSTR>(data_[i].data());
      header.dwBufferLength = sizeof data_[i];
      if (waveInPrepareHeader(device_, &header, sizeof header) != MMSYSERR_NOERROR ||
          waveInAddBuffer(device_, &header, sizeof header) != MMSYSERR_NOERROR)
        return;
      ++prepared_;
    }
    started_ = waveInStart(device_) == MMSYSERR_NOERROR;
  }
  ~Stream() {
    if (!device_) return;
    waveInReset(device_);
    for (int i = 0; i < prepared_; ++i)
      waveInUnprepareHeader(device_, &headers_[i], sizeof(WAVEHDR));
    waveInClose(device_);
  }
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;

  bool running() const { return started_; }

  // Delivers every filled buffer, in order, and hands it back to the device. False when the
  // device refuses a buffer back (it is gone).
  template <class Deliver>
  bool TakeFilled(Deliver&& deliver) {
    for (int n = 0; n < WaveInRecording::kBuffers; ++n) {
      WAVEHDR& header = headers_[next_];
      if (!(header.dwFlags & WHDR_DONE)) break;
      const int count = static_cast<int>(header.dwBytesRecorded / 2);
      if (count > 0) {
        for (int i = 0; i < count; ++i) samples_[i] = data_[next_][i] / 32768.0f;
        deliver(samples_.data(), static_cast<std::size_t>(count));
      }
      header.dwFlags &= ~WHDR_DONE;
      header.dwBytesRecorded = 0;
      if (waveInAddBuffer(device_, &header, sizeof header) != MMSYSERR_NOERROR) return false;
      next_ = (next_ + 1) % WaveInRecording::kBuffers;
    }
    return true;
  }

 private:
  HWAVEIN device_ = nullptr;
  int prepared_ = 0;
  bool started_ = false;
  int next_ = 0;  // the buffer the device fills first
  std::array<WAVEHDR, WaveInRecording::kBuffers> headers_{};
  std::array<std::array<std::int16_t, WaveInRecording::kBufferSamples>, WaveInRecording::kBuffers>
      data_{};
  std::array<float, WaveInRecording::kBufferSamples> samples_{};
};

// The COM apartment of the recording thread and the device enumerator made in it.
class ComSession {
 public:
  ComSession() : initialised_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
    if (initialised_ && FAILED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                                                __uuidof(IMMDeviceEnumerator),
                                                reinterpret_cast<void**>(&devices_))))
      devices_ = nullptr;
  }
  ~ComSession() {
    if (devices_) devices_->Release();
    if (initialised_) CoUninitialize();
  }
  ComSession(const ComSession&) = delete;
  ComSession& operator=(const ComSession&) = delete;
  IMMDeviceEnumerator* devices() const { return devices_; }

 private:
  bool initialised_;
  IMMDeviceEnumerator* devices_ = nullptr;
};

}  // namespace

WaveInRecording::WaveInRecording(std::chrono::milliseconds silence_reported)
    : wake_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      chosen_(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      sound_watch_(silence_reported) {}

WaveInRecording::~WaveInRecording() {
  Stop();
  if (wake_) CloseHandle(static_cast<HANDLE>(wake_));
  if (chosen_) CloseHandle(static_cast<HANDLE>(chosen_));
}

void WaveInRecording::Start() {
  if (thread_.joinable()) return;
  ResetEvent(static_cast<HANDLE>(wake_));
  thread_ = std::jthread([this](std::stop_token stop) { Run(stop); });
}

void WaveInRecording::Stop() {
  if (!thread_.joinable()) return;
  thread_.request_stop();
  SetEvent(static_cast<HANDLE>(wake_));
  thread_.join();
  thread_ = {};
  live_.EndStream();
}

void WaveInRecording::Fetch(float* fft) {
  live_.Fetch(fft, Clock::now());
}

void WaveInRecording::ChooseInput(InputKind kind, std::string source_name) {
  {
    std::lock_guard lock(choice_mutex_);
    kind_ = kind;
    source_name_ = std::move(source_name);
  }
  choice_generation_.fetch_add(1);
  SetEvent(static_cast<HANDLE>(chosen_));
}

std::vector<RecordingSourceInfo> WaveInRecording::Sources() const {
  std::lock_guard lock(published_mutex_);
  return sources_;
}

std::string WaveInRecording::source_in_use() const {
  std::lock_guard lock(published_mutex_);
  return source_in_use_;
}

void WaveInRecording::PublishSourceInUse(const std::string& name) {
  {
    std::lock_guard lock(published_mutex_);
    if (source_in_use_ == name) return;
    source_in_use_ = name;
  }
  sources_generation_.fetch_add(1);
}

void WaveInRecording::Relist(IMMDeviceEnumerator* devices) {
  std::vector<std::string> names = ListRecordingDevices(devices);
  if (names != devices_ || !listed_.load()) {
    devices_ = std::move(names);
    {
      std::lock_guard lock(published_mutex_);
      sources_.clear();
      for (const std::string& name : devices_) sources_.push_back({name, name, false});
    }
    sources_generation_.fetch_add(1);
  }
  listed_.store(true);
}

WaveInRecording::Target WaveInRecording::Resolve(IMMDeviceEnumerator* devices) {
  InputKind kind;
  std::string name;
  {
    std::lock_guard lock(choice_mutex_);
    kind = kind_;
    name = source_name_;
  }
  Target target;
  if (kind == InputKind::kNamedSource && !name.empty()) {
    const auto found = std::find(devices_.begin(), devices_.end(), name);
    if (found == devices_.end()) {
      target.kind = Target::Kind::kMissing;
    } else {
      target.device = static_cast<unsigned>(found - devices_.begin());
      target.name = name;
    }
    return target;
  }
  if (kind == InputKind::kDefaultOutputMonitor && devices) {
    target.endpoint = DefaultRenderEndpointId(devices);
    if (target.endpoint != loopback_refused_for_) {
      target.kind = Target::Kind::kLoopback;
      return target;
    }
  }
  target.device = WAVE_MAPPER;
  const int preferred = PreferredRecordingDevice();
  if (preferred >= 0 && preferred < static_cast<int>(devices_.size()))
    target.name = devices_[static_cast<std::size_t>(preferred)];
  return target;
}

void WaveInRecording::Wait(std::chrono::milliseconds timeout) {
  const HANDLE waits[2] = {static_cast<HANDLE>(wake_), static_cast<HANDLE>(chosen_)};
  WaitForMultipleObjects(2, waits, FALSE, static_cast<DWORD>(timeout.count()));
}

void WaveInRecording::Run(std::stop_token stop) {
  const ComSession com;
  sound_watch_.Begin(live_, Clock::now());
  problem_.store(RecordingProblem::kNone);
  while (!stop.stop_requested()) {
    const unsigned choice = choice_generation_.load();
    if (choice != choice_taken_) {
      choice_taken_ = choice;
      loopback_refused_for_.reset();  // asked for anew: loopback is tried again
    }
    Relist(com.devices());
    const Target target = Resolve(com.devices());
    StreamEnd end = StreamEnd::kNotStarted;
    if (target.kind == Target::Kind::kMissing) {
      PublishSourceInUse("");
      Review(RecordingProblem::kSourceMissing, false);
    } else if (target.kind == Target::Kind::kLoopback) {
      end = RecordLoopback(stop, target, com.devices());
      if (end == StreamEnd::kNotStarted) continue;  // the default input stands in, at once
    } else {
      end = RecordDevice(stop, target, com.devices());
      if (end == StreamEnd::kNotStarted) {
        not_starting_ = target.name;
        Review(RecordingProblem::kDeviceDoesNotStart, false);
      }
    }
    if (stop.stop_requested()) break;
    if (end != StreamEnd::kRetarget && choice_generation_.load() == choice) Wait(kReopenEvery);
  }
  PublishSourceInUse("");
}

template <class Take>
WaveInRecording::StreamEnd WaveInRecording::Follow(std::stop_token& stop, const Target& target,
                                                   IMMDeviceEnumerator* devices, void* ready,
                                                   bool quiet_is_loss,
                                                   std::chrono::milliseconds poll, Take&& take) {
  // Back from a device that did not start or was not there: silence counts from here.
  const RecordingProblem before = problem_.load();
  if (before == RecordingProblem::kDeviceDoesNotStart || before == RecordingProblem::kSourceMissing)
    sound_watch_.RestartSilence(Clock::now());
  streams_opened_.fetch_add(1);
  const unsigned choice = choice_taken_;  // the choice target was resolved from
  auto last_sound = Clock::now();
  auto next_look = last_sound + kReopenEvery;
  const HANDLE waits[3] = {static_cast<HANDLE>(ready), static_cast<HANDLE>(wake_),
                           static_cast<HANDLE>(chosen_)};
  while (!stop.stop_requested()) {
    WaitForMultipleObjects(3, waits, FALSE, static_cast<DWORD>(poll.count()));
    if (choice_generation_.load() != choice) return StreamEnd::kRetarget;
    const auto now = Clock::now();
    bool delivered = false;
    const bool alive = take([&](const float* samples, std::size_t count) {
      live_.Deliver(samples, count, now);
      delivered = true;
    });
    if (delivered) last_sound = now;
    const bool heard = sound_watch_.Listen(live_, now);
    Review(sound_watch_.silent_too_long(now) ? RecordingProblem::kNoSound : RecordingProblem::kNone,
           heard);
    if (!alive || (quiet_is_loss && now - last_sound > kLostAfter)) return StreamEnd::kLost;
    if (now >= next_look) {  // the devices or the defaults may have changed
      next_look = now + kReopenEvery;
      Relist(devices);
      if (!(Resolve(devices) == target)) return StreamEnd::kRetarget;
    }
  }
  return StreamEnd::kStopped;
}

WaveInRecording::StreamEnd WaveInRecording::RecordDevice(std::stop_token& stop,
                                                         const Target& target,
                                                         IMMDeviceEnumerator* devices) {
  HANDLE ready = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (!ready) return StreamEnd::kNotStarted;
  StreamEnd end = StreamEnd::kNotStarted;
  {
    live_.BeginStream();
    Stream stream(target.device, ready);
    if (stream.running()) {
      PublishSourceInUse(target.name);
      end = Follow(stop, target, devices, ready, /*quiet_is_loss=*/true,
                   std::chrono::milliseconds(100),
                   [&](auto&& deliver) { return stream.TakeFilled(deliver); });
    }
    live_.EndStream();
  }
  CloseHandle(ready);
  PublishSourceInUse("");
  return end;
}

WaveInRecording::StreamEnd WaveInRecording::RecordLoopback(std::stop_token& stop,
                                                           const Target& target,
                                                           IMMDeviceEnumerator* devices) {
  HANDLE ready = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (!ready) return StreamEnd::kNotStarted;
  loopback_attempts_.fetch_add(1);
  StreamEnd end = StreamEnd::kNotStarted;
  {
    live_.BeginStream();
    LoopbackStream stream;
    if (stream.Open(devices, ready)) {
      PublishSourceInUse(stream.endpoint_name());
      recording_loopback_.store(true);
      // Polled as well: not every system signals loopback packets.
      end = Follow(stop, target, devices, ready, /*quiet_is_loss=*/false,
                   std::chrono::milliseconds(20),
                   [&](auto&& deliver) { return stream.TakeFilled(deliver); });
      recording_loopback_.store(false);
    } else {
      loopback_refused_for_ = target.endpoint;
      std::fprintf(stderr,
                   "glimmerix: Windows does not record what this computer plays (loopback "
                   "capture of the default output fails %s: error 0x%08lx); the default "
                   "recording device is recorded instead.\n",
                   stream.failed_step(), static_cast<unsigned long>(stream.failure()));
    }
    stream.Close();
    live_.EndStream();
  }
  CloseHandle(ready);
  PublishSourceInUse("");
  return end;
}

void WaveInRecording::Review(RecordingProblem problem, bool heard) {
  problem_.store(problem);
  if (!sound_watch_.Tell(problem, heard)) return;
  char line[400];
  switch (problem) {
    case RecordingProblem::kNone:
      std::snprintf(line, sizeof line,
                    "glimmerix: sound arrives from the recording input again.\n");
      break;
    case RecordingProblem::kNoSound:
      if (recording_loopback_.load()) {
        std::snprintf(line, sizeof line,
                      "glimmerix: nothing heard from what this computer plays for %lld s.\n",
                      static_cast<long long>(sound_watch_.silence_reported().count() / 1000));
        break;
      }
      std::snprintf(line, sizeof line,
                    "glimmerix: no sound from the recording input for %lld s. To follow what the "
                    "computer plays, choose \"What this computer plays\" under \"Input\" in the "
                    "tray menu.\n",
                    static_cast<long long>(sound_watch_.silence_reported().count() / 1000));
      break;
    case RecordingProblem::kSourceMissing:
      std::snprintf(line, sizeof line,
                    "glimmerix: the chosen input is not there, so nothing is recorded; recording "
                    "starts again when it appears.\n");
      break;
    default:
      if (not_starting_.empty()) {
        std::snprintf(line, sizeof line,
                      "glimmerix: the recording device does not start: Windows does not open the "
                      "default recording device; Glimmerix asks again every second.\n");
      } else {
        std::snprintf(line, sizeof line,
                      "glimmerix: the recording device does not start: Windows does not open "
                      "\"%s\"; Glimmerix asks again every second.\n",
                      not_starting_.c_str());
      }
      break;
  }
  std::fputs(line, stderr);
}

}  // namespace glimmerix
