// Choosing what the program hears, through the whole program: a private sound server with a second
// null sink beside the test services' own, a tone of its own band into each, and the lights read
// from what the fake controller receives (output PD0 follows channel 11, PD1 channel 13).
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "tests/support/program_run.h"
#include "tests/support/sound_server.h"

namespace glimmerix::e2e {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing::Pactl;
using testing::Player;

// Each tone sits on a bin of its own, in a band of its own: 1 kHz (bin 186) in channel 11, ~2 kHz
// (bin 372) in channel 13.
constexpr double kFirstHz = 1000.0;
constexpr double kSecondHz = 372 * 22050.0 / 4096;
constexpr int kFirstChannel = 11, kSecondChannel = 13;
// The controller's port D report (0x80 + bits): PD0 follows channel 11, PD1 channel 13.
constexpr int kDark = 0x80, kFirstLit = 0x81, kSecondLit = 0x82;

constexpr const char* kFirstSink = "test_sink";  // the test services' own, the default
constexpr const char* kSecondSink = "glimmerix_second";

const char* ServerName() {
  return testing::RunsOnPipeWire() ? "PipeWire" : "PulseAudio";
}

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

class InputEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("GLIMMERIX_TEST_SERVICES") == nullptr)
      GTEST_SKIP() << "needs scripts/with-test-services (display, tray host, sound server)";
    ASSERT_TRUE(x.ok());
    ASSERT_TRUE(LoadSecondSink());
  }
  // Leaves the server as the other tests expect it, whatever failed.
  void TearDown() override {
    first_player.reset();
    second_player.reset();
    Pactl(std::string("set-default-sink ") + kFirstSink);
    Pactl(std::string("set-default-source ") + kFirstSink + ".monitor");
    UnloadSecondSink();
  }

  // A freshly loaded null sink renders ahead of real time for its first ~2 s: what is played
  // into it is heard that much later, so a test that times it waits first.
  bool LoadSecondSink(const std::string& name = kSecondSink) {
    second_module_ = testing::LoadNullSink(name, name);
    loaded_ = Clock::now();
    return second_module_ >= 0;
  }
  void UnloadSecondSink() {
    if (second_module_ >= 0) Pactl("unload-module " + std::to_string(second_module_));
    second_module_ = -1;
  }
  void WaitForSecondSinkSettled() { std::this_thread::sleep_until(loaded_ + 3s); }

  void PlayFirstTone() {
    first_player.reset();
    first_player =
        std::make_unique<Player>(testing::SineSamples(kFirstHz, 1.0, 60.0), 10, kFirstSink);
  }
  void PlaySecondTone(const std::string& sink = kSecondSink) {
    second_player.reset();
    second_player = std::make_unique<Player>(testing::SineSamples(kSecondHz, 1.0, 60.0), 10, sink);
  }
  // The server moves the streams of the old default sink to the new one, whatever sink they
  // were started on: each tone is started again into its own sink. When the switch was asked.
  Clock::time_point SwitchDefaultSink(const std::string& sink) {
    const auto asked = Clock::now();
    EXPECT_TRUE(Pactl("set-default-sink " + sink));
    PlayFirstTone();
    PlaySecondTone();
    return asked;
  }

  // A Manual preset whose thresholds let a full-scale tone light its own channel, 11 or 13, and
  // nothing else; the program records `input` ("Input" left out when empty).
  static void Setup(ProgramRun& run, const std::string& input) {
    run.Write("Test.patt", {"Effect = 1", "Bright = 9", "Step = 100", "Level = 35", "ARU = 1"});
    std::vector<std::string> s = {"X_form = 100", "Y_form = 120", "PID = " + std::to_string(kPid),
                                  "VID = " + std::to_string(kVid), "Preset = Test"};
    for (int n = 1; n <= 18; ++n) {
      const bool played = n == kFirstChannel || n == kSecondChannel;
      s.push_back("fr" + std::to_string(n) + " = " + (played ? "20" : "39"));
    }
    s.push_back("KEY_LED = 0");
    s.push_back("OUT1 = " + std::to_string(kFirstChannel));
    s.push_back("OUT2 = " + std::to_string(kSecondChannel));
    for (int n = 3; n <= 18; ++n) s.push_back("OUT" + std::to_string(n) + " = 0");
    s.push_back("LPT_LED = 1");
    if (!input.empty()) s.push_back("Input = " + input);
    run.Write("setting.dat", s);
  }

  // The port D command of the latest pass the controller received; -1 before the first.
  static int Lights(const ProgramRun& run) {
    const auto reports = run.Reports();
    for (std::size_t i = reports.size() / 2; i-- > 0;)
      if ((reports[2 * i + 1] & 0xC0) == 0x80) return reports[2 * i + 1];
    return -1;
  }
  // Whether the lights show `lit` within timeout; the time from `since` is printed with `what`.
  bool LitWithin(const ProgramRun& run, int lit, std::chrono::milliseconds timeout,
                 const char* what, Clock::time_point since = Clock::now()) {
    const bool shown = WaitFor([&] { return Lights(run) == lit; }, timeout);
    std::printf("%s (%s): %s %.0f ms\n", what, ServerName(), shown ? "after" : "not within",
                Ms(Clock::now() - since));
    return shown;
  }
  // How many of `samples` readings 50 ms apart show `lit`.
  static int TimesLit(const ProgramRun& run, int lit, int samples) {
    int count = 0;
    for (int i = 0; i < samples; ++i) {
      count += Lights(run) == lit;
      std::this_thread::sleep_for(50ms);
    }
    return count;
  }

  Display x;
  std::unique_ptr<Player> first_player, second_player;
  int second_module_ = -1;
  Clock::time_point loaded_;
};

