#include "program/light_test.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace glimmerix {
namespace {

struct Recorder : UsbPort, ParallelPort {
  std::vector<int> usb;
  std::vector<std::pair<int, int>> lpt;
  void SendCommand(std::uint8_t c) override { usb.push_back(c); }
  void WriteRegister(int address, int value) override { lpt.emplace_back(address, value); }
};

TEST(LightTestFrames, OutputsInOrderLightOneOutputPerChannelThenAllThenNone) {
  ControlTable controls;
  AssignOutputsInOrder(controls);
  for (int output = 1; output <= kChannels; ++output)
    EXPECT_EQ(controls.output_list(output), output);

  const auto frames = LightTestFrames(controls);
  ASSERT_EQ(frames.size(), 20u);
  // Output n alone: PD0 PD1 PD3 PD5 PD6 PD7, PB0..PB5, PC0..PC5 as the controller wires them.
  const std::array<int, kChannels> alone = {0x81, 0x82, 0x84, 0x88, 0x90, 0xA0, 0x60, 0x48, 0x42,
                                            0x41, 0x50, 0x44, 0x20, 0x10, 0x08, 0x04, 0x01, 0x02};
  for (int i = 0; i < kChannels; ++i) {
    const auto& f = frames[i].usb;
    const int group = i < 6 ? 2 : i < 12 ? 1 : 0;
    const std::array<int, 3> idle = {0x00, 0x40, 0x80};
    for (int g = 0; g < 3; ++g)
      EXPECT_EQ(f[g], g == group ? alone[i] : idle[g]) << "channel " << i + 1 << " group " << g;
  }
  EXPECT_EQ(frames[18].usb, (std::array<std::uint8_t, 3>{0x3F, 0x7F, 0xBF}));
  EXPECT_EQ(frames[19].usb, (std::array<std::uint8_t, 3>{0x00, 0x40, 0x80}));

  // The parallel port's share: channels 4..11 on data bits 0..7, 12..15 on the control lines.
  EXPECT_EQ(frames[0].lpt_data, 0);
  EXPECT_EQ(frames[0].lpt_control, 0x0B);
  EXPECT_EQ(frames[3].lpt_data, 0x01);
  EXPECT_EQ(frames[10].lpt_data, 0x80);
  EXPECT_EQ(frames[11].lpt_control, 0x0A);
  EXPECT_EQ(frames[18].lpt_data, 0xFF);
  EXPECT_EQ(frames[18].lpt_control, 0x04);
  EXPECT_EQ(frames[19], (LightFrame{{0x00, 0x40, 0x80}, 0, 0x0B}));
}

TEST(LightTestFrames, UnassignedOutputsStayDarkOnTheController) {
  ControlTable controls;  // every list unselected
  for (const LightFrame& f : LightTestFrames(controls))
    EXPECT_EQ(f.usb, (std::array<std::uint8_t, 3>{0x00, 0x40, 0x80}));
}

TEST(LightTest, PausesTheEngineSendsEveryFrameThenHandsTheOutputsBackWithBrightAndStep) {
  ControlTable controls;
  AssignOutputsInOrder(controls);
  EngineShared shared;
  Recorder out;
  LightTest test(controls, shared, out, &out);
  EXPECT_FALSE(test.Step()) << "nothing before Start";
  EXPECT_TRUE(out.usb.empty());

  test.Start();
  EXPECT_TRUE(shared.output_paused.load());
  int steps = 1;
  while (test.Step()) ++steps;
  EXPECT_EQ(steps, 20);
  EXPECT_FALSE(test.running());
  EXPECT_FALSE(shared.output_paused.load());
  EXPECT_EQ(shared.send_bright_and_step.load(), 1);
  ASSERT_EQ(out.usb.size(), 60u);
  EXPECT_EQ(std::vector<int>(out.usb.begin(), out.usb.begin() + 3),
            (std::vector<int>{0x00, 0x40, 0x81}));
  EXPECT_EQ(std::vector<int>(out.usb.end() - 3, out.usb.end()),
            (std::vector<int>{0x00, 0x40, 0x80}));
  ASSERT_EQ(out.lpt.size(), 40u);
  EXPECT_EQ(out.lpt[6], std::make_pair(0x378, 0x01));  // channel 4
  EXPECT_EQ(out.lpt.back(), std::make_pair(0x37A, 0x0B));
}

TEST(LightTest, AnUntickedPortIsLeftAloneAndATestCutShortStillResumesTheEngine) {
  ControlTable controls;
  controls.set_value(gadget::kLptCheck, 0);
  EngineShared shared;
  Recorder out;
  {
    LightTest test(controls, shared, out, &out);
    test.Start();
    test.Step();
    test.Step();
    EXPECT_TRUE(test.running());
    EXPECT_TRUE(shared.output_paused.load());
  }
  EXPECT_FALSE(shared.output_paused.load());
  EXPECT_EQ(shared.send_bright_and_step.load(), 1);
  EXPECT_EQ(out.usb.size(), 6u);
  EXPECT_TRUE(out.lpt.empty());
}

}  // namespace
}  // namespace glimmerix
