// Start-up clears what a save killed half-way left in the program's folder, and only that.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "gtest/gtest.h"
#include "tests/support/program_run.h"

namespace glimmerix::e2e {
namespace {

using namespace std::chrono_literals;

TEST(EndToEndStartUp, RemovesTheTemporaryFilesOfKilledSaves) {
  if (std::getenv("GLIMMERIX_TEST_SERVICES") == nullptr)
    GTEST_SKIP() << "needs scripts/with-test-services (display, tray host, sound server)";
  const pid_t gone = fork();
  ASSERT_GE(gone, 0);
  if (gone == 0) _exit(0);
  ASSERT_EQ(waitpid(gone, nullptr, 0), gone);

  ProgramRun run;
  const std::string stale = ".glimmerix-" + std::to_string(gone) + "-0-123.tmp";
  const std::string live = ".glimmerix-" + std::to_string(getpid()) + "-0-123.tmp";
  run.Write(stale, {"X_form = 1"});
  run.Write(live, {"X_form = 2"});
  run.Start();
  EXPECT_TRUE(WaitFor([&] { return !run.Exists(stale); }, 10s)) << run.Read("program.log");
  EXPECT_TRUE(run.Exists(live));
  run.Signal(SIGTERM);
  EXPECT_EQ(run.WaitExit(10s), 0);
}

}  // namespace
}  // namespace glimmerix::e2e