// The default input is the second sink's monitor, so a program that records the default input
// lights channel 13 from the start and never channel 11.
TEST_F(InputEndToEnd, WhatThisComputerPlaysFollowsTheDefaultOutputNotTheDefaultInput) {
  ASSERT_TRUE(Pactl(std::string("set-default-source ") + kSecondSink + ".monitor"));
  PlayFirstTone();
  PlaySecondTone();
  ProgramRun run;
  Setup(run, "@DEFAULT_MONITOR@");
  run.Start();
  ASSERT_NE(x.WaitForTrayIcon(), 0u) << run.Read("program.log");
  ASSERT_TRUE(LitWithin(run, kFirstLit, 10s, "default output heard")) << Lights(run);
  WaitForSecondSinkSettled();

  auto asked = SwitchDefaultSink(kSecondSink);
  EXPECT_TRUE(LitWithin(run, kSecondLit, 2s, "default output switched, lights followed", asked))
      << Lights(run);
  // And it stays there (a gap in a test player's short buffer may spoil a pass or two).
  EXPECT_GE(TimesLit(run, kSecondLit, 20), 15);
  EXPECT_EQ(TimesLit(run, kFirstLit, 10), 0);

  asked = SwitchDefaultSink(kFirstSink);
  EXPECT_TRUE(LitWithin(run, kFirstLit, 2s, "default output switched back", asked)) << Lights(run);
  EXPECT_FALSE(run.WaitExit(0ms).has_value());
  EXPECT_EQ(run.Value("setting.dat", "Input"), "@DEFAULT_MONITOR@");
}

TEST_F(InputEndToEnd, ChosenInTheTrayMenuItIsSavedAndTheLightsFollowTheDefaultOutput) {
  PlayFirstTone();
  PlaySecondTone();
  ProgramRun run;
  Setup(run, "");
  run.Start();
  const Window icon = x.WaitForTrayIcon();
  ASSERT_NE(icon, 0u) << run.Read("program.log");
  ASSERT_TRUE(LitWithin(run, kFirstLit, 10s, "default input heard")) << Lights(run);
  EXPECT_EQ(run.Value("setting.dat", "Input"), "<missing>");

  // "Open", "Hide", "Input" ▸ "Default input", "What this computer plays".
  PickFromTrayMenu(icon, "Down Down Down Right Down Return");
  ASSERT_TRUE(WaitFor([&] { return run.Value("setting.dat", "Input") == "@DEFAULT_MONITOR@"; }, 3s))
      << run.Value("setting.dat", "Input");
  WaitForSecondSinkSettled();
  const auto asked = SwitchDefaultSink(kSecondSink);
  EXPECT_TRUE(LitWithin(run, kSecondLit, 2s, "chosen in the menu, default output switched", asked))
      << Lights(run);

  // Kept at the next start: the lights follow the default output from the start.
  run.Signal(SIGTERM);
  ASSERT_EQ(run.WaitExit(10s), 0);
  EXPECT_EQ(run.Value("setting.dat", "Input"), "@DEFAULT_MONITOR@");
  run.Start();
  ASSERT_NE(x.WaitForTrayIcon(), 0u) << run.Read("program.log");
  EXPECT_TRUE(LitWithin(run, kSecondLit, 10s, "started again")) << Lights(run);
}

