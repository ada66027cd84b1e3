// The real parallel-port plug-in without a usable port: the program says why once, keeps running,
// and tries the port again when "LPT" is ticked again.
#include <signal.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "gtest/gtest.h"
#include "tests/support/program_run.h"

namespace glimmerix::e2e {
namespace {

using namespace std::chrono_literals;

int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST(EndToEndParallelPort, AProblemIsSaidOnceAndTheTickedBoxTriesAgain) {
  if (std::getenv("GLIMMERIX_TEST_SERVICES") == nullptr)
    GTEST_SKIP() << "needs scripts/with-test-services (display, tray host, sound server)";
  Display x;
  ASSERT_TRUE(x.ok());
  ProgramRun run(/*with_library=*/false);
  std::filesystem::copy_file(GLIMMERIX_INPOUT32, run.folder / "libinpout32.so");
  const std::string node = (run.folder / "parport0").string();
  setenv("GLIMMERIX_PARPORT", node.c_str(), 1);
  run.Start();
  unsetenv("GLIMMERIX_PARPORT");

  const std::string missing = node + ": cannot open: No such file or directory";
  ASSERT_TRUE(
      WaitFor([&] { return run.Read("program.log").find(missing) != std::string::npos; }, 10s))
      << run.Read("program.log");
  std::this_thread::sleep_for(1500ms);  // three more rounds of the 500 ms timer
  EXPECT_EQ(Count(run.Read("program.log"), missing), 1) << run.Read("program.log");
  EXPECT_FALSE(run.WaitExit(0ms).has_value()) << "the program keeps running";

  // A node now (a plain file, which ppdev's claim refuses): cleared and ticked again, LPT tries it.
  { std::ofstream(node) << ""; }
  ASSERT_TRUE(WaitFor([&] { return !x.TrayIcons().empty(); }, 10s));
  Shell("xdotool mousemove --window " + std::to_string(x.TrayIcons().front()) + " 11 15 click 1");
  Window window = 0;
  ASSERT_TRUE(WaitFor([&] { return (window = x.MappedWindow("Glimmerix")) != 0; }, 5s));
  const std::string click =
      "xdotool mousemove --window " + std::to_string(window) + " 73 235 click 1";
  Shell(click);
  std::this_thread::sleep_for(300ms);
  Shell(click);
  const std::string refused = node + ": cannot claim the port";
  EXPECT_TRUE(
      WaitFor([&] { return run.Read("program.log").find(refused) != std::string::npos; }, 5s))
      << run.Read("program.log");
  EXPECT_EQ(Count(run.Read("program.log"), missing), 1);

  run.Signal(SIGTERM);
  EXPECT_EQ(run.WaitExit(10s), 0);
}

}  // namespace
}  // namespace glimmerix::e2e
