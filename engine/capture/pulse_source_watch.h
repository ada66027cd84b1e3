// What the sound server offers to record from, kept up to date: its sources (with their
// descriptions), its default source and the monitor source of its default sink.
//
// A connection of its own to the server (libpulse, spoken by PulseAudio and by PipeWire's pulse
// server), apart from the recording's, subscribed to the server's source, sink and server events:
// nothing is asked of the server while nothing changes, and each change is asked about once, when
// Pump() takes its event in. Like PulseRecording it runs on no thread of its own: the owner calls
// Pump() at its own pace, on an event loop with no wake-up pipe (PulseEventLoop).
//
// Threads: one thread at a time (the owner serialises its threads' calls); libpulse's callbacks
// run within Connect() and Pump(). A sound server is never started on the program's behalf.
#pragma once

#include <chrono>
#include <memory>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "engine/capture/pulse_event_loop.h"
#include "engine/capture/recording.h"

struct pa_context;

namespace glimmerix {

class PulseSourceWatch {
 public:
  PulseSourceWatch() = default;
  ~PulseSourceWatch();
  PulseSourceWatch(const PulseSourceWatch&) = delete;
  PulseSourceWatch& operator=(const PulseSourceWatch&) = delete;

  // Connects and subscribes, then waits until the server has told its sources and defaults; at
  // most `timeout` in all. A stop requested through `stop` ends the wait within about 50 ms. False
  // when the server does not answer in time; nothing is left open then.
  bool Connect(std::chrono::milliseconds timeout, std::stop_token stop = {});
  // Takes in the events and answers received so far; never waits.
  void Pump();
  // Connected, and the connection has not failed since.
  bool connected() const { return context_ != nullptr && !failed_; }
  // Ends the connection and forgets what it told. Safe when not connected.
  void Close();

  // What the server told, as of the last Connect() or Pump(); empty when it has not told.
  const std::vector<RecordingSourceInfo>& sources() const { return sources_; }
  const std::string& default_source() const { return default_source_; }
  const std::string& default_sink_monitor() const { return default_sink_monitor_; }
  bool Lists(std::string_view source_name) const;
  // Counts the changes of the three above taken in since Connect(); starts at 1 once it succeeds.
  unsigned changes() const { return changes_; }

 private:
  struct Hooks;  // libpulse's callbacks

  // Asks for the sources, or for the server's defaults, again (once more after an answer still
  // awaited, when one is).
  void AskSources();
  void AskDefaults();
  bool Told() const { return !sources_asked_ && !defaults_asked_; }

  std::unique_ptr<PulseEventLoop> loop_;
  pa_context* context_ = nullptr;
  bool failed_ = false;
  // Questions awaiting their answer, and whether each must be asked again after it.
  bool sources_asked_ = false, sources_again_ = false;
  bool defaults_asked_ = false, defaults_again_ = false;
  std::vector<RecordingSourceInfo> sources_, sources_coming_;
  std::string default_source_, default_sink_monitor_;
  // The answers being put together: the default source told with the server's info waits for the
  // default sink's monitor.
  std::string default_source_coming_, default_sink_monitor_coming_;
  unsigned changes_ = 0;
};

}  // namespace glimmerix