TEST_F(InputEndToEnd, ASavedSourceThatIsNotThereFallsBackToTheDefaultInputUntilItComes) {
  const std::string later = "glimmerix_later";
  UnloadSecondSink();
  PlayFirstTone();
  ProgramRun run;
  Setup(run, later + ".monitor");
  run.Start();
  ASSERT_NE(x.WaitForTrayIcon(), 0u) << run.Read("program.log");
  EXPECT_TRUE(LitWithin(run, kFirstLit, 10s, "missing source, default input heard")) << Lights(run);

  ASSERT_TRUE(LoadSecondSink(later));
  PlaySecondTone(later);
  // Heard once the fresh sink has caught up with real time.
  EXPECT_TRUE(LitWithin(run, kSecondLit, 5s, "saved source appeared, heard")) << Lights(run);
  EXPECT_GE(TimesLit(run, kSecondLit, 20), 15);
  EXPECT_EQ(run.Value("setting.dat", "Input"), later + ".monitor") << "the saved choice was lost";
}

TEST_F(InputEndToEnd, AChosenSourceUnloadedIsSilenceAndItsLightsReturnWithIt) {
  PlayFirstTone();
  PlaySecondTone();
  ProgramRun run;
  Setup(run, std::string(kSecondSink) + ".monitor");
  run.Start();
  ASSERT_NE(x.WaitForTrayIcon(), 0u) << run.Read("program.log");
  ASSERT_TRUE(LitWithin(run, kSecondLit, 10s, "chosen source heard")) << Lights(run);

  // The server moves the second tone's player to the default sink; the recording must not move.
  UnloadSecondSink();
  EXPECT_TRUE(LitWithin(run, kDark, 2s, "chosen source gone, lights dark")) << Lights(run);
  EXPECT_EQ(TimesLit(run, kDark, 30), 30) << "something lit while the chosen source is gone";
  EXPECT_FALSE(run.WaitExit(0ms).has_value()) << "the program ended";

  ASSERT_TRUE(LoadSecondSink());
  PlaySecondTone();
  EXPECT_TRUE(LitWithin(run, kSecondLit, 5s, "chosen source back, heard")) << Lights(run);
  EXPECT_GE(TimesLit(run, kSecondLit, 20), 15);
  run.Signal(SIGTERM);
  EXPECT_EQ(run.WaitExit(10s), 0);
  EXPECT_EQ(run.Value("setting.dat", "Input"), std::string(kSecondSink) + ".monitor");
}

// The first test again with PipeWire's pulse service as the sound server, under test services of
// its own.
TEST(InputEndToEndOnPipeWire, WhatThisComputerPlaysFollowsTheDefaultOutput) {
  if (std::getenv("GLIMMERIX_TEST_SERVICES") == nullptr)
    GTEST_SKIP() << "needs scripts/with-test-services (display, tray host, sound server)";
  for (const char* program : {"pipewire", "wireplumber", "pipewire-pulse"}) {
    if (Shell(std::string("command -v ") + program + " >/dev/null 2>&1") != 0)
      GTEST_SKIP() << program
                   << " is not installed here (Debian packages pipewire-pulse and wireplumber), "
                      "so the input choice cannot be tried on PipeWire";
  }
  char self[4096];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  ASSERT_GT(length, 0);
  self[length] = '\0';
  const std::string output = testing::CommandOutput(
      std::string("GLIMMERIX_TEST_SOUND_SERVER=pipewire bash ") + GLIMMERIX_TEST_SERVICES_SCRIPT +
      " " + self + " --gtest_filter='InputEndToEnd.WhatThisComputerPlays*' 2>&1; echo \"exit $?\"");
  std::fputs(output.c_str(), stdout);
  EXPECT_TRUE(output.ends_with("\nexit 0\n")) << "the test failed on PipeWire";
  EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << "it did not run";
  EXPECT_NE(output.find("(PipeWire)"), std::string::npos) << "the server was not PipeWire";
}

}  // namespace
}  // namespace glimmerix::e2e
