// What the program's connections to the sound server share (PulseRecording, PulseSourceWatch):
// opening a libpulse context that names the program, and running an event loop until an answer
// comes, with a deadline and a stop request.
//
// Threads: the calling thread, which owns the loop.
#pragma once

#include <algorithm>
#include <chrono>
#include <stop_token>

#include "engine/capture/pulse_event_loop.h"

struct pa_context;

namespace glimmerix {

// A new libpulse context on `loop` that names Glimmerix to the server (null when libpulse cannot
// make one), not yet connected. The caller owns it (pa_context_unref).
pa_context* NewProgramContext(PulseEventLoop& loop);

// Connects `context` (no server is started on the program's behalf); false when that fails at
// once.
bool ConnectProgramContext(pa_context* context);

// Disconnects and releases `context` with none of its callbacks called any more, and sets it to
// null. Does nothing when it is null.
void EndProgramContext(pa_context*& context);

// How RunLoopUntil ended.
enum class LoopOutcome { kReady, kFailed, kTimedOut, kStopped };

// Iterates `loop` until ready() holds, failed() holds, `deadline` passes, poll() fails (kFailed)
// or a stop is requested through `stop` (looked at every 50 ms when one is possible).
template <typename Ready, typename Failed>
LoopOutcome RunLoopUntil(PulseEventLoop& loop, Ready ready, Failed failed,
                         std::chrono::steady_clock::time_point deadline,
                         const std::stop_token& stop) {
  using namespace std::chrono;
  const long long slice_ms = stop.stop_possible() ? 50 : 1000;
  while (!failed()) {
    if (ready()) return LoopOutcome::kReady;
    if (stop.stop_requested()) return LoopOutcome::kStopped;
    const auto left = duration_cast<microseconds>(deadline - steady_clock::now()).count();
    if (left <= 0) return LoopOutcome::kTimedOut;
    if (loop.Iterate(static_cast<int>(std::min<long long>((left + 999) / 1000, slice_ms))) < 0) {
      return LoopOutcome::kFailed;
    }
  }
  return LoopOutcome::kFailed;
}

}  // namespace glimmerix
