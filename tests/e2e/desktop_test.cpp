// The program as users run it: on a desktop with a window manager and the stock keyboard map
// (the test services' display), on a display without any tray host, and with no display at all.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "gtest/gtest.h"
#include "tests/support/program_run.h"

// Xlib last: its macros (None, Bool, Status) clash with the headers above.
#include "tests/support/key_press_probe.h"

namespace glimmerix::e2e {
namespace {

using namespace std::chrono_literals;

constexpr unsigned kScrollLamp = 4;  // bit of Display::Lamps()

// Manual mode with thresholds that let a loud 1 kHz tone light channel 11 alone, controller output
// PD0 following channel 11, the parallel port and the keyboard lamps as asked.
void WriteSettings(const ProgramRun& run, int key_led) {
  run.Write("Test.patt", {"Effect = 1", "Bright = 9", "Step = 100", "Level = 35", "ARU = 1"});
  std::vector<std::string> s = {"PID = " + std::to_string(kPid),
                                "VID = " + std::to_string(kVid),
                                "Preset = Test",
                                "OUT1 = 11",
                                "LPT_LED = 1",
                                "KEY_LED = " + std::to_string(key_led)};
  for (int n = 1; n <= 18; ++n) s.push_back("fr" + std::to_string(n) + " = 20");
  run.Write("setting.dat", s);
}

std::string PlayFile(const ProgramRun& run, const std::string& name, const std::string& synth) {
  const std::string path = (run.folder / name).string();
  Shell("sox -n -r 22050 -c 1 -e floating-point -b 32 '" + path + "' synth " + synth);
  return path;
}

class EndToEndDesktop : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("GLIMMERIX_TEST_SERVICES") == nullptr)
      GTEST_SKIP() << "needs scripts/with-test-services (display, tray host, sound server)";
  }
};

TEST_F(EndToEndDesktop, ScrollLockLampFollowsTheMusicWithoutKeyPressesToTheFocusedProgram) {
  Display x;
  ASSERT_TRUE(x.ok());
  ProgramRun run;
  WriteSettings(run, /*key_led=*/1);
  const std::string noise = PlayFile(run, "noise.wav", "6 pinknoise gain -n -3");
  const unsigned lamps_before = x.Lamps();
  run.Start();
  ASSERT_TRUE(WaitFor([&] { return !x.TrayIcons().empty(); }, 10s)) << run.Read("program.log");

  testing::KeyPressProbe probe;
  ASSERT_TRUE(probe.ok());
  ASSERT_TRUE(WaitFor(
      [&] {
        Focus(probe.window());  // through the window manager, as a user's click
        return probe.HasFocus();
      },
      3s));
  Shell("paplay '" + noise + "' &");
  int scroll_changes = 0;
  bool scroll = lamps_before & kScrollLamp;
  const auto end = std::chrono::steady_clock::now() + 4s;
  while (std::chrono::steady_clock::now() < end) {
    const bool now = x.Lamps() & kScrollLamp;
    scroll_changes += now != scroll;
    scroll = now;
    std::this_thread::sleep_for(10ms);
  }
  std::printf("Scroll Lock lamp changed %d times in 4 s of music\n", scroll_changes);
  EXPECT_GE(scroll_changes, 2) << "the Scroll Lock lamp does not follow the music";
  EXPECT_EQ(probe.Presses(XK_Scroll_Lock), 0) << "Scroll_Lock presses reached the focused window";
  EXPECT_GT(probe.Presses(XK_Num_Lock) + probe.Presses(XK_Caps_Lock), 0)
      << "the probe saw none of the lock keys the program does press";

  run.Signal(SIGTERM);
  ASSERT_EQ(run.WaitExit(10s), 0);
  EXPECT_EQ(x.Lamps(), lamps_before) << "the lamps were not given back";
  EXPECT_EQ(probe.Presses(XK_Scroll_Lock), 0);
}

