// The start-up steps that set the controls and the mode from the files, shared by the program
// core and the replay tool's --settings so that the two can never read the files differently.
//
// Threads: main thread only (before the engine thread exists). Files are those of
// presets.folder(); the pattern files are listed from program_folder.
#pragma once

#include <string>

#include "presets/presets.h"
#include "presets/settings_file.h"

namespace glimmerix {

// Fills the preset list with the program folder's pattern files and selects the saved preset.
void FillPresetList(Presets& presets, const std::string& program_folder,
                    const StartupSettings& settings);

// The controls from setting.dat (band levels, "Key", "LPT", the output lists), then the preset in
// force (mode, Level, AGC, Bright, Step), the band bars cleared in Auto and Rnd.
void ApplySavedControlsAndPreset(Presets& presets);

// Both steps in start-up's order, with setting.dat read from presets.folder().
void SetControlsAsAtStartup(Presets& presets, const std::string& program_folder);

}  // namespace glimmerix
