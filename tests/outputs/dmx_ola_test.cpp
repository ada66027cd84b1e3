// The DMX output against a real olad whose Art-Net packets are read back on loopback: the frames,
// the keep-alive, the exit frame, the reconnect and a frozen daemon.
#include "outputs/dmx_output.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "outputs/linux/ola_dmx_sender.h"
#include "tests/support/alloc_counter.h"
#include "tests/support/ola_daemon.h"

namespace glimmerix {
namespace {

using namespace std::chrono_literals;
using testing::ArtDmxFrame;
using testing::ArtDmxListener;
using testing::OlaDaemon;
using testing::Slot;

std::array<int, 18> OnlyChannel(int channel) {
  std::array<int, 18> states{};
  states[channel - 1] = 1;
  return states;
}

class DmxOutputWithOla : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(listener.ok()) << "cannot listen on UDP port 6454";
    std::string why;
    ASSERT_TRUE(daemon.Start(why)) << why;
    listener.Rebind();
  }

  static DmxSettings Enabled(int start = 1) { return {true, 1, start, 255, DmxMapping::kOnOff}; }

  // A pass as the engine makes it, timed: how long the engine thread spent in the output.
  std::chrono::microseconds Pass(DmxOutput& out, const std::array<int, 18>& states) {
    const std::array<float, 18> bands{};
    const auto t0 = std::chrono::steady_clock::now();
    out.ChannelsSent(states.data(), bands.data(), false);
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() -
                                                                 t0);
  }

  static bool Lit(const ArtDmxFrame& f, int slot, int value) {
    for (int s = 1; s <= kDmxSlots; ++s)
      if (Slot(f, s) != (s == slot ? value : 0)) return false;
    return true;
  }

  ArtDmxListener listener;
  OlaDaemon daemon;
};

TEST_F(DmxOutputWithOla, SendsTheChannelsKeepsTheUniverseAliveAndEndsWithAnAllZeroFrame) {
  DmxOutput out(MakeOlaDmxConnection());
  out.Apply(Enabled(20));
  Pass(out, OnlyChannel(11));
  ASSERT_TRUE(listener.WaitForFrame(
      0, [](const ArtDmxFrame& f) { return Lit(f, 30, 255); }, 5s))
      << out.status();
  EXPECT_EQ(out.status(), "OLA answers: sending universe 1, slots 20-37");

  // Nothing changes for 3.5 s: the frame is repeated at least once a second.
  const std::size_t before = listener.count();
  std::this_thread::sleep_for(3500ms);
  const auto frames = listener.Frames();
  int repeats = 0;
  for (std::size_t i = before; i < frames.size(); ++i) repeats += Lit(frames[i], 30, 255);
  EXPECT_GE(repeats, 3);
  EXPECT_LE(repeats, 5) << "a repeat only when a second passed";

  const auto t0 = std::chrono::steady_clock::now();
  out.SwitchOff();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 1s);
  Pass(out, OnlyChannel(11));  // a pass after the switch-off sends nothing
  std::this_thread::sleep_for(1500ms);
  const auto all = listener.Frames();
  ASSERT_FALSE(all.empty());
  EXPECT_TRUE(std::all_of(all.back().values.begin(), all.back().values.end(), [](std::uint8_t v) {
    return v == 0;
  })) << "the last frame is all zero";
}

TEST_F(DmxOutputWithOla, DisablingAndMovingTheStartLeaveNoSlotLit) {
  DmxOutput out(MakeOlaDmxConnection());
  out.Apply(Enabled(1));
  Pass(out, OnlyChannel(18));
  ASSERT_TRUE(listener.WaitForFrame(
      0, [](const ArtDmxFrame& f) { return Lit(f, 18, 255); }, 5s));
  out.Apply(Enabled(2));  // slot 18 is now channel 17's, which is off
  Pass(out, OnlyChannel(18));
  ASSERT_TRUE(listener.WaitForFrame(
      0, [](const ArtDmxFrame& f) { return Lit(f, 19, 255); }, 3s));
  out.Apply({false, 1, 2, 255, DmxMapping::kOnOff});
  const std::size_t n = listener.count();
  ASSERT_TRUE(listener.WaitForFrame(
      n, [](const ArtDmxFrame& f) { return Lit(f, 1, 0); }, 3s))
      << "disabling sends the universe dark";
  std::this_thread::sleep_for(1500ms);
  EXPECT_EQ(listener.Frames().back().values, std::vector<std::uint8_t>(512, 0))
      << "nothing after the dark frame";
  EXPECT_EQ(out.status(), "");
}

