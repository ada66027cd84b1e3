#include "presets/presets.h"

#include <algorithm>

#include "settings/file_access.h"
#include "settings/settings_store.h"

namespace glimmerix {
namespace {

std::string UpperAscii(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

bool EndsWithPatt(const std::string& name) {
  const std::size_t n = std::char_traits<char>::length(kPatternExtension);
  return name.size() >= n && UpperAscii(name.substr(name.size() - n)) == ".PATT";
}

bool IsBandLevelMode(int mode) {
  return mode == kModeAuto || mode == kModeRnd;
}

}  // namespace

bool IsPresetFileName(const std::string& name) {
  return files::IsPlainFileName(name + kPatternExtension);
}

std::vector<std::string> ListPatternFiles(const std::string& folder) {
  std::vector<std::string> names = files::FolderEntryNames(folder);
  std::erase_if(names, [](const std::string& name) { return !EndsWithPatt(name); });
  // Byte order of the upper-cased names, as a case-blind listing would give them; ties (names
  // differing only in letter case) by their own bytes, so the order is always the same.
  std::vector<std::pair<std::string, std::string>> keyed;
  keyed.reserve(names.size());
  for (std::string& name : names) keyed.emplace_back(UpperAscii(name), std::move(name));
  std::sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
    const int order = a.first.compare(b.first);  // char_traits<char> compares as unsigned bytes
    return order != 0 ? order < 0 : a.second.compare(b.second) < 0;
  });
  names.clear();
  for (auto& [key, name] : keyed) names.push_back(std::move(name));
  return names;
}

Presets::Presets(ControlTable& controls, EngineShared& shared, std::atomic<int>& flag_wr,
                 std::string folder)
    : controls_(controls), shared_(shared), flag_wr_(flag_wr), folder_(std::move(folder)) {}

void Presets::FillPresetList(const std::string& program_dir, const std::string& preset) {
  Preset = preset;
  const std::vector<std::string> files = ListPatternFiles(program_dir);
  std::vector<std::string> entries;
  entries.reserve(files.size());
  int selected = -1;
  for (const std::string& file : files) {
    entries.push_back(file.substr(0, file.size() - 5));
    if (selected < 0 && file == preset + kPatternExtension) {
      selected = static_cast<int>(entries.size()) - 1;
    }
  }
  controls_.set_preset_entries(std::move(entries));
  controls_.set_value(gadget::kPresetList, selected);
}

void Presets::LoadPreset(const std::string& name) {
  if (!IsPresetFileName(name)) return;
  SettingsStore store(folder_);
  if (!store.Open(name + kPatternExtension)) return;
  controls_.set_value(gadget::kLevelBar, store.ReadNumber("Level"));
  controls_.set_value(gadget::kAgcBar, store.ReadNumber("ARU"));
  controls_.set_value(gadget::kBrightBar, store.ReadNumber("Bright"));
  controls_.set_value(gadget::kStepBar, store.ReadNumber("Step"));
  shared_.mode.store(store.ReadNumber("Effect"));
  store.Close();
}

void Presets::SavePreset(const std::string& name) {
  if (!IsPresetFileName(name)) return;
  SettingsStore store(folder_);
  store.Open(name + kPatternExtension);
  store.WriteNumber("Effect", shared_.mode.load());
  store.WriteNumber("Bright", controls_.value(gadget::kBrightBar));
  store.WriteNumber("Step", controls_.value(gadget::kStepBar));
  store.WriteNumber("Level", shared_.engine_level_bar.load());
  store.WriteNumber("ARU", shared_.engine_agc_bar.load());
  store.Close();
}

void Presets::SelectPreset() {
  SavePreset(Preset);
  const std::string chosen = controls_.preset_text();
  LoadPreset(chosen);
  Preset = chosen;
  const int mode = shared_.mode.load();
  if (mode == kModeManual) {
    if (RestoreBandLevels()) flag_wr_.store(1);
  } else if (IsBandLevelMode(mode)) {
    ClearBandBars();
  }
}

void Presets::ApplyAtStartup() {
  LoadPreset(controls_.preset_text());
  if (IsBandLevelMode(shared_.mode.load())) ClearBandBars();
}

bool Presets::RestoreBandLevels() {
  SettingsStore store(folder_);
  if (!store.Open(kSettingsFile)) return false;
  for (int n = 1; n <= kChannels; ++n) {
    controls_.set_value(gadget::kFirstBandBar + n - 1, store.ReadNumber("fr" + std::to_string(n)));
  }
  store.Close();
  return true;
}

void Presets::SaveBandLevels() {
  SettingsStore store(folder_);
  store.Open(kSettingsFile);
  for (int n = 1; n <= kChannels; ++n) {
    store.WriteNumber("fr" + std::to_string(n), controls_.band_bar(n));
  }
  store.Close();
}

void Presets::ClearBandBars() {
  for (int n = 1; n <= kChannels; ++n) controls_.set_value(gadget::kFirstBandBar + n - 1, 0);
}

}  // namespace glimmerix
