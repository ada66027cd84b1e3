// The whole program sending its channels to a real olad, read back as Art-Net on loopback: a tone
// lights channel 11 at start + 10, Invert inverts, the way out leaves the universe dark; the
// daemon killed and restarted, or frozen, neither stops nor slows the program.
#include <signal.h>

#include <algorithm>
#include <cstdlib>
#include <thread>

#include "gtest/gtest.h"
#include "tests/support/ola_daemon.h"
#include "tests/support/program_run.h"

namespace glimmerix::e2e {
namespace {

using namespace std::chrono_literals;
using testing::ArtDmxFrame;
using testing::ArtDmxListener;
using testing::OlaDaemon;
using testing::Slot;

constexpr int kStart = 100;
constexpr int kLevel = 200;

class DmxWholeProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("GLIMMERIX_TEST_SERVICES") == nullptr)
      GTEST_SKIP() << "needs scripts/with-test-services (display, tray host, sound server)";
    ASSERT_TRUE(x.ok());
    ASSERT_TRUE(listener.ok()) << "cannot listen on UDP port 6454";
    std::string why;
    ASSERT_TRUE(daemon.Start(why)) << why;
    listener.Rebind();
  }

  // Manual mode with thresholds that let a full-scale 1 kHz tone light channel 11 alone, the
  // controller's PD0 following channel 11, and the DMX output on universe 1 from slot kStart.
  static void Setup(ProgramRun& run) {
    run.Write("Test.patt", {"Effect = 1", "Bright = 9", "Step = 100", "Level = 35", "ARU = 1"});
    std::vector<std::string> s = {"X_form = 100", "Y_form = 120", "PID = " + std::to_string(kPid),
                                  "VID = " + std::to_string(kVid), "Preset = Test"};
    for (int n = 1; n <= 18; ++n) s.push_back("fr" + std::to_string(n) + " = 20");
    s.push_back("OUT1 = 11");
    s.push_back("LPT_LED = 1");
    s.push_back("DMX = 1");
    s.push_back("DMX_UNIVERSE = 1");
    s.push_back("DMX_START = " + std::to_string(kStart));
    s.push_back("DMX_LEVEL = " + std::to_string(kLevel));
    run.Write("setting.dat", s);
  }

  // The frame holds exactly these channels lit (1-based), at kLevel from kStart, the rest 0.
  static bool Shows(const ArtDmxFrame& f, const std::vector<int>& lit) {
    if (f.values.size() != 512) return false;
    for (int slot = 1; slot <= 512; ++slot) {
      const int channel = slot - kStart + 1;
      const bool on = std::find(lit.begin(), lit.end(), channel) != lit.end();
      if (Slot(f, slot) != (on ? kLevel : 0)) return false;
    }
    return true;
  }
  static std::vector<int> AllBut(int channel) {
    std::vector<int> lit;
    for (int c = 1; c <= 18; ++c)
      if (c != channel) lit.push_back(c);
    return lit;
  }

  // Starts the program and shows its window through the tray icon; 0 when either did not show.
  Window StartAndShowWindow(ProgramRun& run) {
    run.Start();
    const Window icon = x.WaitForTrayIcon();
    if (icon == 0) return 0;
    Shell("xdotool mousemove --window " + std::to_string(icon) + " 11 15 click 1");
    Window w = 0;
    WaitFor([&] { return (w = x.MappedWindow("Glimmerix")) != 0; }, 5s);
    return w;
  }
  static void Click(Window w, int x, int y) {
    Shell("xdotool mousemove --window " + std::to_string(w) + " " + std::to_string(x) + " " +
          std::to_string(y) + " click 1");
  }

  // Engine passes per second over the next `span`, counted at the controller: three 2-byte
  // reports per pass.
  static double PassesPerSecond(const ProgramRun& run, std::chrono::milliseconds span) {
    const std::size_t before = run.Reports().size();
    std::this_thread::sleep_for(span);
    return (run.Reports().size() - before) / 6.0 / (span.count() / 1000.0);
  }

  Display x;
  ArtDmxListener listener;
  OlaDaemon daemon;
};

TEST_F(DmxWholeProgram, AToneLightsChannel11AtStartPlus10InvertInvertsAndTheWayOutLeavesItDark) {
  ProgramRun run;
  Setup(run);
  Shell("sox -n -r 22050 -c 1 -e floating-point -b 32 '" + (run.folder / "tone.wav").string() +
        "' synth 10 sine 1000 gain -n -0.5");
  const Window window = StartAndShowWindow(run);
  ASSERT_NE(window, 0u) << run.Read("program.log");
  ASSERT_TRUE(listener.WaitForFrame(
      0, [](const ArtDmxFrame& f) { return Shows(f, {}); }, 5s))
      << "silence: a dark universe\n"
      << run.Read("program.log");

  const std::size_t before_tone = listener.count();
  Shell("paplay '" + (run.folder / "tone.wav").string() + "' &");
  EXPECT_TRUE(listener.WaitForFrame(
      before_tone, [](const ArtDmxFrame& f) { return Shows(f, {11}); }, 4s))
      << "channel 11 at slot " << kStart + 10;
  std::size_t n = listener.count();
  // The tone's onset may touch the neighbouring bands for a pass; nothing further off lights.
  for (const auto& f : listener.Frames()) {
    for (int slot = 1; slot <= 512; ++slot) {
      const bool near_11 = slot >= kStart + 9 && slot <= kStart + 12;
      EXPECT_TRUE(Slot(f, slot) == 0 || (near_11 && Slot(f, slot) == kLevel)) << "slot " << slot;
    }
  }

  Click(window, 156 + 7, 228 + 7);  // "<>": the wide form shows "Invert"
  Click(window, 181 + 8, 209 + 10);
  EXPECT_TRUE(listener.WaitForFrame(
      n, [](const ArtDmxFrame& f) { return Shows(f, AllBut(11)); }, 4s))
      << "Invert: every channel but 11";

  n = listener.count();
  run.Signal(SIGTERM);
  ASSERT_EQ(run.WaitExit(10s), 0);
  std::this_thread::sleep_for(1500ms);
  const auto frames = listener.Frames();
  ASSERT_GT(frames.size(), n);
  EXPECT_EQ(frames.back().values, std::vector<std::uint8_t>(512, 0)) << "the last frame is dark";
  EXPECT_EQ(NotSwitchedOffLast(run), "");
}

