// The real program with a controller that stays plugged in but stops taking reports: each write
// lasting 5 s (what the USB timeout gives a hung device), a write that never returns, and a node
// that honours O_NONBLOCK but is full. The program's main thread must stay free (sampled: how
// often it is found waiting on a lock) and SIGTERM must end it within 2 s, through the whole exit
// path (the parallel port's all-off values are written last). The slow writes come from a
// preloaded write() (slow_write.c). Needs scripts/with-test-services; skipped without it.
#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "gtest/gtest.h"
#include "tests/support/fake_hid_tree.h"
#include "tests/support/program_run.h"

namespace glimmerix::e2e {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The system call the program's main thread is in (its first field of /proc/PID/task/PID/syscall),
// or -1 while it runs or cannot be read.
long MainThreadSyscall(pid_t pid) {
  const std::string path =
      "/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/syscall";
  std::ifstream in(path);
  long number = -1;
  if (!(in >> number)) return -1;
  return number;
}

// Sets an environment variable for the program's start only.
class StartEnvironment {
 public:
  void Set(const char* name, const std::string& value) {
    const char* old = std::getenv(name);
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    setenv(name, value.c_str(), 1);
  }
  ~StartEnvironment() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second)
        setenv(it->first.c_str(), it->second->c_str(), 1);
      else
        unsetenv(it->first.c_str());
    }
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

class ProgramFaultsStuckController : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("GLIMMERIX_TEST_SERVICES") == nullptr)
      GTEST_SKIP() << "needs scripts/with-test-services (display, tray host, sound server)";
  }

  // Starts the program on the controller of hid, lets it run 4 s, then ends it with SIGTERM.
  void RunAndEnd(ProgramRun& run, const std::string& what) {
    run.Write("setting.dat", {"PID = " + std::to_string(kPid), "VID = " + std::to_string(kVid)});
    {
      StartEnvironment environment;
      for (const auto& [name, value] : start_environment_) environment.Set(name.c_str(), value);
      run.Start();
    }
    EXPECT_TRUE(WaitFor(
        [&] { return run.Read("program.log").find("does not answer") != std::string::npos; }, 5s))
        << "never said the controller does not answer\n"
        << run.Read("program.log");

    // The main thread, sampled every 10 ms for 3 s: how often is it waiting on a lock (futex)?
    int samples = 0, on_lock = 0;
    const auto sampling = Clock::now();
    while (Clock::now() - sampling < 3s) {
      const long call = MainThreadSyscall(run.pid());
      ++samples;
      on_lock += call == SYS_futex;
      std::this_thread::sleep_for(10ms);
    }

    const auto signalled = Clock::now();
    run.Signal(SIGTERM);
    const std::optional<int> status = run.WaitExit(10s);
    const long exit_ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - signalled).count();
    std::printf("%s: main thread on a lock in %d of %d samples; SIGTERM to exit %s ms\n",
                what.c_str(), on_lock, samples,
                status ? std::to_string(exit_ms).c_str() : "> 10000");
    EXPECT_LE(on_lock * 10, samples) << "the main thread waits on the device";
    ASSERT_TRUE(status.has_value()) << "SIGTERM did not end the program";
    EXPECT_EQ(*status, 0);
    EXPECT_LE(exit_ms, 2000);
    const std::string log = run.Read("program.log");
    EXPECT_NE(log.find("did not take the all-off reports"), std::string::npos) << log;
    const auto lpt = run.LptWrites();
    ASSERT_GE(lpt.size(), 2u);
    EXPECT_EQ(lpt[lpt.size() - 2], std::make_pair(0x378, 0x00)) << "the exit path did not finish";
    EXPECT_EQ(lpt.back(), std::make_pair(0x37A, 0x0B));
  }

  // Writes to node 0 of hid last ms milliseconds each ("never": never return).
  void SlowWrites(const testing::FakeHidTree& hid, const std::string& ms) {
    start_environment_ = {{"LD_PRELOAD", GLIMMERIX_SLOW_WRITE},
                          {"GLIMMERIX_SLOW_NODE", hid.NodePath(0).string()},
                          {"GLIMMERIX_SLOW_WRITE_MS", ms}};
    // The preloaded write() comes before the sanitizer's runtime in an instrumented program.
    const char* asan = std::getenv("ASAN_OPTIONS");
    start_environment_.emplace_back("ASAN_OPTIONS",
                                    std::string(asan ? asan : "") + ":verify_asan_link_order=0");
  }

  std::vector<std::pair<std::string, std::string>> start_environment_;
};

TEST_F(ProgramFaultsStuckController, WriteThatNeverReturnsLeavesTheProgramFreeAndSigtermEndsIt) {
  ProgramRun run;
  testing::FakeHidTree hid;  // made after the run's own tree, so the program looks here
  hid.Add(0, kVid, kPid);
  SlowWrites(hid, "never");
  RunAndEnd(run, "write never returns");
}

TEST_F(ProgramFaultsStuckController, FiveSecondWritesLeaveTheProgramFreeAndSigtermEndsIt) {
  ProgramRun run;
  testing::FakeHidTree hid;
  hid.Add(0, kVid, kPid);
  SlowWrites(hid, "5000");
  RunAndEnd(run, "5 s writes");
}

TEST_F(ProgramFaultsStuckController, FullNodeLeavesTheProgramFreeAndSigtermEndsIt) {
  ProgramRun run;
  testing::FakeHidTree hid;
  hid.Add(0, kVid, kPid, 0x0100, testing::Node::kFifo);
  // A FIFO nobody drains, filled up: a device that takes nothing.
  const int fill = open(hid.NodePath(0).c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(fill, 0);
  const char byte = 0x55;
  while (write(fill, &byte, 1) == 1) {
  }
  RunAndEnd(run, "full FIFO");
  close(fill);
}

}  // namespace
}  // namespace glimmerix::e2e
