// The controller dialog's view of the HID devices, and the controller switching to another one.
#include "outputs/hid_devices.h"

#include <gtest/gtest.h>

#include <fstream>

#include "outputs/usb_controller.h"
#include "program/controller_indicator.h"
#include "tests/support/fake_hid_tree.h"

namespace glimmerix {
namespace {

using namespace glimmerix::testing;
using namespace std::chrono_literals;

TEST(ListHidDevices, EveryInterfaceInOrderWithIdsNameNodeAndWhetherItOpens) {
  FakeHidTree tree;
  EXPECT_TRUE(ListHidDevices().empty());
  tree.Add(3, 0x046D, 0xC52B, 0x1201, Node::kFolder);  // a node that cannot be opened
  tree.Add(0, kVid, kPid);
  tree.Add(1, 0x1234, 0x5678, 0x0100, Node::kFile, /*hid_id=*/false);
  std::ofstream(tree.root / "sys/devices/pci0000:00/usb1/1-0/1-0:1.0/0003:1209:C0DE.0000/uevent")
      << "DRIVER=hid-generic\nHID_ID=0003:00001209:0000C0DE\nHID_NAME=Olvex Light Box\n";

  const auto devices = ListHidDevices();
  ASSERT_EQ(devices.size(), 3u);
  EXPECT_EQ(devices[0].number, 0);
  EXPECT_TRUE(devices[0].has_ids);
  EXPECT_EQ(devices[0].vendor, 0x1209u);
  EXPECT_EQ(devices[0].product, 0xC0DEu);
  EXPECT_EQ(devices[0].name, "Olvex Light Box");
  EXPECT_EQ(devices[0].node, (tree.root / "dev/hidraw0").string());
  EXPECT_TRUE(devices[0].can_open);
  EXPECT_TRUE(devices[0].reason.empty());
  EXPECT_TRUE(tree.Received(0).empty()) << "listing writes nothing";

  EXPECT_EQ(devices[1].number, 1);
  EXPECT_FALSE(devices[1].has_ids);
  EXPECT_TRUE(devices[1].name.empty());

  EXPECT_EQ(devices[2].number, 3);
  EXPECT_EQ(devices[2].vendor, 0x046Du);
  EXPECT_EQ(devices[2].name, "x");
  EXPECT_FALSE(devices[2].can_open);
  EXPECT_EQ(devices[2].reason, "Is a directory");

  tree.SetNode(0, Node::kMissing);
  EXPECT_EQ(ListHidDevices()[0].reason, "No such file or directory");
}

TEST(UdevRuleLine, MatchesTheShippedRulesFormInLowerCaseHex) {
  std::ifstream shipped(GLIMMERIX_UDEV_RULES);
  std::string line, rule;
  while (std::getline(shipped, line))
    if (line.rfind("KERNEL==", 0) == 0) rule = line;
  EXPECT_EQ(UdevRuleLine(0x1209, 0xC0DE), rule);
  EXPECT_EQ(UdevRuleLine(0x46D, 0x1C52B),
            "KERNEL==\"hidraw*\", SUBSYSTEM==\"hidraw\", ATTRS{idVendor}==\"046d\", "
            "ATTRS{idProduct}==\"c52b\", TAG+=\"uaccess\"");
}

TEST(UsbController, LookForLetsTheOldDeviceGoAndOpensTheNewOneWithBrightAndStep) {
  FakeHidTree tree;
  tree.Add(0, kVid, kPid);
  tree.Add(1, 0x16C0, 0x05DF);
  ControlTable controls;
  EngineShared shared;
  ControllerIndicator indicator(controls, shared);
  UsbController usb(indicator);
  usb.LookFor(kVid, kPid);
  ASSERT_TRUE(usb.has_handle());
  shared.send_bright_and_step = 0;
  usb.SendCommand(0x40);
  ASSERT_TRUE(usb.WaitWritten(1s));

  usb.LookFor(0x16C0, 0x05DF);
  EXPECT_TRUE(usb.has_handle());
  EXPECT_EQ(controls.status_text(), "USBON");
  EXPECT_EQ(shared.send_bright_and_step.load(), 1);
  usb.SendCommand(0x41);
  ASSERT_TRUE(usb.WaitWritten(1s));
  EXPECT_EQ(tree.Received(0), (Bytes{0x00, 0x40}));
  EXPECT_EQ(tree.Received(1), (Bytes{0x00, 0x41}));

  // Identifiers of nothing plugged in: "USBOFF", nothing open.
  usb.LookFor(1, 2);
  EXPECT_FALSE(usb.has_handle());
  EXPECT_EQ(controls.status_text(), "USBOFF");
}

}  // namespace
}  // namespace glimmerix
