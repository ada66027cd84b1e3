#include "engine/capture/pulse_recording.h"

#include <pulse/pulseaudio.h>

#include <algorithm>

#include "engine/capture/pulse_connection.h"
#include "engine/capture/pulse_event_loop.h"

namespace glimmerix {
namespace {

// Dispatch rounds one Pump() runs at most, so a server flooding the socket cannot hold it.
constexpr int kMaxPumpRounds = 256;

}  // namespace

struct PulseRecording::Hooks {
  static void ContextState(pa_context* context, void* user) {
    if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context))) {
      static_cast<PulseRecording*>(user)->failed_ = true;
    }
  }
  static void StreamState(pa_stream* stream, void* user) {
    if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) {
      static_cast<PulseRecording*>(user)->failed_ = true;
    }
  }
  // Each libpulse call checks for a fork with a system call, and a server may send a thousand
  // small blocks a second, so each block costs one peek and one drop and nothing more: the
  // readable length told here says when everything has been taken.
  static void Readable(pa_stream* stream, std::size_t readable, void* user) {
    auto* self = static_cast<PulseRecording*>(user);
    while (readable > 0) {
      const void* data = nullptr;
      std::size_t bytes = 0;
      if (pa_stream_peek(stream, &data, &bytes) < 0) {
        self->failed_ = true;
        return;
      }
      if (bytes == 0) return;
      // No data with a length is a hole in the recording: it is skipped.
      if (data) self->sink_(self->user_, static_cast<const float*>(data), bytes / sizeof(float));
      pa_stream_drop(stream);
      readable -= std::min(readable, bytes);
    }
  }
};

template <typename Ready>
bool PulseRecording::RunUntil(Ready ready, std::chrono::steady_clock::time_point deadline,
                              const std::stop_token& stop) {
  const LoopOutcome outcome = RunLoopUntil(
      *loop_, ready, [this] { return failed_; }, deadline, stop);
  if (outcome == LoopOutcome::kStopped) last_failure_ = OpenFailure::kStopped;
  return outcome == LoopOutcome::kReady;
}

PulseRecording::~PulseRecording() {
  Close();
}

bool PulseRecording::Open(unsigned sample_rate, unsigned fragment_frames,
                          std::chrono::milliseconds timeout, std::stop_token stop,
                          const std::string& source) {
  Close();
  failed_ = false;
  last_failure_ = OpenFailure::kNoServer;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  loop_ = std::make_unique<PulseEventLoop>();
  context_ = NewProgramContext(*loop_);
  bool ok = context_ != nullptr;
  if (ok) {
    pa_context_set_state_callback(context_, &Hooks::ContextState, this);
    ok = ConnectProgramContext(context_) &&
         RunUntil([&] { return pa_context_get_state(context_) == PA_CONTEXT_READY; }, deadline,
                  stop);
  }
  if (ok) {
    last_failure_ = OpenFailure::kNoStream;
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, sample_rate, 1};
    stream_ = pa_stream_new(context_, "Light organ input", &spec, nullptr);
    ok = stream_ != nullptr;
  }
  if (ok) {
    pa_stream_set_state_callback(stream_, &Hooks::StreamState, this);
    pa_stream_set_read_callback(stream_, &Hooks::Readable, this);
    pa_buffer_attr buffer{};
    buffer.maxlength = buffer.tlength = buffer.prebuf = buffer.minreq = static_cast<uint32_t>(-1);
    buffer.fragsize = static_cast<uint32_t>(fragment_frames * sizeof(float));
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY |
                                                      (source.empty() ? 0 : PA_STREAM_DONT_MOVE));
    ok = pa_stream_connect_record(stream_, source.empty() ? nullptr : source.c_str(), &buffer,
                                  flags) == 0 &&
         RunUntil([&] { return pa_stream_get_state(stream_) == PA_STREAM_READY; }, deadline, stop);
  }
  if (ok) {
    last_failure_ = OpenFailure::kNone;
    const char* device = pa_stream_get_device_name(stream_);
    source_ = device ? device : source;
  }
  if (!ok) Close();
  return ok;
}

void PulseRecording::Pump() {
  if (!loop_) return;
  for (int round = 0; round < kMaxPumpRounds; ++round) {
    if (loop_->Iterate(0) <= 0) return;
  }
}

void PulseRecording::Close() {
  source_.clear();
  if (!loop_) return;
  if (stream_) {
    pa_stream_set_read_callback(stream_, nullptr, nullptr);
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
    stream_ = nullptr;
  }
  EndProgramContext(context_);
  loop_.reset();
}

}  // namespace glimmerix
