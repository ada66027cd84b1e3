// The light-music engine: one pass every ~50 ms turns a spectrum into 18 band values, decides
// the 18 light channels by the mode, draws the 18 spectrum columns, drives the keyboard lamps,
// packs and sends the USB controller's reports, writes the parallel port and watches the mode
// hot keys.
//
// Threads: an Engine belongs to the thread that runs its passes (the engine thread). It shares
// with other threads only EngineShared (atomics) and the ControlTable (thread-safe). The
// observers below (band_values(), channel_states(), lamps ...) are for the engine thread itself,
// for tests and for the replay tool, which run passes on their own thread.
//
// A pass allocates nothing and never blocks on the GUI.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <stop_token>

#include "engine/column_picture.h"
#include "engine/controls.h"
#include "engine/ports.h"

namespace glimmerix {

// Values of EngineShared::mode: which decision the pass makes.
inline constexpr int kModeNone = 0;
inline constexpr int kModeManual = 1;
inline constexpr int kModeAuto = 2;
inline constexpr int kModeRnd = 3;

// Program-wide values shared between the engine thread and the main thread.
struct EngineShared {
  std::atomic<int> mode{kModeNone};  // the light mode; written by the GUI thread and presets only
  std::atomic<int> send_bright_and_step{0};  // 1: the next pass sends Bright and Step
  std::atomic<int> closing{0};  // 1: the program is closing, the engine sends nothing more
  // True while another party (the controller dialog's light test) drives the controller and the
  // parallel port: passes go on deciding and drawing but send nothing, and a raised
  // send_bright_and_step waits for the first pass after the pause.
  std::atomic<bool> output_paused{false};
  std::atomic<int> engine_level_bar{0};  // the engine's copy of the Level bar, end of each pass
  std::atomic<int> engine_agc_bar{0};    // the engine's copy of the AGC bar, every pass
};

// Told after each column is drawn, on the engine thread; must not block or allocate. PassBegins
// and PassEnded bracket every pass, so a sink can pass on one pass's changes together.
class ColumnSink {
 public:
  virtual ~ColumnSink() = default;
  virtual void ColumnDrawn(int column, float band_value, int lamp,
                           const ColumnPicture& picture) = 0;
  virtual void PassBegins() {}
  virtual void PassEnded() {}
};

// The engine's connections; a null pointer means "not connected" (the step does nothing, a
// missing spectrum source leaves the buffer as it was).
struct EnginePorts {
  SpectrumSource* spectrum = nullptr;
  UsbPort* usb = nullptr;
  ParallelPort* lpt = nullptr;
  KeyboardLamps* lamps = nullptr;
  HotKeyState* keys = nullptr;
  ClickPoster* clicks = nullptr;
  RandomSource* random = nullptr;
  Sleeper* sleeper = nullptr;
  ColumnSink* columns = nullptr;
  ChannelSink* channels = nullptr;
};

class Engine {
 public:
  static constexpr int kMaster = 6;        // numerator of the gain
  static constexpr int kPassSleepMs = 50;  // rest between passes
  static constexpr int kLptData = 0x378;
  static constexpr int kLptControl = 0x37A;
  static constexpr int kLptControlAllOff = 0x0B;

  Engine(ControlTable& controls, EngineShared& shared, const EnginePorts& ports);
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // One pass, steps 1 to 13 (the rest that follows a pass is RunLoop's).
  void RunPass();

  // The thread body: passes 50 ms apart, each preceded by the spectrum source's Collect(), until a
  // stop is requested. The pass in progress always finishes; nothing is sent after this returns.
  void RunLoop(std::stop_token stop);

  // --- observation, engine thread only ---
  const std::array<float, 20>& band_values() const { return band_values_; }
  int gain() const { return gain_; }
  const std::array<int, kChannels + 1>& channel_states() const { return channel_states_; }
  int group_b_command() const { return group_b_command_; }
  int group_c_command() const { return group_c_command_; }
  int group_d_command() const { return group_d_command_; }
  int lpt_data() const { return lpt_data_; }
  int lpt_control() const { return lpt_control_; }
  int num_lock_lamp() const { return num_lock_lamp_; }
  int caps_lock_lamp() const { return caps_lock_lamp_; }
  int scroll_lock_lamp() const { return scroll_lock_lamp_; }
  std::array<int, 3> lamp_peaks() const {
    return {num_lamp_peak_, caps_lamp_peak_, scroll_lamp_peak_};
  }
  std::array<float, 3> lamp_levels() const {
    return {num_lamp_level_, caps_lamp_level_, scroll_lamp_level_};
  }
  int agc_pass_count() const { return agc_pass_count_; }
  int rnd_threshold() const { return rnd_threshold_; }
  const ColumnPicture& column(int i) const { return pictures_[i]; }
  int column_lamp(int i) const { return column_lamps_[i]; }  // 0 for a column never drawn

 private:
  void AnalyseBands();
  void DecideManual();
  void CountAgc();
  void DecideAuto();
  void DecideRnd();
  void DecideLeds();
  void Invert();
  void SendPorts();
  void WatchHotKeys();
  void ChannelDecided(int channel, bool on);
  // Draws column 0..17 with its lamp (0 off, 1 on) and tells the column sink.
  void DrawChannelColumn(int column, int lamp);
  void Send(int value);
  void Click(int gadget, bool with_gaps);
  void Sleep(int ms);

  ControlTable& controls_;
  EngineShared& shared_;
  EnginePorts ports_;

  std::array<float, kSpectrumBins + 1> spectrum_{};  // spectrum buffer, filled by the fetch
  std::array<float, 20> band_values_{};              // band values 0..17, total 18; 19 unused
  std::array<int, kChannels + 1> channel_states_{};  // channel states; element 0 stays 0
  int gain_ = 0;                                     // the pass's integer gain
  int agc_pass_count_ = 0;                           // AGC pass counter
  int agc_release_step_ = 1;                         // AGC release step
  int rnd_threshold_ = 0;                            // Rnd threshold of the pass, 26..39
  float num_lamp_level_ = 0, caps_lamp_level_ = 0,
        scroll_lamp_level_ = 0;                                        // keyboard lamp group levels
  int num_lamp_peak_ = 0, caps_lamp_peak_ = 0, scroll_lamp_peak_ = 0;  // keyboard lamp peaks
  int num_lock_lamp_ = 0, caps_lock_lamp_ = 0, scroll_lock_lamp_ = 0;  // keyboard lamp states
  int lpt_data_ = 0, lpt_control_ = kLptControlAllOff;  // the port's registers 0x378, 0x37A
  // The pass's command bytes for the controller's output groups B, C and D (see PackPorts).
  int group_b_command_ = 0, group_c_command_ = 0, group_d_command_ = 0;
  std::array<ColumnPicture, kChannels> pictures_{};
  std::array<int, kChannels> column_lamps_{};
};

// Port packing: the controller's group C, B and D command bytes from the channel states through
// the output-assignment lists. A list with nothing selected (-1) drives its output as "No".
struct PackedPorts {
  int group_c = 0;     // 0x00 + outputs C5..C0
  int group_b = 0x40;  // 0x40 + outputs B5..B0
  int group_d = 0x80;  // 0x80 + outputs D5..D0
};
PackedPorts PackPorts(const std::array<int, kChannels + 1>& channel_states,
                      const ControlTable& controls);

// The parallel-port share of channel n when it is on: applied to the data register (channels 4
// to 11) or the control register (12 to 15); channels without a line change nothing.
void ApplyLptShare(int channel, int& lpt_data, int& lpt_control);

}  // namespace glimmerix
