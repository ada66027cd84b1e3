// Pattern files, the preset list and the setting.dat occasions, run against a temporary folder.
#include "presets/presets.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "presets/settings_file.h"
#include "settings/settings_store.h"
#include "tests/support/temp_folder.h"

namespace glimmerix {
namespace {

using namespace std::string_literals;
using testing::TempFolder;

class PresetsTest : public ::testing::Test {
 protected:
  // What the engine does each pass: copies the Level and AGC bars for preset saving.
  void EnginePass() {
    shared.engine_level_bar.store(controls.value(gadget::kLevelBar));
    shared.engine_agc_bar.store(controls.value(gadget::kAgcBar));
  }
  void SetBars(int value) {
    for (int n = 1; n <= kChannels; ++n) controls.set_value(n, value);
  }
  std::vector<int> Bars() const {
    std::vector<int> bars;
    for (int n = 1; n <= kChannels; ++n) bars.push_back(controls.band_bar(n));
    return bars;
  }
  std::string BandLevelLines(int value) const {
    std::string lines;
    for (int n = 1; n <= kChannels; ++n)
      lines += "fr" + std::to_string(n) + " = " + std::to_string(value) + "\r\n";
    return lines;
  }

  TempFolder folder;
  ControlTable controls;
  EngineShared shared;
  std::atomic<int> flag_wr{0};
  Presets presets{controls, shared, flag_wr, folder.path()};
};

TEST_F(PresetsTest, ListIsSortedCaseBlindAndSelectsTheExactName) {
  for (const std::string& name :
       {"b.patt"s, "A.PATT"s, ".patt"s, "notes.txt"s, "patt"s, "\xE9t\xE9.patt"s}) {
    folder.Put(name, "");
  }
  std::filesystem::create_directory(folder / "d.Patt");
  presets.FillPresetList(folder.path(), "A");
  EXPECT_EQ(controls.preset_entries(), (std::vector<std::string>{"", "A", "b", "d", "\xE9t\xE9"}));
  EXPECT_EQ(controls.value(gadget::kPresetList), -1);  // "A.patt" is not "A.PATT"
  EXPECT_EQ(presets.Preset, "A");

  presets.FillPresetList(folder.path(), "\xE9t\xE9");
  EXPECT_EQ(controls.value(gadget::kPresetList), 4);
  presets.FillPresetList(folder.path(), "");
  EXPECT_EQ(controls.preset_text(), "");
  EXPECT_EQ(controls.value(gadget::kPresetList), 0);  // the file named ".patt"

  presets.FillPresetList(folder / "missing", "a");
  EXPECT_TRUE(controls.preset_entries().empty());
  EXPECT_EQ(controls.value(gadget::kPresetList), -1);
}

TEST_F(PresetsTest, LoadClampsToTheBarsAndMissingKeysGiveZero) {
  folder.Put("Loud.patt", "Effect = 7\r\nLevel = 70\r\nARU = 0\r\nBright = -3\r\nStep = 300\r\n");
  presets.LoadPreset("Loud");
  EXPECT_EQ(shared.mode.load(), 7);
  EXPECT_EQ(controls.value(gadget::kLevelBar), 60);
  EXPECT_EQ(controls.value(gadget::kAgcBar), 1);
  EXPECT_EQ(controls.value(gadget::kBrightBar), 0);
  EXPECT_EQ(controls.value(gadget::kStepBar), 255);

  folder.Put("Some.patt", "; only two\r\nstep=$20\r\nlevel = 12\r\n");
  presets.LoadPreset("Some");
  EXPECT_EQ(shared.mode.load(), 0);
  EXPECT_EQ(controls.value(gadget::kLevelBar), 12);
  EXPECT_EQ(controls.value(gadget::kAgcBar), 1);
  EXPECT_EQ(controls.value(gadget::kBrightBar), 0);
  EXPECT_EQ(controls.value(gadget::kStepBar), 32);

  // Level 70 shows 60, and the next save (after the engine copied the bar) writes 60.
  presets.LoadPreset("Loud");
  EnginePass();
  presets.SavePreset("Loud");
  EXPECT_EQ(folder.Take("Loud.patt"),
            "Effect = 7\r\nLevel = 60\r\nARU = 1\r\nBright = 0\r\nStep = 255\r\n");
}

TEST_F(PresetsTest, AbsentFilesAndNamesThatLeaveTheFolderChangeNothing) {
  std::filesystem::create_directory(folder / "sub");
  folder.Put("sub/x.patt", "Effect = 2\r\nLevel = 5\r\n");
  presets.LoadPreset("absent");
  presets.LoadPreset("sub/x");
  presets.LoadPreset("x\0/sub"s);
  EXPECT_EQ(shared.mode.load(), kModeNone);
  EXPECT_EQ(controls.value(gadget::kLevelBar), StartValueOf(gadget::kLevelBar));

  presets.SavePreset("../escape");
  presets.SavePreset("sub/x");
  EXPECT_FALSE(std::filesystem::exists(folder.path() + "/../escape.patt"));
  EXPECT_EQ(folder.Take("sub/x.patt"), "Effect = 2\r\nLevel = 5\r\n");
}

TEST_F(PresetsTest, SaveWritesFiveKeysInOrderOrReplacesThemInPlace) {
  shared.mode.store(kModeAuto);
  controls.set_value(gadget::kBrightBar, 9);
  controls.set_value(gadget::kStepBar, 200);
  controls.set_value(gadget::kLevelBar, 50);  // saved from the engine's copy, not the bar
  shared.engine_level_bar.store(44);
  shared.engine_agc_bar.store(33);
  presets.SavePreset("");
  EXPECT_EQ(folder.Take(".patt"),
            "Effect = 2\r\nBright = 9\r\nStep = 200\r\nLevel = 44\r\nARU = 33\r\n");

  folder.Put("Mine.patt", "; tuned by hand\r\naru=1\r\nColour = red\r\n[Later]\r\nLevel = 1\r\n");
  presets.SavePreset("Mine");
  EXPECT_EQ(folder.Take("Mine.patt"),
            "; tuned by hand\r\nARU = 33\r\nColour = red\r\nEffect = 2\r\nBright = 9\r\n"
            "Step = 200\r\nLevel = 44\r\n[Later]\r\nLevel = 1\r\n");
}

TEST_F(PresetsTest, EmptyPresetNameRoundTripsThroughTheDotPattFile) {
  shared.mode.store(kModeRnd);
  SaveOnExit(presets);  // no preset selected: "Preset" empty, ".patt" created
  EXPECT_TRUE(folder.Has(".patt"));
  const StartupSettings s = ReadStartupSettings(folder.path());
  ASSERT_TRUE(s.found);
  EXPECT_EQ(s.preset_in_force, "");
  shared.mode.store(kModeNone);
  presets.FillPresetList(folder.path(), s.preset_in_force);
  EXPECT_EQ(controls.value(gadget::kPresetList), 0);
  presets.ApplyAtStartup();
  EXPECT_EQ(shared.mode.load(), kModeRnd);
}

TEST_F(PresetsTest, SwitchingBetweenManualAndAutoPresets) {
  folder.Put("Calm.patt", "Effect = 1\r\nBright = 3\r\nStep = 10\r\nLevel = 20\r\nARU = 20\r\n");
  folder.Put("Party.patt", "Effect = 2\r\nBright = 15\r\nStep = 99\r\nLevel = 50\r\nARU = 8\r\n");
  folder.Put("setting.dat", BandLevelLines(12));
  presets.FillPresetList(folder.path(), "Calm");
  ASSERT_EQ(controls.preset_text(), "Calm");
  ReadControlSettings(controls, folder.path());
  presets.ApplyAtStartup();
  EXPECT_EQ(shared.mode.load(), kModeManual);
  EXPECT_EQ(Bars(), std::vector<int>(kChannels, 12));
  EXPECT_EQ(flag_wr.load(), 0);

  // The user moves the bars and picks "Party": Calm keeps the current state, Party applies.
  SetBars(30);
  controls.set_value(gadget::kBrightBar, 4);
  EnginePass();
  controls.set_value(gadget::kPresetList, 1);
  presets.SelectPreset();
  EXPECT_EQ(folder.Take("Calm.patt"),
            "Effect = 1\r\nBright = 4\r\nStep = 10\r\nLevel = 20\r\nARU = 20\r\n");
  EXPECT_EQ(presets.Preset, "Party");
  EXPECT_EQ(shared.mode.load(), kModeAuto);
  EXPECT_EQ(controls.value(gadget::kBrightBar), 15);
  EXPECT_EQ(controls.value(gadget::kLevelBar), 50);
  EXPECT_EQ(Bars(), std::vector<int>(kChannels, 0));
  EXPECT_EQ(flag_wr.load(), 0);

  // Back to Calm: the bars come back from setting.dat and are to be written back later.
  EnginePass();
  controls.set_value(gadget::kPresetList, 0);
  presets.SelectPreset();
  EXPECT_EQ(folder.Take("Party.patt"),
            "Effect = 2\r\nBright = 15\r\nStep = 99\r\nLevel = 50\r\nARU = 8\r\n");
  EXPECT_EQ(shared.mode.load(), kModeManual);
  EXPECT_EQ(Bars(), std::vector<int>(kChannels, 12));
  EXPECT_EQ(flag_wr.load(), 1);
}

TEST_F(PresetsTest, SelectingWithoutSettingsOrWithAnUnlistedPreset) {
  folder.Put("Calm.patt", "Effect = 1\r\n");
  presets.FillPresetList(folder.path(), "Gone");  // a stored name no file matches
  EXPECT_EQ(controls.value(gadget::kPresetList), -1);
  presets.ApplyAtStartup();
  EXPECT_EQ(shared.mode.load(), kModeNone);

  SetBars(7);
  controls.set_value(gadget::kPresetList, 0);
  presets.SelectPreset();  // the state in force goes into the file named after "Gone"
  EXPECT_TRUE(folder.Has("Gone.patt"));
  EXPECT_EQ(shared.mode.load(), kModeManual);
  EXPECT_EQ(Bars(), std::vector<int>(kChannels, 7));  // no setting.dat: bars stay
  EXPECT_EQ(flag_wr.load(), 0);
}

TEST_F(PresetsTest, StartupInAutoClearsTheBarsReadFromSettings) {
  folder.Put("Auto.patt", "Effect = 3\r\n");
  folder.Put("setting.dat", "Preset = Auto\r\n" + BandLevelLines(20));
  const StartupSettings s = ReadStartupSettings(folder.path());
  presets.FillPresetList(folder.path(), s.preset_in_force);
  ASSERT_TRUE(ReadControlSettings(controls, folder.path()));
  EXPECT_EQ(Bars(), std::vector<int>(kChannels, 20));
  presets.ApplyAtStartup();
  EXPECT_EQ(Bars(), std::vector<int>(kChannels, 0));
}

TEST(SettingsFile, StartupReadsAndMissingKeys) {
  TempFolder folder;
  ControlTable controls;
  EXPECT_FALSE(ReadStartupSettings(folder.path()).found);
  EXPECT_FALSE(ReadControlSettings(controls, folder.path()));
  EXPECT_EQ(controls.band_bar(1), 15);
  EXPECT_EQ(controls.value(gadget::kKeyCheck), 1);

  folder.Put("setting.dat",
             "x_form = 120\r\nY_FORM=-5\r\nvid=$1209\r\nPID = 49374\r\n"
             "Preset =  My Show \r\nfr3 = 39\r\nOUT2 = 18\r\nOUT3 = 19\r\n"
             "LPT_LED = 1\r\n");
  const StartupSettings s = ReadStartupSettings(folder.path());
  EXPECT_TRUE(s.found);
  EXPECT_EQ(s.window_frame_x, 120);
  EXPECT_EQ(s.window_frame_y, -5);
  EXPECT_EQ(s.controller_vendor_id, 0x1209);
  EXPECT_EQ(s.controller_product_id, 49374);
  EXPECT_EQ(s.preset_in_force, "My Show");

  EXPECT_TRUE(ReadControlSettings(controls, folder.path()));
  EXPECT_EQ(controls.band_bar(1), 0);
  EXPECT_EQ(controls.band_bar(3), 39);
  EXPECT_EQ(controls.value(gadget::kKeyCheck), 0);  // present file without "KEY_LED": clear
  EXPECT_EQ(controls.value(gadget::kLptCheck), 1);
  EXPECT_EQ(controls.output_list(1), 0);
  EXPECT_EQ(controls.output_list(2), 18);
  EXPECT_EQ(controls.output_list(3), -1);  // out of range: nothing selected
}

TEST(SettingsFile, FirstMoveCreatesExactlyTwoLines) {
  TempFolder folder;
  SaveWindowPosition(-32000, 7, folder.path());
  EXPECT_FALSE(folder.Has("setting.dat"));
  SaveWindowPosition(250, -4, folder.path());
  EXPECT_EQ(folder.Take("setting.dat"), "X_form = 250\r\nY_form = -4\r\n");
}

TEST_F(PresetsTest, ExitAndCloseWriteTheirKeysInOrder) {
  shared.mode.store(kModeManual);
  SetBars(9);
  controls.set_value(gadget::kKeyCheck, 0);
  controls.set_value(gadget::kFirstOutputList + 4, 5);  // OUT5 = channel 5; the rest unselected
  SaveOnExit(presets);
  std::string expected = BandLevelLines(9) + "KEY_LED = 0\r\n";
  for (int n = 1; n <= kChannels; ++n) {
    expected += "OUT" + std::to_string(n) + " = " + (n == 5 ? "5" : "-1") + "\r\n";
  }
  expected += "LPT_LED = 1\r\nPreset = \r\n";
  EXPECT_EQ(folder.Take("setting.dat"), expected);
  EXPECT_TRUE(folder.Has(".patt"));

  // -1 reads back as nothing selected.
  ControlTable next;
  ReadControlSettings(next, folder.path());
  EXPECT_EQ(next.output_list(1), -1);
  EXPECT_EQ(next.output_list(5), 5);

  // Close in Auto mode: band levels untouched, the window's edges before "Preset".
  folder.Put("Show.patt", "");
  presets.FillPresetList(folder.path(), "Show");
  shared.mode.store(kModeAuto);
  SetBars(0);
  SaveOnClose(presets, 300, 200);
  std::string closed = expected;
  closed.replace(closed.find("Preset = \r\n"), std::string::npos,
                 "Preset = Show\r\nX_form = 300\r\nY_form = 200\r\n");
  EXPECT_EQ(folder.Take("setting.dat"), closed);
  EXPECT_EQ(folder.Take("Show.patt"),
            "Effect = 2\r\nBright = 11\r\nStep = 40\r\nLevel = 0\r\nARU = 0\r\n");
}

// The shipped presets hold values the bars take as they are (none brought into range) and a mode
// that decides, and a save by the program keeps their comment and rewrites the same values.
TEST_F(PresetsTest, ShippedPresetsLoadAsWrittenAndSurviveASave) {
  int shipped = 0;
  for (const auto& entry : std::filesystem::directory_iterator(GLIMMERIX_SHIPPED_PRESETS_DIR)) {
    if (entry.path().extension() != ".patt") continue;
    ++shipped;
    const std::string name = entry.path().stem().string();
    SCOPED_TRACE(name);
    std::filesystem::copy_file(entry.path(), folder / (name + ".patt"));
    const std::string original = folder.Take(name + ".patt");
    const SettingsDocument file = SettingsDocument::Parse(original);
    ASSERT_EQ(file.lines().front().kind, SettingsDocument::Kind::kComment);

    presets.LoadPreset(name);
    EXPECT_GE(shared.mode.load(), kModeManual);
    EXPECT_LE(shared.mode.load(), kModeRnd);
    EXPECT_EQ(shared.mode.load(), ParseSettingNumber(file.Get("Effect", kNoDigits)));
    EXPECT_EQ(controls.value(gadget::kBrightBar),
              ParseSettingNumber(file.Get("Bright", kNoDigits)));
    EXPECT_EQ(controls.value(gadget::kStepBar), ParseSettingNumber(file.Get("Step", kNoDigits)));
    EXPECT_EQ(controls.value(gadget::kLevelBar), ParseSettingNumber(file.Get("Level", kNoDigits)));
    EXPECT_EQ(controls.value(gadget::kAgcBar), ParseSettingNumber(file.Get("ARU", kNoDigits)));

    EnginePass();
    presets.SavePreset(name);
    EXPECT_EQ(folder.Take(name + ".patt"), original);
  }
  EXPECT_GE(shipped, 3);
}

}  // namespace
}  // namespace glimmerix
