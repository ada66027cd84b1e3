// A recording of one of the sound server's sources (its default, or one named) through its own
// client library (libpulse, spoken by PulseAudio and by PipeWire's pulse server), mono 32-bit
// float at the asked rate.
//
// Nothing but libpulse is loaded (no ALSA device enumeration, no plug-in threads), and the
// recording runs on no thread of its own: the owner calls Pump() at its own pace and takes
// everything the server has sent since in one go, through an event loop with no wake-up pipe
// (PulseEventLoop). The server may send in blocks of a few ms (it follows the sink or source it
// records from); each block costs a few system calls whatever the pace of Pump(), each Pump() one
// more. A sound server is never started on the program's behalf.
//
// Threads: one thread at a time (the owner serialises its threads' calls); the sink runs on the
// calling thread, within Pump(). The samples handed to the sink are valid only during its call.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <stop_token>
#include <string>

#include "engine/capture/pulse_event_loop.h"

struct pa_context;
struct pa_stream;

namespace glimmerix {

class PulseRecording {
 public:
  using Sink = void (*)(void* user, const float* samples, std::size_t count);

  PulseRecording(Sink sink, void* user) : sink_(sink), user_(user) {}
  ~PulseRecording();
  PulseRecording(const PulseRecording&) = delete;
  PulseRecording& operator=(const PulseRecording&) = delete;

  // How the last Open() failed.
  enum class OpenFailure {
    kNone,      // it succeeded (or was not tried)
    kNoServer,  // no server to connect to, or it did not answer in time
    kNoStream,  // the server answered but the recording did not start in time
    kStopped,   // given up at the caller's request
  };

  // Connects and starts recording from the source named `source` (its pulse name; empty: the
  // server's choice), waiting at most `timeout` for the server to answer; the server is asked to
  // keep blocks under fragment_frames. A named source is kept: when it goes away the stream fails
  // rather than being moved elsewhere. A stop requested through `stop` ends the wait within about
  // 50 ms. False when there is no server or no such source; nothing is left open then.
  bool Open(unsigned sample_rate, unsigned fragment_frames, std::chrono::milliseconds timeout,
            std::stop_token stop = {}, const std::string& source = {});
  OpenFailure last_failure() const { return last_failure_; }
  // Hands everything received so far to the sink; never waits.
  void Pump();
  // The connection or the stream has ended or failed since Open() succeeded.
  bool failed() const { return failed_; }
  bool is_open() const { return loop_ != nullptr; }
  // The pulse name of the source the open stream records from ("" when none is open).
  const std::string& source() const { return source_; }
  // Ends the recording. Safe when nothing is open.
  void Close();

 private:
  struct Hooks;  // libpulse's callbacks

  // Runs the loop until ready() holds, the connection fails or the deadline passes.
  template <typename Ready>
  bool RunUntil(Ready ready, std::chrono::steady_clock::time_point deadline,
                const std::stop_token& stop);

  Sink sink_;
  void* user_;
  std::unique_ptr<PulseEventLoop> loop_;
  pa_context* context_ = nullptr;
  pa_stream* stream_ = nullptr;
  std::string source_;
  bool failed_ = false;
  OpenFailure last_failure_ = OpenFailure::kNone;
};

}  // namespace glimmerix
