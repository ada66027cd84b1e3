// The program under a sound server that takes the connection and never answers (its recording
// through PortAudio then never opens): it says so, and a SIGTERM still ends it at once.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdlib>

#include "tests/support/program_run.h"
#include "tests/support/sound_server.h"

namespace glimmerix::e2e {
namespace {

using namespace std::chrono_literals;

TEST(EndToEndStuckRecording, SigtermEndsTheProgramWithinTwoSeconds) {
  if (std::getenv("GLIMMERIX_TEST_SERVICES") == nullptr)
    GTEST_SKIP() << "needs scripts/with-test-services (display, tray host)";
  glimmerix::testing::StuckSoundServer server;
  ASSERT_TRUE(server.listening());
  // ALSA's default device leads to the same server, as on a desktop.
  glimmerix::testing::AlsaHome home("pcm.!default { type pulse }\nctl.!default { type pulse }\n");
  setenv("PULSE_SERVER", server.address().c_str(), 1);
  ProgramRun run;
  run.Start();
  const std::string stuck = "glimmerix: the recording device does not start";
  const bool told =
      WaitFor([&] { return run.Read("program.log").find(stuck) != std::string::npos; }, 20s);
  unsetenv("PULSE_SERVER");
  ASSERT_TRUE(told) << run.Read("program.log");

  const auto signalled = std::chrono::steady_clock::now();
  run.Signal(SIGTERM);
  const std::optional<int> status = run.WaitExit(5s);
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - signalled);
  ASSERT_TRUE(status.has_value()) << "still running 5 s after SIGTERM";
  EXPECT_EQ(*status, 0);
  EXPECT_LT(took, 2s);
  std::printf("ended %lld ms after SIGTERM\n", static_cast<long long>(took.count()));
  EXPECT_EQ(glimmerix::testing::Occurrences(run.Read("program.log"), stuck), 1)
      << run.Read("program.log");
}

}  // namespace
}  // namespace glimmerix::e2e