TEST_F(DmxOutputWithOla, ComesBackAfterTheDaemonIsKilledAndRestartedWithoutEverHoldingThePass) {
  DmxOutput out(MakeOlaDmxConnection());
  out.Apply(Enabled(1));
  Pass(out, OnlyChannel(1));
  ASSERT_TRUE(listener.WaitForFrame(
      0, [](const ArtDmxFrame& f) { return Lit(f, 1, 255); }, 5s));

  daemon.Kill();
  std::chrono::microseconds longest{0};
  for (int i = 0; i < 40; ++i) {  // 2 s of passes without a daemon
    longest = std::max(longest, Pass(out, OnlyChannel(1 + i % 2)));
    std::this_thread::sleep_for(50ms);
  }
  EXPECT_NE(out.status().find("trying again every 3 s"), std::string::npos) << out.status();
  std::string why;
  ASSERT_TRUE(daemon.Start(why)) << why;
  listener.Rebind();
  const std::size_t n = listener.count();
  const auto restarted = std::chrono::steady_clock::now();
  bool resumed = false;
  while (!resumed && std::chrono::steady_clock::now() - restarted < 6s) {
    longest = std::max(longest, Pass(out, OnlyChannel(5)));
    resumed = listener.WaitForFrame(
        n, [](const ArtDmxFrame& f) { return Lit(f, 5, 255); }, 50ms);
  }
  EXPECT_TRUE(resumed) << "frames flow again within 6 s of the restart; " << out.status();
  EXPECT_LT(longest, 20ms) << "the pass never waits for the daemon";
}

TEST_F(DmxOutputWithOla, AFrozenDaemonNeverHoldsThePassAndFramesFlowAfterItContinues) {
  DmxOutput out(MakeOlaDmxConnection());
  out.Apply(Enabled(1));
  Pass(out, OnlyChannel(3));
  ASSERT_TRUE(listener.WaitForFrame(
      0, [](const ArtDmxFrame& f) { return Lit(f, 3, 255); }, 5s));

  daemon.Signal(SIGSTOP);
  std::chrono::microseconds longest{0};
  for (int i = 0; i < 200; ++i) {  // 10 s of passes, every one a new frame
    longest = std::max(longest, Pass(out, OnlyChannel(1 + i % 18)));
    std::this_thread::sleep_for(50ms);
  }
  EXPECT_LT(longest, 20ms) << "the pass never waits for a frozen daemon";
  daemon.Signal(SIGCONT);
  const std::size_t n = listener.count();
  Pass(out, OnlyChannel(7));
  EXPECT_TRUE(listener.WaitForFrame(
      n, [](const ArtDmxFrame& f) { return Lit(f, 7, 255); }, 6s));
}

// CPU time the whole process used while sleeping for `span`.
std::chrono::milliseconds CpuWhileSleeping(std::chrono::milliseconds span) {
  const auto cpu = [] {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
  };
  const auto before = cpu();
  std::this_thread::sleep_for(span);
  return std::chrono::duration_cast<std::chrono::milliseconds>(cpu() - before);
}

TEST(DmxOutputWithoutOla, IdlesWhileOffAndWhileTheDaemonIsAway) {
  DmxOutput out(MakeOlaDmxConnection());
  EXPECT_LT(CpuWhileSleeping(1s), 50ms) << "off: the sender sleeps until told otherwise";
  out.Apply({true, 1, 1, 255, DmxMapping::kOnOff});
  EXPECT_LT(CpuWhileSleeping(1s), 50ms) << "no daemon: the sender sleeps between attempts";
  out.Apply({false, 1, 1, 255, DmxMapping::kOnOff});
  EXPECT_LT(CpuWhileSleeping(1s), 50ms);
}

TEST(DmxOutputWithoutOla, ThePassesHandOffAllocatesNothing) {
  DmxOutput out(MakeOlaDmxConnection());
  out.Apply({true, 1, 1, 255, DmxMapping::kLevel});
  std::this_thread::sleep_for(200ms);  // the first attempt to connect is over; the next in 3 s
  std::array<int, 18> states{};
  std::array<float, 18> bands{};
  const long before = testing::AllocationCount();
  for (int pass = 0; pass < 1000; ++pass) {
    states[pass % 18] ^= 1;
    bands[pass % 18] = static_cast<float>(pass % 40);
    out.ChannelsSent(states.data(), bands.data(), pass % 2 == 0);
  }
  EXPECT_EQ(testing::AllocationCount(), before);
}

TEST(DmxOutputWithoutOla, SaysWhyAndSwitchesOffWithoutWaiting) {
  DmxOutput out(MakeOlaDmxConnection());
  out.Apply({true, 1, 1, 255, DmxMapping::kOnOff});
  const std::array<int, 18> states{};
  const std::array<float, 18> bands{};
  out.ChannelsSent(states.data(), bands.data(), false);
  for (int i = 0; i < 100 && out.status().find("olad does not answer") == std::string::npos; ++i)
    std::this_thread::sleep_for(20ms);
  EXPECT_EQ(out.status(),
            "DMX: cannot send to OLA universe 1: olad does not answer on 127.0.0.1:9010 (is it "
            "running?); trying again every 3 s");
  const auto t0 = std::chrono::steady_clock::now();
  out.SwitchOff();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 500ms);
}

}  // namespace
}  // namespace glimmerix
