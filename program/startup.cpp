#include "program/startup.h"

namespace glimmerix {

void FillPresetList(Presets& presets, const std::string& program_folder,
                    const StartupSettings& settings) {
  presets.FillPresetList(program_folder, settings.preset_in_force);
}

void ApplySavedControlsAndPreset(Presets& presets) {
  ReadControlSettings(presets.controls(), presets.folder());
  presets.ApplyAtStartup();
}

void SetControlsAsAtStartup(Presets& presets, const std::string& program_folder) {
  FillPresetList(presets, program_folder, ReadStartupSettings(presets.folder()));
  ApplySavedControlsAndPreset(presets);
}

}  // namespace glimmerix
