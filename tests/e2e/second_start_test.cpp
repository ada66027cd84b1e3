// A second start while the program runs: it ends at once, and the running one shows its window.
#include <signal.h>

#include <cstdlib>
#include <thread>

#include "gtest/gtest.h"
#include "tests/support/program_run.h"

namespace glimmerix::e2e {
namespace {

using namespace std::chrono_literals;

TEST(EndToEndSecondStart, EndsAtOnceAndTheRunningOneShowsItsWindow) {
  if (std::getenv("GLIMMERIX_TEST_SERVICES") == nullptr)
    GTEST_SKIP() << "needs scripts/with-test-services (display, tray host, sound server)";
  Display x;
  ASSERT_TRUE(x.ok());
  ProgramRun first;
  first.Start();
  ASSERT_TRUE(WaitFor([&] { return !x.TrayIcons().empty(); }, 10s)) << first.Read("program.log");
  ASSERT_EQ(x.MappedWindow("Glimmerix"), 0u) << "the window starts hidden";

  ProgramRun second;
  second.Start();
  EXPECT_EQ(second.WaitExit(3s), 0) << second.Read("program.log");
  Window window = 0;
  EXPECT_TRUE(WaitFor([&] { return (window = x.MappedWindow("Glimmerix")) != 0; }, 5s))
      << "the running instance did not show its window";
  if (window != 0) {
    EXPECT_TRUE(x.Viewable(window));
  }
  EXPECT_EQ(x.TrayIcons().size(), 1u) << "one instance, one tray icon";
  EXPECT_FALSE(second.Exists("setting.dat")) << "the second start wrote nothing";

  // Hidden again through the tray menu's "Hide", a further start brings it back.
  const Window icon = x.TrayIcons().front();
  Shell("xdotool mousemove --window " + std::to_string(icon) + " 11 15 click 3");
  std::this_thread::sleep_for(500ms);
  Shell("xdotool key Down Down Return");
  ASSERT_TRUE(WaitFor([&] { return x.MappedWindow("Glimmerix") == 0; }, 3s));
  ProgramRun third;
  third.Start();
  EXPECT_EQ(third.WaitExit(3s), 0);
  EXPECT_TRUE(WaitFor([&] { return x.MappedWindow("Glimmerix") != 0; }, 5s));

  first.Signal(SIGTERM);
  EXPECT_EQ(first.WaitExit(10s), 0);
}

}  // namespace
}  // namespace glimmerix::e2e
