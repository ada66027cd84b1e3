#include "outputs/usb_controller.h"
#include "program/controller_indicator.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "tests/support/fake_hid_tree.h"

namespace glimmerix {
namespace {

using namespace glimmerix::testing;  // FakeHidTree, Node, Bytes, kVid, kPid

struct Rig {
  FakeHidTree tree;
  ControlTable controls;
  EngineShared shared;
  ControllerIndicator indicator{controls, shared};
  UsbController usb{indicator};
  Rig() {
    usb.USB_VID = kVid;
    usb.USB_PID = kPid;
  }
  bool Green() const {
    return controls.status_text() == "USBON" && controls.status_colour() == Rgb{0, 125, 0};
  }
  bool Orange() const {
    return controls.status_text() == "USBON" && controls.status_colour() == Rgb{192, 96, 0};
  }
  // What node n received once the reports queued so far are written.
  Bytes Received(int n) {
    EXPECT_TRUE(usb.WaitWritten(std::chrono::seconds(2)));
    return tree.Received(n);
  }
  bool Red() const {
    return controls.status_text() == "USBOFF" && controls.status_colour() == Rgb{255, 0, 0};
  }
};

TEST(UsbController, PlugUnplugCycleOpensClosesAndResendsSettingsOnlyAfterALoss) {
  Rig rig;
  rig.usb.CheckPresence();
  EXPECT_TRUE(rig.Red());
  EXPECT_FALSE(rig.usb.has_handle());
  rig.usb.SendCommand(0x40);  // no device: nothing to write to, nothing breaks

  rig.tree.Add(3, kVid, kPid);
  rig.usb.CheckPresence();
  EXPECT_TRUE(rig.Green());
  EXPECT_TRUE(rig.usb.has_handle());
  EXPECT_EQ(rig.shared.send_bright_and_step.load(), 0) << "first appearance: Bright and Step wait";
  rig.usb.SendCommand(0x41);
  EXPECT_EQ(rig.Received(3), (Bytes{0x00, 0x41}));

  rig.controls.set_status("x", {});
  rig.usb.CheckPresence();  // same presence: nothing changes
  EXPECT_EQ(rig.controls.status_text(), "x");

  rig.tree.Remove(3);
  rig.usb.CheckPresence();
  EXPECT_TRUE(rig.Red());
  EXPECT_FALSE(rig.usb.has_handle());
  EXPECT_EQ(rig.shared.send_bright_and_step.load(), 0);

  rig.tree.Add(3, kVid, kPid);
  rig.usb.CheckPresence();
  EXPECT_TRUE(rig.Green());
  EXPECT_TRUE(rig.usb.has_handle());
  EXPECT_EQ(rig.shared.send_bright_and_step.load(), 1)
      << "back after a loss: Bright and Step re-sent";
  rig.usb.SendCommand(0x80);
  EXPECT_EQ(rig.Received(3), (Bytes{0x00, 0x80}));
}

TEST(UsbController, PresentButNotOpenableShowsOnInOrangeSendsNothingAndIsLeftAloneAfterRetries) {
  Rig rig;
  rig.tree.Add(0, kVid, kPid, 0x0100, Node::kFolder);
  ::testing::internal::CaptureStderr();
  for (int check = 0; check < UsbController::kOpenRetries; ++check) rig.usb.CheckPresence();
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "") << "still settling: nothing said";
  ::testing::internal::CaptureStderr();
  rig.usb.CheckPresence();
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find(rig.tree.NodePath(0).string()), std::string::npos) << said;
  EXPECT_NE(said.find("udev"), std::string::npos) << said;
  EXPECT_TRUE(rig.Orange());
  const std::string problem = "cannot open " + rig.tree.NodePath(0).string() + ": Is a directory";
  EXPECT_EQ(rig.usb.problem(), problem);
  EXPECT_EQ(rig.controls.status_tooltip().rfind(problem + "\n", 0), 0u)
      << rig.controls.status_tooltip();
  EXPECT_FALSE(rig.usb.has_handle());

  rig.tree.SetNode(0, Node::kFile);  // now openable, but the device never went away
  rig.usb.CheckPresence();
  rig.usb.SendCommand(0x00);
  EXPECT_FALSE(rig.usb.has_handle());
  EXPECT_TRUE(rig.Received(0).empty());

  rig.tree.Remove(0);
  rig.usb.CheckPresence();
  rig.tree.Add(0, kVid, kPid, 0x0100, Node::kFolder);
  ::testing::internal::CaptureStderr();
  for (int check = 0; check <= UsbController::kOpenRetries + 1; ++check) rig.usb.CheckPresence();
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "") << "said once only";

  rig.tree.Remove(0);
  rig.usb.CheckPresence();
  rig.tree.Add(0, kVid, kPid);
  rig.usb.CheckPresence();
  EXPECT_TRUE(rig.usb.has_handle()) << "found again: opened";
  EXPECT_TRUE(rig.Green());
  EXPECT_EQ(rig.usb.problem(), "");
  EXPECT_EQ(rig.controls.status_tooltip(), "");
}

