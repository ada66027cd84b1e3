// A pause of the outputs: passes still decide and draw, but nothing reaches the controller or the
// parallel port, and a Bright/Step request waits for the first pass after the pause.
#include <gtest/gtest.h>

#include "tests/engine/engine_harness.h"

namespace glimmerix::testing {
namespace {

TEST(OutputPause, PassesSendNothingWhilePausedAndBrightWaitsForTheEnd) {
  Harness h;
  h.shared.mode = kModeManual;
  h.controls.set_value(gadget::kLptCheck, 1);
  h.spectrum.fill(0.01f);
  h.shared.send_bright_and_step = 1;
  h.shared.output_paused = true;
  for (int i = 0; i < 3; ++i) {
    bool drew_columns = false;
    for (const Event& e : h.Pass()) {
      EXPECT_NE(e.what, "usb");
      EXPECT_NE(e.what, "lpt");
    }
    for (const Rgb& p : h.engine.column(0).pixels) drew_columns |= p != Rgb{};
    EXPECT_TRUE(drew_columns) << "pass " << i << " still draws";
  }
  EXPECT_EQ(h.shared.send_bright_and_step.load(), 1);

  h.shared.output_paused = false;
  h.Pass();
  const std::vector<int> reports = h.Reports();
  ASSERT_EQ(reports.size(), 6u);
  EXPECT_EQ(reports[3] & 0xF0, 0xC0) << "Bright follows the pause";
  EXPECT_EQ(h.shared.send_bright_and_step.load(), 0);
}

}  // namespace
}  // namespace glimmerix::testing
