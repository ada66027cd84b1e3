#include "program/light_test.h"

namespace glimmerix {

std::vector<LightFrame> LightTestFrames(const ControlTable& controls) {
  std::vector<LightFrame> frames;
  auto frame = [&](auto on) {
    std::array<int, kChannels + 1> usb{};
    LightFrame f;
    for (int n = 1; n <= kChannels; ++n) {
      if (!on(n)) continue;
      usb[n] = 1;
      ApplyLptShare(n, f.lpt_data, f.lpt_control);
    }
    const PackedPorts packed = PackPorts(usb, controls);
    f.usb = {static_cast<std::uint8_t>(packed.group_c), static_cast<std::uint8_t>(packed.group_b),
             static_cast<std::uint8_t>(packed.group_d)};
    frames.push_back(f);
  };
  for (int channel = 1; channel <= kChannels; ++channel)
    frame([channel](int n) { return n == channel; });
  frame([](int) { return true; });
  frame([](int) { return false; });
  return frames;
}

LightTest::LightTest(const ControlTable& controls, EngineShared& shared, UsbPort& usb,
                     ParallelPort* lpt)
    : controls_(controls), shared_(shared), usb_(usb), lpt_(lpt) {}

LightTest::~LightTest() {
  Finish();
}

void LightTest::Start() {
  frames_ = LightTestFrames(controls_);
  next_ = 0;
  running_ = true;
  shared_.output_paused.store(true);
}

bool LightTest::Step() {
  if (!running_) return false;
  const LightFrame& f = frames_[next_++];
  for (std::uint8_t command : f.usb) usb_.SendCommand(command);
  if (lpt_ != nullptr && controls_.value(gadget::kLptCheck) == 1) {
    lpt_->WriteRegister(Engine::kLptData, f.lpt_data);
    lpt_->WriteRegister(Engine::kLptControl, f.lpt_control);
  }
  if (next_ < frames_.size()) return true;
  Finish();
  return false;
}

void LightTest::Finish() {
  if (!running_) return;
  running_ = false;
  shared_.send_bright_and_step.store(1);
  shared_.output_paused.store(false);
}

void AssignOutputsInOrder(ControlTable& controls) {
  for (int output = 1; output <= kChannels; ++output)
    controls.set_value(gadget::kFirstOutputList + output - 1, output);
}

}  // namespace glimmerix
