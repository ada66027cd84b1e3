// A controller that stops taking reports while it stays plugged in. A hidraw node takes every
// report at once, whatever O_NONBLOCK says, and its write() lasts as long as the device needs: up
// to the USB timeout of 5 s for a hung device, forever through a faulty driver. This program
// defines write() itself and holds writes to the inode marked slow, for a given time or until
// released. A full FIFO stands for a device that honours O_NONBLOCK but takes nothing.
//
// Neither the presence check (main thread) nor the engine's sends may wait for such a device,
// and the shutdown's all-off reports are waited for only so long. Today's failure mode is a hang,
// so a watchdog ends the program with a message when a test takes far too long.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "outputs/usb_controller.h"
#include "program/controller_indicator.h"
#include "tests/support/fake_hid_tree.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::atomic<ino_t> slow_inode{0};
std::atomic<int> slow_ms{0};             // each write to the slow inode lasts this long...
std::atomic<bool> held_for_good{false};  // ...or, while this is set, until it is cleared
std::atomic<int> writes_in_progress{0};

}  // namespace

extern "C" ssize_t write(int fd, const void* buffer, size_t length) {
  struct stat st;
  const ino_t slow = slow_inode.load();
  if (slow != 0 && fstat(fd, &st) == 0 && st.st_ino == slow) {
    writes_in_progress.fetch_add(1);
    const auto until = Clock::now() + std::chrono::milliseconds(slow_ms.load());
    while (held_for_good.load() || Clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    writes_in_progress.fetch_sub(1);
  }
  return syscall(SYS_write, fd, buffer, length);
}

namespace glimmerix {
namespace {

using namespace glimmerix::testing;  // FakeHidTree, Node, Bytes, kVid, kPid

// Ends the test program when a test outlives its limit: a hung check or send would otherwise
// hold the run until ctest's own timeout.
class Watchdog {
 public:
  explicit Watchdog(std::chrono::seconds limit) {
    thread_ = std::thread([this, limit] {
      std::unique_lock lock(mutex_);
      if (!done_cv_.wait_for(lock, limit, [this] { return done_; })) {
        std::fprintf(stderr, "watchdog: the test hung for %llds (a wait on the device)\n",
                     static_cast<long long>(limit.count()));
        std::_Exit(3);
      }
    });
  }
  ~Watchdog() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    done_cv_.notify_one();
    thread_.join();
  }

 private:
  std::mutex mutex_;  // guards done_
  std::condition_variable done_cv_;
  bool done_ = false;
  std::thread thread_;
};

struct Rig {
  FakeHidTree tree;
  ControlTable controls;
  EngineShared shared;
  ControllerIndicator indicator{controls, shared};
  std::unique_ptr<UsbController> usb = std::make_unique<UsbController>(indicator);
  explicit Rig(Node node = Node::kFile) {
    usb->USB_VID = kVid;
    usb->USB_PID = kPid;
    tree.Add(0, kVid, kPid, 0x0100, node);
  }
  ~Rig() {
    held_for_good = false;
    slow_inode = 0;
    slow_ms = 0;
  }
  void MarkSlow(int ms, bool for_good) {
    struct stat st;
    ASSERT_EQ(stat(tree.NodePath(0).c_str(), &st), 0);
    slow_ms = ms;
    held_for_good = for_good;
    slow_inode = st.st_ino;
  }
  bool Orange() const {
    return controls.status_text() == "USBON" &&
           controls.status_colour() == ControllerIndicator::kTroubleColour;
  }
  bool Green() const {
    return controls.status_text() == "USBON" &&
           controls.status_colour() == ControllerIndicator::kOnColour;
  }
};

// Polls every 5 ms, for at most 3 s.
bool WaitFor(const std::function<bool()>& pred) {
  const auto end = Clock::now() + 3s;
  while (!pred()) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

std::chrono::milliseconds Since(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

// An engine thread sending a pass of three reports every 20 ms, timing each send.
class EngineSends {
 public:
  explicit EngineSends(UsbController& usb) {
    thread_ = std::thread([this, &usb] {
      while (!stop_.load()) {
        for (std::uint8_t command : {0x00, 0x40, 0x80}) {
          const auto start = Clock::now();
          usb.SendCommand(command);
          longest_ms_.store(std::max<long>(longest_ms_.load(), Since(start).count()));
        }
        passes_.fetch_add(1);
        std::this_thread::sleep_for(20ms);
      }
    });
  }
  ~EngineSends() { Stop(); }
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  long longest_ms() const { return longest_ms_.load(); }
  int passes() const { return passes_.load(); }

 private:
  std::atomic<bool> stop_{false};
  std::atomic<long> longest_ms_{0};
  std::atomic<int> passes_{0};
  std::thread thread_;
};

TEST(UsbControllerStuck, WriteThatNeverReturnsHoldsNoCheckNoSendAndNoShutdown) {
  Watchdog watchdog(20s);
  Rig rig;
  rig.usb->CheckPresence();
  ASSERT_TRUE(rig.usb->has_handle());
  rig.MarkSlow(0, /*for_good=*/true);

  EngineSends engine(*rig.usb);
  long longest_check_ms = 0;
  bool shown_at = false;
  const auto start = Clock::now();
  while (Since(start) < 1500ms) {
    const auto check = Clock::now();
    rig.usb->CheckPresence();
    longest_check_ms = std::max<long>(longest_check_ms, Since(check).count());
    if (!shown_at && rig.Orange()) {
      shown_at = true;
      std::printf("not answering shown after %lld ms\n",
                  static_cast<long long>(Since(start).count()));
    }
    std::this_thread::sleep_for(50ms);
  }
  engine.Stop();
  std::printf("longest presence check %ld ms, longest send %ld ms, %d passes\n", longest_check_ms,
              engine.longest_ms(), engine.passes());
  EXPECT_LE(longest_check_ms, 100);
  EXPECT_LE(engine.longest_ms(), 50);
  EXPECT_GE(engine.passes(), 30) << "the engine's passes were held up";
  EXPECT_EQ(writes_in_progress.load(), 1) << "one write stuck, none queued behind it";

  EXPECT_TRUE(rig.Orange());
  const std::string problem =
      rig.tree.NodePath(0).string() + " does not answer: its reports time out";
  EXPECT_EQ(rig.usb->problem(), problem);
  EXPECT_EQ(rig.controls.status_tooltip().rfind(problem + "\n", 0), 0u);
  EXPECT_EQ(rig.usb->dropped_reports(), 3u * static_cast<unsigned>(engine.passes()) - 1u)
      << "every report but the one stuck in its write";

  ::testing::internal::CaptureStderr();
  const auto off = Clock::now();
  rig.usb->SwitchOff();
  const auto switch_off_ms = Since(off).count();
  const std::string said = ::testing::internal::GetCapturedStderr();
  std::printf("SwitchOff took %lld ms\n", static_cast<long long>(switch_off_ms));
  EXPECT_LE(switch_off_ms, UsbController::kSwitchOffWait.count() + 300);
  EXPECT_NE(said.find("did not take the all-off reports"), std::string::npos) << said;

  const auto gone = Clock::now();
  rig.usb.reset();
  EXPECT_LE(Since(gone).count(), 100) << "the destructor waited for the stuck write";
  // The write returns after all: the writer left behind ends without touching the controller.
  held_for_good = false;
  ASSERT_TRUE(WaitFor([] { return writes_in_progress.load() == 0; }));
  std::this_thread::sleep_for(50ms);
}

TEST(UsbControllerStuck, FullFifoDropsAfterTheWaitThenRecoversWhenDrainedWithBrightAndStep) {
  Watchdog watchdog(20s);
  Rig rig(Node::kFifo);
  rig.usb->CheckPresence();
  ASSERT_TRUE(rig.usb->has_handle());
  ASSERT_TRUE(rig.Green());
  // The device takes nothing: its FIFO is full, and nobody drains it yet.
  const int drain = open(rig.tree.NodePath(0).c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(drain, 0);
  const std::vector<char> block(4096, 0x55);
  while (syscall(SYS_write, drain, block.data(), 1) == 1) {
  }

  const auto start = Clock::now();
  for (int i = 0; i < 6; ++i) rig.usb->SendCommand(0x40);
  ASSERT_TRUE(rig.usb->WaitWritten(2s));
  const auto dropped_ms = Since(start).count();
  std::printf("six reports dealt with in %lld ms\n", static_cast<long long>(dropped_ms));
  // Three reports not taken within the wait make the device not answering; the rest are dropped
  // without waiting.
  EXPECT_GE(dropped_ms, 3 * UsbController::kWriteWaitMs - 10);
  EXPECT_LE(dropped_ms, 3 * UsbController::kWriteWaitMs + 400);
  EXPECT_EQ(rig.usb->dropped_reports(), 6u);
  rig.usb->CheckPresence();
  EXPECT_TRUE(rig.Orange());

  // Drained: the device takes reports again. It is tried again after kStallRetryChecks checks;
  // once a report goes through the indicator is green and Bright and Step are due.
  std::vector<char> sink(1 << 16);
  while (read(drain, sink.data(), sink.size()) > 0) {
  }
  rig.shared.send_bright_and_step = 0;
  int checks = 0;
  while (!rig.Green() && checks < 3 * UsbController::kStallRetryChecks) {
    rig.usb->SendCommand(0x41);
    ASSERT_TRUE(rig.usb->WaitWritten(2s));
    rig.usb->CheckPresence();
    ++checks;
  }
  EXPECT_TRUE(rig.Green());
  EXPECT_GE(checks, UsbController::kStallRetryChecks) << "tried again too soon";
  EXPECT_EQ(rig.usb->problem(), "");
  EXPECT_EQ(rig.shared.send_bright_and_step.load(), 1);
  std::vector<char> got(16);
  EXPECT_EQ(read(drain, got.data(), got.size()), 2) << "one report after the retry";
  EXPECT_EQ(got[1], 0x41);

  rig.usb->SwitchOff();
  EXPECT_EQ(read(drain, got.data(), got.size()), 6);
  EXPECT_EQ(std::vector<char>(got.begin(), got.begin() + 6),
            (std::vector<char>{0x00, 0x00, 0x00, 0x40, 0x00, static_cast<char>(0x80)}));
  close(drain);
}

TEST(UsbControllerStuck, SlowWritesAreNotQueuedBehindAndTheAllOffReportsGoFirst) {
  Watchdog watchdog(20s);
  Rig rig;
  rig.usb->CheckPresence();
  rig.MarkSlow(UsbController::kStuckWrite.count() + 200, /*for_good=*/false);
  for (int pass = 0; pass < 4; ++pass)
    for (std::uint8_t command : {0x01, 0x41, 0x81}) rig.usb->SendCommand(command);
  ASSERT_TRUE(WaitFor([] { return writes_in_progress.load() == 1; }));
  std::this_thread::sleep_for(UsbController::kStuckWrite);
  rig.usb->CheckPresence();
  EXPECT_TRUE(rig.Orange());
  EXPECT_EQ(rig.usb->dropped_reports(), 11u) << "all but the report being written";

  // The slow write ends; the device is quick again by the time the program ends.
  slow_ms = 0;
  ASSERT_TRUE(WaitFor([] { return writes_in_progress.load() == 0; }));
  rig.usb->SwitchOff();
  EXPECT_EQ(rig.tree.Received(0), (Bytes{0x00, 0x01, 0x00, 0x00, 0x00, 0x40, 0x00, 0x80}));
}

}  // namespace
}  // namespace glimmerix