TEST_F(DmxWholeProgram, OladKilledAndRestartedFramesResumeAndThePassesKeepTheirPace) {
  ProgramRun run;
  Setup(run);
  run.Start();
  ASSERT_NE(x.WaitForTrayIcon(), 0u) << run.Read("program.log");
  ASSERT_TRUE(listener.WaitForFrame(
      0, [](const ArtDmxFrame&) { return true; }, 5s));
  const double pace_before = PassesPerSecond(run, 3s);

  daemon.Kill();
  const double pace_without = PassesPerSecond(run, 3s);
  std::string why;
  ASSERT_TRUE(daemon.Start(why)) << why;
  listener.Rebind();
  const std::size_t n = listener.count();
  const auto restarted = std::chrono::steady_clock::now();
  ASSERT_TRUE(listener.WaitForFrame(
      n, [](const ArtDmxFrame&) { return true; }, 8s))
      << "frames flow again without a restart of the program";
  const auto resumed_after = std::chrono::steady_clock::now() - restarted;
  std::printf("passes/s before %.1f, without olad %.1f; frames again %lld ms after olad\n",
              pace_before, pace_without,
              static_cast<long long>(
                  std::chrono::duration_cast<std::chrono::milliseconds>(resumed_after).count()));
  EXPECT_GT(pace_before, 12.0);
  EXPECT_GT(pace_without, pace_before * 0.9) << "the passes do not slow without the daemon";
  EXPECT_NE(run.Read("program.log").find("DMX: lost OLA"), std::string::npos)
      << "said once on stderr";
  run.Signal(SIGTERM);
  EXPECT_EQ(run.WaitExit(10s), 0);
}

TEST_F(DmxWholeProgram, AFrozenOladLeavesTheWindowAndTheEngineResponsive) {
  ProgramRun run;
  Setup(run);
  const Window window = StartAndShowWindow(run);
  ASSERT_NE(window, 0u) << run.Read("program.log");
  ASSERT_TRUE(listener.WaitForFrame(
      0, [](const ArtDmxFrame&) { return true; }, 5s));
  const double pace_before = PassesPerSecond(run, 3s);

  daemon.Signal(SIGSTOP);
  const auto stopped = std::chrono::steady_clock::now();
  const double pace_frozen = PassesPerSecond(run, 10s);
  // The window still answers: "<>" widens it at once.
  Click(window, 156 + 7, 228 + 7);
  EXPECT_TRUE(WaitFor([&] { return x.Geometry(window).width() == 320; }, 1s));
  std::this_thread::sleep_until(stopped + 30s);
  const double pace_late = PassesPerSecond(run, 2s);
  daemon.Signal(SIGCONT);
  const std::size_t n = listener.count();
  EXPECT_TRUE(listener.WaitForFrame(
      n, [](const ArtDmxFrame&) { return true; }, 8s))
      << "frames flow after SIGCONT";
  std::printf("passes/s before %.1f, olad stopped %.1f, after 30 s stopped %.1f\n", pace_before,
              pace_frozen, pace_late);
  EXPECT_GT(pace_frozen, pace_before * 0.9);
  EXPECT_GT(pace_late, pace_before * 0.9);
  // The way out with the daemon frozen again: the dark frame cannot be taken, the program ends
  // all the same, promptly.
  daemon.Signal(SIGSTOP);
  std::this_thread::sleep_for(2s);
  const auto asked = std::chrono::steady_clock::now();
  run.Signal(SIGTERM);
  EXPECT_EQ(run.WaitExit(10s), 0);
  const auto took = std::chrono::steady_clock::now() - asked;
  std::printf(
      "way out with olad stopped: %lld ms\n",
      static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
  EXPECT_LT(took, 4s) << "the way out does not hang on the daemon";
  EXPECT_EQ(NotSwitchedOffLast(run), "");
  daemon.Signal(SIGCONT);
}

TEST_F(DmxWholeProgram, TheTrayMenusDmxEntryOpensTheDialog) {
  ProgramRun run;
  Setup(run);
  run.Start();
  const Window icon = x.WaitForTrayIcon();
  ASSERT_NE(icon, 0u) << run.Read("program.log");
  PickFromTrayMenu(icon, "Down Down Down Down Down Down Return");  // "DMX...", after Help
  EXPECT_TRUE(WaitFor([&] { return x.MappedWindow("DMX") != 0; }, 5s));
  SaveScreenshot("dmx-dialog");
  run.Signal(SIGTERM);
  EXPECT_EQ(run.WaitExit(10s), 0);
}

}  // namespace
}  // namespace glimmerix::e2e
