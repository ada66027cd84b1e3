// The occasions on which the program reads and writes setting.dat, each one open-read/write-close
// of the file, with the keys in the order the file format fixes (see docs/FILE-FORMATS.md).
//
// Threads: main thread only. `folder` names the folder of setting.dat; empty means the process's
// current folder. The control table is thread-safe; a Presets object is main-thread only.
#pragma once

#include <string>

#include "engine/controls.h"
#include "presets/presets.h"

namespace glimmerix {

// What start-up takes from setting.dat before the main window exists.
struct StartupSettings {
  bool found = false;             // setting.dat opened; otherwise every field keeps its zero value
  int window_frame_x = 0;         // "X_form": left edge of the main window's outer frame, pixels
  int window_frame_y = 0;         // "Y_form": top edge
  int controller_product_id = 0;  // "PID": the USB controller's product identifier
  int controller_vendor_id = 0;   // "VID": the USB controller's vendor identifier
  std::string preset_in_force;    // "Preset": its name, without ".patt" (bytes)
  std::string input_choice;       // "Input": a source's name, or one of the two tokens below
};

// Values of "Input" besides a sound-server source's name (the sound server's own names for them).
inline constexpr const char* kDefaultInputToken = "@DEFAULT_SOURCE@";
inline constexpr const char* kDefaultOutputMonitorToken = "@DEFAULT_MONITOR@";

// The DMX output's keys as setting.dat holds them, unchecked (the DMX output brings them into
// range). Defaults: off, universe 1, start address 1, level 255, mapping 0 (on/off).
struct DmxKeys {
  bool found = false;     // at least one of the keys is in the file
  int enabled = 0;        // "DMX": 1 on
  int universe = 1;       // "DMX_UNIVERSE"
  int start_address = 1;  // "DMX_START": the slot of channel 1
  int on_level = 255;     // "DMX_LEVEL"
  int level_mapping = 0;  // "DMX_MAPPING": 0 on/off, 1 level
  bool operator==(const DmxKeys&) const = default;
};

// Reads "DMX", "DMX_UNIVERSE", "DMX_START", "DMX_LEVEL", "DMX_MAPPING"; a missing key keeps its
// default.
DmxKeys ReadDmxKeys(const std::string& folder = {});
// Writes the five keys in that order (new keys go at the end of the file).
void SaveDmxKeys(const DmxKeys& keys, const std::string& folder = {});

// Reads "X_form", "Y_form", "PID", "VID", "Preset", "Input" (missing numbers read 0, a missing
// text empty text).
StartupSettings ReadStartupSettings(const std::string& folder = {});

// Puts "fr1".."fr18" into band bars 1..18, "KEY_LED" into check box 24, "LPT_LED" into check
// box 45 and "OUT1".."OUT18" into lists 27..44, a missing key as 0. Changes nothing when
// setting.dat does not open. Returns whether it opened.
bool ReadControlSettings(ControlTable& controls, const std::string& folder = {});

// A window of the program was moved: writes "X_form" = x and "Y_form" = y (the main window's
// outer frame). Writes nothing when x is -32000 (a minimised window's parked position).
void SaveWindowPosition(int x, int y, const std::string& folder = {});

// The saves of a close request (steps 2 to 4; the caller sets closing first and gives the lock
// states back after): band levels when in Manual mode, then "KEY_LED", "OUT1".."OUT18",
// "LPT_LED", "X_form" = x, "Y_form" = y, "Preset" = the preset list's shown text, then the DMX
// keys when dmx is given; then the preset in the list's text is saved. Files are those of
// presets.folder().
void SaveOnClose(Presets& presets, int x, int y, const DmxKeys* dmx = nullptr);

// The input chosen in the tray menu: writes "Input" = value.
void SaveInputChoice(const std::string& value, const std::string& folder = {});

// The saves of the menu command "Exit": as SaveOnClose without "X_form" and "Y_form".
void SaveOnExit(Presets& presets, const DmxKeys* dmx = nullptr);

}  // namespace glimmerix
