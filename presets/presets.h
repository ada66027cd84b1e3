// Presets: pattern files ("<name>.patt") holding the mode and the Level, AGC, Bright and Step
// bars, the preset list (gadget 68) that offers them, and the band levels of manual mode that
// setting.dat keeps ("fr1".."fr18").
//
// Threads: main thread only (start-up before the engine thread exists, then the event loop). The
// control table and EngineShared are thread-safe; flag_wr belongs to the main thread.
//
// Files: pattern files and setting.dat are opened by bare name in `folder` (empty: the process's
// current folder); the list is filled from the program's folder. Names are bytes. A preset name
// holding "/" or NUL names no file: nothing is loaded from or saved to it.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "engine/controls.h"
#include "engine/engine.h"

namespace glimmerix {

inline constexpr const char* kSettingsFile = "setting.dat";
inline constexpr const char* kPatternExtension = ".patt";

// True when name + ".patt" names a file in the folder (no NUL and no path separator in it:
// "/", and on Windows also "\" and ":").
bool IsPresetFileName(const std::string& name);

// The pattern files of a folder in list order: names ending in ".patt" in any letter case
// (hidden ones and folders included), sorted byte by byte after upper-casing ASCII letters, ties
// by plain byte order. Empty when the folder cannot be listed.
std::vector<std::string> ListPatternFiles(const std::string& folder);

class Presets {
 public:
  // The references must outlive this object. flag_wr: 1 while the band bars hold manual levels
  // loaded from setting.dat that are to be written back before the mode leaves Manual.
  Presets(ControlTable& controls, EngineShared& shared, std::atomic<int>& flag_wr,
          std::string folder = {});

  // Start-up: fills the preset list with the pattern files of program_dir (each name less its
  // last five characters) and selects the entry whose file name is preset + ".patt" byte for
  // byte; nothing is selected when none is. Also sets Preset = preset.
  void FillPresetList(const std::string& program_dir, const std::string& preset);

  // Reads name.patt and sets the Level (21), AGC (23), Bright (66) and Step (67) bars and
  // mode, in that order, each bar clamped to its range. Nothing when the file does not open.
  void LoadPreset(const std::string& name);

  // Writes "Effect" = mode, "Bright", "Step" = bars 66 and 67, "Level" = engine_level_bar,
  // "ARU" = engine_agc_bar into name.patt, creating it when absent. Keys already present are
  // replaced in place; everything else in the file stays.
  void SavePreset(const std::string& name);

  // Handler of every event of the preset list: saves the preset being left (Preset), loads the
  // list's text, makes it Preset, then reloads the band levels (Manual; flag_wr = 1 when they
  // were read) or clears the band bars (Auto, Rnd).
  void SelectPreset();

  // Start-up, after setting.dat's values are in the controls: loads the list's text, then clears
  // the band bars when the mode is Auto or Rnd. flag_wr is left alone.
  void ApplyAtStartup();

  // Band bars 1..18 from "fr1".."fr18" of setting.dat (a missing key reads as 0). False, with
  // nothing changed, when setting.dat does not open.
  bool RestoreBandLevels();
  // "fr1".."fr18" of setting.dat from band bars 1..18 (creates the file when absent).
  void SaveBandLevels();
  // Band bars 1..18 to 0.
  void ClearBandBars();

  ControlTable& controls() { return controls_; }
  EngineShared& shared() { return shared_; }
  const std::string& folder() const { return folder_; }

  std::string Preset;  // the preset in force, without ".patt"

 private:
  ControlTable& controls_;
  EngineShared& shared_;
  std::atomic<int>& flag_wr_;
  std::string folder_;
};

}  // namespace glimmerix
