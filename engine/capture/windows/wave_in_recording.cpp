#include "engine/capture/windows/wave_in_recording.h"

#include <windows.h>

#include <mmsystem.h>

#include "engine/capture/windows/wave_format.h"

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
  Stream(HANDLE ready) {
    const WAVEFORMATEX format = MonoPcm16Format();
    if (waveInOpen(&device_, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(ready), 0,
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

}  // namespace

WaveInRecording::WaveInRecording(std::chrono::milliseconds silence_reported)
    : wake_(CreateEventW(nullptr, TRUE, FALSE, nullptr)), sound_watch_(silence_reported) {}

WaveInRecording::~WaveInRecording() {
  Stop();
  if (wake_) CloseHandle(static_cast<HANDLE>(wake_));
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
  std::lock_guard lock(choice_mutex_);
  kind_ = kind;
  source_name_ = std::move(source_name);
}

void WaveInRecording::Run(std::stop_token stop) {
  sound_watch_.Begin(live_, Clock::now());
  problem_.store(RecordingProblem::kNone);
  while (!stop.stop_requested()) {
    const bool ran = RunStream(stop);
    if (!ran) Review(RecordingProblem::kDeviceDoesNotStart, false);
    if (stop.stop_requested()) break;
    WaitForSingleObject(static_cast<HANDLE>(wake_), static_cast<DWORD>(kReopenEvery.count()));
  }
}

bool WaveInRecording::RunStream(std::stop_token& stop) {
  HANDLE ready = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (!ready) return false;
  bool ran = false;
  {
    live_.BeginStream();
    Stream stream(ready);
    if (stream.running()) {
      ran = true;
      // Back from a device that did not start: silence counts from here.
      if (problem_.load() == RecordingProblem::kDeviceDoesNotStart)
        sound_watch_.RestartSilence(Clock::now());
      streams_opened_.fetch_add(1);
      auto last_sound = Clock::now();
      const HANDLE waits[2] = {ready, static_cast<HANDLE>(wake_)};
      while (!stop.stop_requested()) {
        WaitForMultipleObjects(2, waits, FALSE, 100);
        const auto now = Clock::now();
        bool delivered = false;
        const bool alive = stream.TakeFilled([&](const float* samples, std::size_t count) {
          live_.Deliver(samples, count, now);
          delivered = true;
        });
        if (delivered) last_sound = now;
        const bool heard = sound_watch_.Listen(live_, now);
        Review(sound_watch_.silent_too_long(now) ? RecordingProblem::kNoSound
                                                 : RecordingProblem::kNone,
               heard);
        if (!alive || now - last_sound > kLostAfter) break;  // lost: reopen
      }
    }
    live_.EndStream();
  }
  CloseHandle(ready);
  return ran;
}

void WaveInRecording::Review(RecordingProblem problem, bool heard) {
  problem_.store(problem);
  if (!sound_watch_.Tell(problem, heard)) return;
  char line[320];
  switch (problem) {
    case RecordingProblem::kNone:
      std::snprintf(line, sizeof line,
                    "glimmerix: sound arrives from the recording input again.\n");
      break;
    case RecordingProblem::kNoSound:
      std::snprintf(line, sizeof line,
                    "glimmerix: no sound from the recording input for %lld s. To follow what the "
                    "computer plays, make \"Stereo Mix\" (or another device that records it) the "
                    "default recording device under Sound in the Control Panel.\n",
                    static_cast<long long>(sound_watch_.silence_reported().count() / 1000));
      break;
    default:
      std::snprintf(line, sizeof line,
                    "glimmerix: the recording device does not start: Windows does not open the "
                    "default recording device; Glimmerix asks again every second.\n");
      break;
  }
  std::fputs(line, stderr);
}

}  // namespace glimmerix