// With no display at all the program records, decides and drives the controller and the port.
TEST_F(EndToEndDesktop, HeadlessRunDrivesTheOutputsAndEndsOnSigterm) {
  Display x;
  ProgramRun run;
  WriteSettings(run, /*key_led=*/1);
  const std::string tone = PlayFile(run, "tone.wav", "4 sine 1000 gain -n -0.5");
  const std::string display = std::getenv("DISPLAY");
  unsetenv("DISPLAY");
  run.Start();
  setenv("DISPLAY", display.c_str(), 1);

  ASSERT_TRUE(WaitFor([&] { return run.Reports().size() >= 12; }, 10s)) << run.Read("program.log");
  Shell("paplay '" + tone + "' &");
  const auto pd0_lit = [&] {
    const auto r = run.Reports();
    for (std::size_t i = 1; i < r.size(); i += 2)
      if (r[i] == 0x81) return true;  // PD0 follows channel 11
    return false;
  };
  EXPECT_TRUE(WaitFor(pd0_lit, 4s)) << run.Read("program.log");
  const auto lpt = run.LptWrites();
  EXPECT_NE(std::find(lpt.begin(), lpt.end(), std::make_pair(0x378, 0x80)), lpt.end());
  EXPECT_TRUE(x.ProgramWindows().empty()) << "a headless run put a window on the display";

  run.Signal(SIGTERM);
  ASSERT_EQ(run.WaitExit(10s), 0);
  EXPECT_EQ(NotSwitchedOffLast(run), "");
}

// A display of the test's own with a window manager but no tray host, as some desktops are.
class DisplayWithoutTray {
 public:
  DisplayWithoutTray() {
    char pattern[] = "/tmp/glimmerix-notray-XXXXXX";
    folder_ = mkdtemp(pattern);
    const std::string number_file = folder_ + "/number";
    Shell("Xvfb -displayfd 5 -screen 0 1024x768x24 -noreset -nolisten tcp 5>'" + number_file +
          "' >/dev/null 2>&1 & echo $! >'" + folder_ + "/xvfb.pid'");
    std::string number;
    WaitFor(
        [&] {
          std::ifstream in(number_file);
          return static_cast<bool>(std::getline(in, number)) && !number.empty();
        },
        10s);
    if (number.empty()) return;
    name_ = ":" + number;
    Shell("DISPLAY=" + name_ + " openbox --config-file /etc/xdg/openbox/rc.xml >/dev/null 2>&1 & " +
          "echo $! >'" + folder_ + "/wm.pid'");
    WaitFor(
        [&] {
          return Shell("xprop -display " + name_ + " -root _NET_SUPPORTING_WM_CHECK " +
                       "2>/dev/null | grep -q 'window id'") == 0;
        },
        5s);
  }
  ~DisplayWithoutTray() {
    for (const char* which : {"/wm.pid", "/xvfb.pid"}) {
      std::ifstream in(folder_ + which);
      pid_t pid = 0;
      if (in >> pid && pid > 0) kill(pid, SIGTERM);
    }
    std::this_thread::sleep_for(200ms);
    Shell("rm -rf '" + folder_ + "'");
  }
  const std::string& name() const { return name_; }

 private:
  std::string folder_, name_;
};

TEST_F(EndToEndDesktop, WithoutATrayTheWindowShowsAtOnceAndItsCloseRequestEnds) {
  DisplayWithoutTray bare;
  ASSERT_FALSE(bare.name().empty()) << "no private display";
  const std::string display = std::getenv("DISPLAY");
  setenv("DISPLAY", bare.name().c_str(), 1);
  ProgramRun run;
  WriteSettings(run, /*key_led=*/0);
  run.Start();
  Display x;  // the bare display
  setenv("DISPLAY", display.c_str(), 1);
  ASSERT_TRUE(x.ok());

  Window window = 0;
  ASSERT_TRUE(WaitFor([&] { return (window = x.MappedWindow("Glimmerix")) != 0; }, 10s))
      << run.Read("program.log");
  EXPECT_TRUE(x.TrayIcons().empty());
  EXPECT_EQ(x.Geometry(window).size(), QSize(180, 243));
  ASSERT_TRUE(WaitFor([&] { return run.Reports().size() >= 6; }, 5s));

  EXPECT_EQ(Shell("DISPLAY=" + bare.name() + " " + GLIMMERIX_CLOSE_REQUEST + " " +
                  std::to_string(window)),
            0);
  ASSERT_EQ(run.WaitExit(10s), 0) << run.Read("program.log");
  EXPECT_NE(run.Value("setting.dat", "X_form"), "<missing>") << "the close path saves the position";
  EXPECT_EQ(NotSwitchedOffLast(run), "");
}

}  // namespace
}  // namespace glimmerix::e2e