TEST(UsbController, NodeThatBecomesWritableJustAfterAppearingIsOpened) {
  Rig rig;  // udev grants access a moment after the kernel makes the node
  rig.tree.Add(0, kVid, kPid, 0x0100, Node::kFolder);
  rig.usb.CheckPresence();
  EXPECT_FALSE(rig.usb.has_handle());
  rig.tree.SetNode(0, Node::kFile);
  rig.usb.CheckPresence();
  EXPECT_TRUE(rig.usb.has_handle());
  EXPECT_TRUE(rig.Green());
  rig.usb.SendCommand(0x81);
  EXPECT_EQ(rig.Received(0), (Bytes{0x00, 0x81}));
}

TEST(UsbController, PassSendsExactReportsAndSwitchOffIsLast) {
  Rig rig;
  rig.tree.Add(0, kVid, kPid);
  rig.usb.CheckPresence();
  // No mode: the channels stay off, and Invert turns them all on in the first pass.
  rig.controls.set_value(gadget::kInvertCheck, 1);
  rig.controls.set_value(gadget::kFirstOutputList + 0, 5);  // "PD0" follows channel 5
  rig.controls.set_value(gadget::kFirstOutputList + 6, 5);  // "PB0" follows channel 5
  for (int g = gadget::kFirstOutputList + 7; g <= gadget::kLastOutputList; ++g)
    rig.controls.set_value(g, 0);
  for (int g = gadget::kFirstOutputList + 1; g < gadget::kFirstOutputList + 6; ++g)
    rig.controls.set_value(g, 0);
  rig.controls.set_value(gadget::kBrightBar, 15);
  rig.controls.set_value(gadget::kStepBar, 0x5A);
  rig.shared.send_bright_and_step = 1;
  EnginePorts ports;
  ports.usb = &rig.usb;
  Engine engine(rig.controls, rig.shared, ports);

  engine.RunPass();
  EXPECT_EQ(rig.Received(0),
            (Bytes{0x00, 0x00, 0x00, 0x60, 0x00, 0x81, 0x00, 0xCF, 0x00, 0xDA, 0x00, 0xE5}));
  engine.RunPass();  // channels flipped off; Bright and Step already sent
  const Bytes two_passes = rig.Received(0);
  ASSERT_EQ(two_passes.size(), 18u);
  EXPECT_EQ(Bytes(two_passes.begin() + 12, two_passes.end()),
            (Bytes{0x00, 0x00, 0x00, 0x40, 0x00, 0x80}));

  rig.usb.SwitchOff();
  const Bytes at_switch_off = rig.Received(0);
  ASSERT_EQ(at_switch_off.size(), 24u);
  EXPECT_EQ(Bytes(at_switch_off.begin() + 18, at_switch_off.end()),
            (Bytes{0x00, 0x00, 0x00, 0x40, 0x00, 0x80}));
  rig.shared.send_bright_and_step = 1;
  engine.RunPass();
  rig.usb.SendCommand(0x7F);
  rig.usb.SendReport();
  EXPECT_EQ(rig.Received(0), at_switch_off) << "nothing after the all-off reports";
  rig.tree.Remove(0);
  rig.tree.Add(0, kVid, kPid);
  rig.usb.CheckPresence();  // closed: not reopened
  EXPECT_FALSE(rig.usb.has_handle());
  EXPECT_TRUE(rig.Received(0).empty());
}

TEST(UsbController, EngineThreadWritesWhilePresenceChangesAndSwitchOffStaysLast) {
  Rig rig;
  rig.tree.Add(0, kVid, kPid);
  std::atomic<bool> stop{false};
  std::atomic<int> sent{0};
  std::thread engine([&] {
    while (!stop.load()) {
      rig.usb.SendCommand(0xAA);
      sent.fetch_add(1);
    }
  });
  for (int i = 0; i < 40; ++i) {
    if (i % 2 == 0)
      rig.tree.Add(0, kVid, kPid);
    else
      rig.tree.Remove(0);
    rig.usb.CheckPresence();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  rig.tree.Add(0, kVid, kPid);
  rig.usb.CheckPresence();
  const int before = sent.load();
  while (sent.load() < before + 10) std::this_thread::yield();
  rig.usb.SwitchOff();  // the "engine" is still sending: the gate must hold
  const Bytes at_switch_off = rig.Received(0);
  while (sent.load() < before + 100) std::this_thread::yield();
  stop = true;
  engine.join();

  const Bytes all = rig.Received(0);
  EXPECT_EQ(all, at_switch_off);
  ASSERT_GE(all.size(), 6u);
  EXPECT_EQ(Bytes(all.end() - 6, all.end()), (Bytes{0x00, 0x00, 0x00, 0x40, 0x00, 0x80}));
  for (std::size_t i = 0; i + 6 < all.size(); i += 2) EXPECT_EQ(all[i + 1], 0xAA);
}

}  // namespace
}  // namespace glimmerix
