// What the real program's window shows while the controller is plugged in but its node cannot be
// opened (a fresh install before the udev rule): "USBON" in orange, not in green, with a tool tip
// on the label. A screenshot of the window with the tool tip lands in
// $GLIMMERIX_TEST_SHOTS when that is set. Needs scripts/with-test-services.
#include <cstdlib>
#include <thread>

#include "gtest/gtest.h"
#include "tests/support/fake_hid_tree.h"
#include "tests/support/program_run.h"

namespace glimmerix::e2e {
namespace {

using namespace std::chrono_literals;

// The USBON/USBOFF text of the main window (inner coordinates).
constexpr QRect kStatusText(105, 228, 50, 16);

// Pixels of the status text in each of the indicator's hues.
struct Hues {
  int green = 0, orange = 0, red = 0;
};
Hues StatusHues(Display& x, Window w) {
  const QImage image = x.Grab(w);
  Hues hues;
  for (int y = kStatusText.top(); y <= kStatusText.bottom() && y < image.height(); ++y) {
    for (int px = kStatusText.left(); px <= kStatusText.right() && px < image.width(); ++px) {
      const QColor c = image.pixelColor(px, y);
      if (c.saturation() < 160 || c.value() < 100) continue;  // background, anti-aliased edges
      const int hue = c.hue();
      hues.green += hue >= 90 && hue <= 150;
      hues.orange += hue >= 20 && hue <= 45;
      hues.red += hue <= 8 || hue >= 352;
    }
  }
  return hues;
}

TEST(ProgramFaultsControllerStatus, UnopenableControllerShowsOrangeUsbOnWithAToolTip) {
  if (std::getenv("GLIMMERIX_TEST_SERVICES") == nullptr)
    GTEST_SKIP() << "needs scripts/with-test-services (display, tray host, sound server)";
  Display x;
  ASSERT_TRUE(x.ok());
  ProgramRun run;
  testing::FakeHidTree hid;  // made after the run's own tree, so the program looks here
  hid.Add(0, kVid, kPid, 0x0100, testing::Node::kFolder);
  run.Write("setting.dat", {"PID = " + std::to_string(kPid), "VID = " + std::to_string(kVid)});
  run.Start();

  const Window icon = x.WaitForTrayIcon();
  ASSERT_NE(icon, 0u) << run.Read("program.log");
  Shell("xdotool mousemove --window " + std::to_string(icon) + " 11 15 click 1");
  Window window = 0;
  ASSERT_TRUE(WaitFor([&] { return (window = x.MappedWindow("Glimmerix")) != 0; }, 5s));

  Hues hues;
  EXPECT_TRUE(WaitFor([&] { return (hues = StatusHues(x, window)).orange > 10; }, 3s))
      << "green " << hues.green << ", orange " << hues.orange << ", red " << hues.red;
  EXPECT_EQ(hues.green, 0) << "a controller that cannot be opened shown as working";

  // Hovering the label shows its tool tip.
  Shell("xdotool windowfocus --sync " + std::to_string(window) + " mousemove --window " +
        std::to_string(window) + " " + std::to_string(kStatusText.center().x()) + " " +
        std::to_string(kStatusText.center().y()));
  const Window tip = x.WaitForToolTip(5s);
  EXPECT_NE(tip, 0u) << "no tool tip on the status label";
  SaveScreenshot("controller-cannot-open");
  EXPECT_TRUE(WaitFor(
      [&] { return run.Read("program.log").find(hid.NodePath(0).string()) != std::string::npos; },
      3s))
      << "stderr does not name the node";
}

}  // namespace
}  // namespace glimmerix::e2e
