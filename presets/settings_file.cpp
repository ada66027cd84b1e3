#include "presets/settings_file.h"

#include "settings/settings_store.h"

namespace glimmerix {
namespace {

constexpr int kMinimisedLeft = -32000;

std::string Numbered(const char* prefix, int n) {
  return prefix + std::to_string(n);
}

// "KEY_LED", "OUT1".."OUT18", "LPT_LED", [the window's edges], "Preset".
void WriteDmxKeys(SettingsStore& store, const DmxKeys& keys) {
  store.WriteNumber("DMX", keys.enabled);
  store.WriteNumber("DMX_UNIVERSE", keys.universe);
  store.WriteNumber("DMX_START", keys.start_address);
  store.WriteNumber("DMX_LEVEL", keys.on_level);
  store.WriteNumber("DMX_MAPPING", keys.level_mapping);
}

void SaveControls(Presets& presets, const int* x, const int* y, const DmxKeys* dmx) {
  ControlTable& controls = presets.controls();
  if (presets.shared().mode.load() == kModeManual) presets.SaveBandLevels();
  const std::string preset = controls.preset_text();
  SettingsStore store(presets.folder());
  store.Open(kSettingsFile);
  store.WriteNumber("KEY_LED", controls.value(gadget::kKeyCheck));
  for (int n = 1; n <= kChannels; ++n)
    store.WriteNumber(Numbered("OUT", n), controls.output_list(n));
  store.WriteNumber("LPT_LED", controls.value(gadget::kLptCheck));
  if (x && y) {
    store.WriteNumber("X_form", *x);
    store.WriteNumber("Y_form", *y);
  }
  store.WriteText("Preset", preset);
  if (dmx) WriteDmxKeys(store, *dmx);
  store.Close();
  presets.SavePreset(preset);
}

}  // namespace

StartupSettings ReadStartupSettings(const std::string& folder) {
  StartupSettings s;
  SettingsStore store(folder);
  if (!store.Open(kSettingsFile)) return s;
  s.found = true;
  s.window_frame_x = store.ReadNumber("X_form");
  s.window_frame_y = store.ReadNumber("Y_form");
  s.controller_product_id = store.ReadNumber("PID");
  s.controller_vendor_id = store.ReadNumber("VID");
  s.preset_in_force = store.ReadText("Preset", "");
  s.input_choice = store.ReadText("Input", "");
  return s;
}

void SaveInputChoice(const std::string& value, const std::string& folder) {
  SettingsStore store(folder);
  store.Open(kSettingsFile);
  store.WriteText("Input", value);
  store.Close();
}

bool ReadControlSettings(ControlTable& controls, const std::string& folder) {
  SettingsStore store(folder);
  if (!store.Open(kSettingsFile)) return false;
  for (int n = 1; n <= kChannels; ++n) {
    controls.set_value(gadget::kFirstBandBar + n - 1, store.ReadNumber(Numbered("fr", n)));
  }
  controls.set_value(gadget::kKeyCheck, store.ReadNumber("KEY_LED"));
  controls.set_value(gadget::kLptCheck, store.ReadNumber("LPT_LED"));
  for (int n = 1; n <= kChannels; ++n) {
    controls.set_value(gadget::kFirstOutputList + n - 1, store.ReadNumber(Numbered("OUT", n)));
  }
  return true;
}

void SaveWindowPosition(int x, int y, const std::string& folder) {
  if (x == kMinimisedLeft) return;
  SettingsStore store(folder);
  store.Open(kSettingsFile);
  store.WriteNumber("X_form", x);
  store.WriteNumber("Y_form", y);
  store.Close();
}

void SaveOnClose(Presets& presets, int x, int y, const DmxKeys* dmx) {
  SaveControls(presets, &x, &y, dmx);
}

void SaveOnExit(Presets& presets, const DmxKeys* dmx) {
  SaveControls(presets, nullptr, nullptr, dmx);
}

DmxKeys ReadDmxKeys(const std::string& folder) {
  DmxKeys keys;
  SettingsStore store(folder);
  if (!store.Open(kSettingsFile)) return keys;
  const auto read = [&](const char* key, int& value) {
    const std::string text = store.ReadText(key, kNoDigits);
    if (text == kNoDigits) return;
    value = ParseSettingNumber(text);
    keys.found = true;
  };
  read("DMX", keys.enabled);
  read("DMX_UNIVERSE", keys.universe);
  read("DMX_START", keys.start_address);
  read("DMX_LEVEL", keys.on_level);
  read("DMX_MAPPING", keys.level_mapping);
  return keys;
}

void SaveDmxKeys(const DmxKeys& keys, const std::string& folder) {
  SettingsStore store(folder);
  store.Open(kSettingsFile);
  WriteDmxKeys(store, keys);
  store.Close();
}

}  // namespace glimmerix
