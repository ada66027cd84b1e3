// The DMX output: the 18 light channels sent to one DMX universe through a lighting daemon (OLA
// on Linux), beside the USB controller, the parallel port and the keyboard lamps.
//
// Channel n goes to DMX slot start + n - 1. With the on/off mapping an "on" channel sends the on
// level and an "off" one 0. With the level mapping a channel sends the band's value as its column
// shows it: the column's bar is 2 pixels per unit and 60 pixels tall, so the shown height
// (0..60 pixels) is scaled linearly onto 0..level. The scale is the column's, so the dimmer and
// the window agree, and its top is the on level, so that setting caps both mappings alike. With
// Invert ticked the level mapping sends level minus that value, as Invert turns on into off.
// Every frame carries all 512 slots, those outside the 18 channels at 0: a slot given up by a
// change of the start address never keeps its last value.
//
// Threads:
// - ChannelsSent runs on the engine thread. It allocates nothing and never waits: it works out
//   the 18 values and copies them into the latest-value slot under a mutex held for that copy.
// - A sender thread of the output's own takes the newest values and sends a frame whenever they
//   change, and at least once every kKeepAliveMs while they do not (receivers drop a universe
//   after 2.5 s of silence). Only it talks to the daemon; a daemon that is missing, gone or
//   frozen costs only that thread. It connects again every kReconnectMs while it cannot send, and
//   says why on stderr once per cause until it sends again.
// - Apply, settings and the destructor run on the main thread, SwitchOff there or on the thread of
//   an emergency stop; status() on any. Every call is safe against the others.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "engine/ports.h"
#include "outputs/dmx_frames.h"

namespace glimmerix {

// The daemon's side, used on the sender thread only: one connection at a time.
class DmxConnection {
 public:
  virtual ~DmxConnection() = default;
  // Connects; false with the reason in why when the daemon cannot be reached. May take as long as
  // a local connect.
  virtual bool Connect(std::string& why) = 0;
  // Sends a frame to the universe; false with the reason when the connection is lost (it is then
  // closed, and Connect tried again later). May block while the daemon does not read.
  virtual bool Send(int universe, const DmxFrame& frame, std::string& why) = 0;
};

class DmxOutput : public ChannelSink {
 public:
  static constexpr int kKeepAliveMs = 1000;
  static constexpr int kReconnectMs = 3000;
  static constexpr int kSwitchOffWaitMs = 1000;
  static constexpr int kLastFrameLingerMs = 200;  // the connection stays open after the last frame

  // connection: the daemon's connection, used on the sender thread, which starts here.
  explicit DmxOutput(std::unique_ptr<DmxConnection> connection);
  // Ends the sender (SwitchOff first when it was not called), waiting at most kSwitchOffWaitMs; a
  // sender still blocked in the daemon's connection is left behind holding only its own state.
  ~DmxOutput() override;
  DmxOutput(const DmxOutput&) = delete;
  DmxOutput& operator=(const DmxOutput&) = delete;

  // Main thread. Takes settings already checked. Disabling, or moving to another universe, sends
  // that universe one all-zero frame.
  void Apply(const DmxSettings& settings);
  DmxSettings settings() const;

  // Engine thread: the pass's channels (nothing happens while disabled or after SwitchOff).
  void ChannelsSent(const int* states, const float* band_values, bool inverted) override;

  // Main thread, at shutdown after the controller's all-off reports: one all-zero frame (when
  // enabled and the daemon can be reached), then the sender ends. Waits for that at most
  // kSwitchOffWaitMs. Later passes send nothing.
  void SwitchOff();

  // Any thread: "" while disabled; otherwise whether the daemon answers, e.g. "OLA answers:
  // sending universe 1, slots 1-18" or why it cannot send.
  std::string status() const;

 private:
  struct Shared;
  static void RunSender(std::shared_ptr<Shared> shared, std::unique_ptr<DmxConnection> connection);

  std::shared_ptr<Shared> shared_;  // also held by the sender thread
  std::thread sender_;
};

}  // namespace glimmerix
