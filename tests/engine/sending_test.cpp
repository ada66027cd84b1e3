// What a pass sends: the USB reports with their packing, Bright and Step, the parallel port.
#include <gtest/gtest.h>

#include <stop_token>
#include <string>
#include <vector>

#include "tests/engine/engine_harness.h"

#include "tests/support/alloc_counter.h"

namespace glimmerix::testing {
namespace {

TEST(Packing, ChannelFiveOnPD0AndPB0) {
  std::array<int, kChannels + 1> usb{};
  usb[5] = 1;
  ControlTable c;
  for (int g = gadget::kFirstOutputList; g <= gadget::kLastOutputList; ++g) c.set_value(g, 0);
  c.set_value(27, 5);  // PD0
  c.set_value(33, 5);  // PB0
  const PackedPorts p = PackPorts(usb, c);
  EXPECT_EQ(p.group_c, 0x00);
  EXPECT_EQ(p.group_b, 0x60);
  EXPECT_EQ(p.group_d, 0x81);
}

TEST(Packing, EveryOutputHasItsOwnBit) {
  // Output i alone on: the bit table, group by group.
  const std::array<int, kChannels> expected = {0x81, 0x82, 0x84, 0x88, 0x90, 0xA0,   // D
                                               0x60, 0x48, 0x42, 0x41, 0x50, 0x44,   // B
                                               0x20, 0x10, 0x08, 0x04, 0x01, 0x02};  // C
  for (int i = 0; i < kChannels; ++i) {
    std::array<int, kChannels + 1> usb{};
    usb[7] = 1;
    ControlTable c;
    c.set_value(gadget::kFirstOutputList + i, 7);
    const PackedPorts p = PackPorts(usb, c);
    const int got = i < 6 ? p.group_d : i < 12 ? p.group_b : p.group_c;
    EXPECT_EQ(got, expected[i]) << "output " << i + 1;
  }
}

TEST(Packing, NoneSelectedOrNoDrivesNothingAndTwoOutputsMayShareAChannel) {
  std::array<int, kChannels + 1> usb{};
  usb.fill(1);
  usb[0] = 0;
  ControlTable c;  // every list unselected (-1)
  PackedPorts p = PackPorts(usb, c);
  EXPECT_EQ(std::vector<int>({p.group_c, p.group_b, p.group_d}),
            std::vector<int>({0x00, 0x40, 0x80}));
  c.set_value(39, 3);
  c.set_value(40, 3);
  p = PackPorts(usb, c);
  EXPECT_EQ(p.group_c, 0x30);
}

TEST(Sending, FirstPassSendsPortsThenBrightAndStep) {
  Harness h;
  h.shared.send_bright_and_step = 1;
  h.Pass();
  EXPECT_EQ(h.Reports(), (std::vector<int>{0x00, 0x40, 0x80, 0xCB, 0xD8, 0xE2}));
  EXPECT_EQ(h.shared.send_bright_and_step.load(), 0);
  h.Pass();
  EXPECT_EQ(h.Reports(), (std::vector<int>{0x00, 0x40, 0x80}));
}

TEST(Sending, StepAndBrightCommandBytes) {
  const std::vector<std::tuple<int, int, std::vector<int>>> cases = {{15, 255, {0xCF, 0xDF, 0xEF}},
                                                                     {0, 0, {0xC0, 0xD0, 0xE0}},
                                                                     {0, 0x5A, {0xC0, 0xDA, 0xE5}},
                                                                     {0, 16, {0xC0, 0xD0, 0xE1}}};
  for (const auto& [bright, step, bytes] : cases) {
    Harness h;
    h.controls.set_value(gadget::kBrightBar, bright);
    h.controls.set_value(gadget::kStepBar, step);
    h.shared.send_bright_and_step = 1;
    h.Pass();
    const std::vector<int> r = h.Reports();
    ASSERT_EQ(r.size(), 6u);
    EXPECT_EQ(std::vector<int>(r.begin() + 3, r.end()), bytes) << bright << " " << step;
  }
}

TEST(Sending, NothingAtAllOnceClosing) {
  Harness h;
  h.shared.mode = kModeManual;
  h.shared.send_bright_and_step = 1;
  h.shared.closing = 1;
  h.spectrum.fill(0.01f);
  for (int i = 0; i < 3; ++i) {
    h.Pass();
    for (const Event& e : h.events) {
      EXPECT_NE(e.what, "usb");
      EXPECT_NE(e.what, "lpt");
    }
  }
  EXPECT_EQ(h.shared.send_bright_and_step.load(), 1) << "the request waits";
  EXPECT_FALSE(h.Pass().empty()) << "the lamps are still driven";
}

TEST(ParallelPort, RegisterValues) {
  struct Case {
    std::vector<int> on;
    int data, control;
  };
  const std::vector<Case> cases = {{{12}, 0x00, 0x0A},
                                   {{4, 11}, 0x81, 0x0B},
                                   {{14}, 0x00, 0x0F},
                                   {{4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}, 0xFF, 0x04},
                                   {{1, 2, 3, 16, 17, 18}, 0x00, 0x0B}};
  for (const Case& c : cases) {
    int data = 0, control = Engine::kLptControlAllOff;
    for (int n : c.on) ApplyLptShare(n, data, control);
    EXPECT_EQ(data, c.data);
    EXPECT_EQ(control, c.control);
  }
}

TEST(ParallelPort, FollowsTheChannelsOnlyWhileLptIsTicked) {
  Harness h;
  h.shared.mode = kModeManual;
  for (int n = 1; n <= kChannels; ++n) h.controls.set_value(n, 0);
  h.controls.set_value(gadget::kInvertCheck, 1);
  h.spectrum.fill(0.001f);
  h.Pass();
  h.Pass();
  EXPECT_EQ(h.LptValues(), (std::vector<int>{0xFF, 0x04})) << "before Invert";
  std::vector<Event> lpt;
  for (const Event& e : h.events)
    if (e.what == "lpt") lpt.push_back(e);
  EXPECT_EQ(lpt[0].a, 0x378);
  EXPECT_EQ(lpt[1].a, 0x37A);
  h.controls.set_value(gadget::kLptCheck, 0);
  h.Pass();
  EXPECT_EQ(h.LptValues(), (std::vector<int>{0x00, 0x0B}));
}

TEST(Pass, AllocatesNothing) {
  for (int mode : {kModeNone, kModeManual, kModeAuto, kModeRnd}) {
    Harness h;
    h.shared.mode = mode;
    h.spectrum.fill(0.003f);
    h.events.reserve(64);
    h.random_ranges.reserve(64);
    h.Pass();
    h.events.clear();
    h.random_ranges.clear();
    const long before = AllocationCount();
    h.shared.send_bright_and_step = 1;
    h.engine.RunPass();
    EXPECT_EQ(AllocationCount() - before, 0) << "mode " << mode;
  }
}

// The engine thread takes the recording in just before each pass and never inside one, so each
// pass reads what arrived during the sleep before it.
TEST(EngineThread, CollectsTheRecordingBeforeEveryPass) {
  struct Collecting : Harness {
    std::stop_source stop;
    int sleeps = 0;
    void Collect() override { events.push_back({"collect"}); }
    void SleepMs(int ms) override {
      Harness::SleepMs(ms);
      if (++sleeps == 3) stop.request_stop();
    }
  } h;
  h.engine.RunLoop(h.stop.get_token());
  std::vector<std::string> order;
  for (const Event& e : h.events)
    if (e.what == "collect" || e.what == "sleep") order.push_back(e.what);
  EXPECT_EQ(order,
            (std::vector<std::string>{"collect", "sleep", "collect", "sleep", "collect", "sleep"}));
  EXPECT_EQ(h.events.front().what, "collect");
}

}  // namespace
}  // namespace glimmerix::testing
