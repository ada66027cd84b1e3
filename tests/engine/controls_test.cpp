#include "engine/controls.h"

#include <gtest/gtest.h>

namespace glimmerix {
namespace {

TEST(ControlTable, StartsAtTheWindowsStartPositions) {
  ControlTable c;
  for (int n = 1; n <= kChannels; ++n) EXPECT_EQ(c.band_bar(n), 15);
  EXPECT_EQ(c.value(gadget::kLevelBar), 35);
  EXPECT_EQ(c.value(gadget::kAgcBar), 35);
  EXPECT_EQ(c.value(gadget::kBrightBar), 11);
  EXPECT_EQ(c.value(gadget::kStepBar), 40);
  EXPECT_EQ(c.value(gadget::kKeyCheck), 1);
  EXPECT_EQ(c.value(gadget::kLptCheck), 1);
  EXPECT_EQ(c.value(gadget::kInvertCheck), 0);
  for (int n = 1; n <= kChannels; ++n) EXPECT_EQ(c.output_list(n), -1);
  EXPECT_EQ(c.value(gadget::kPresetList), -1);
  EXPECT_EQ(c.status_text(), "USBOFF");
  EXPECT_EQ(c.status_colour(), (Rgb{255, 0, 0}));
}

TEST(ControlTable, ClampsAsTheWindowSystemDoes) {
  ControlTable c;
  c.set_value(gadget::kLevelBar, 70);
  EXPECT_EQ(c.value(gadget::kLevelBar), 60);
  c.set_value(gadget::kAgcBar, 0);
  EXPECT_EQ(c.value(gadget::kAgcBar), 1);
  c.set_value(5, 45);
  EXPECT_EQ(c.band_bar(5), 39);
  c.set_value(5, -3);
  EXPECT_EQ(c.band_bar(5), 0);
  c.set_value(gadget::kBrightBar, 18);
  EXPECT_EQ(c.value(gadget::kBrightBar), 15);
  c.set_value(gadget::kStepBar, 1000);
  EXPECT_EQ(c.value(gadget::kStepBar), 255);
  c.set_value(gadget::kKeyCheck, 7);
  EXPECT_EQ(c.value(gadget::kKeyCheck), 1);
  c.set_value(gadget::kFirstOutputList, 18);
  EXPECT_EQ(c.output_list(1), 18);
  c.set_value(gadget::kFirstOutputList, 19);
  EXPECT_EQ(c.output_list(1), -1);
  c.set_value(gadget::kFirstOutputList + 1, 0);
  EXPECT_EQ(c.output_list(2), 0);
  // Numbers outside the table are ignored and read 0.
  c.set_value(-1, 5);
  c.set_value(5000, 5);
  EXPECT_EQ(c.value(5000), 0);
}

TEST(ControlTable, PresetListSelectsOnlyExistingEntries) {
  ControlTable c;
  c.set_value(gadget::kPresetList, 0);
  EXPECT_EQ(c.value(gadget::kPresetList), -1);
  EXPECT_EQ(c.preset_text(), "");
  c.set_preset_entries({"Disco", "", "Slow"});
  c.set_value(gadget::kPresetList, 2);
  EXPECT_EQ(c.preset_text(), "Slow");
  c.set_value(gadget::kPresetList, 1);
  EXPECT_EQ(c.preset_text(), "");
  EXPECT_EQ(c.value(gadget::kPresetList), 1);
  c.set_value(gadget::kPresetList, 3);
  EXPECT_EQ(c.value(gadget::kPresetList), -1);
}

TEST(ControlTable, ObserverHearsRealChangesOnly) {
  struct Counter : ControlObserver {
    std::vector<int> seen;
    void OnControlChanged(int g) override { seen.push_back(g); }
  } counter;
  ControlTable c;
  c.set_observer(&counter);
  c.set_value(3, 15);  // unchanged
  c.set_value(3, 20);
  c.set_value(gadget::kLevelBar, 99);
  c.set_status("USBON", {15, 255, 0});
  EXPECT_EQ(counter.seen, (std::vector<int>{3, gadget::kLevelBar, gadget::kStatusText}));
  c.set_observer(nullptr);
  c.set_value(3, 1);
  EXPECT_EQ(counter.seen.size(), 3u);
}

}  // namespace
}  // namespace glimmerix
