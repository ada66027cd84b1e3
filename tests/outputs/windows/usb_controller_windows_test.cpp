// The controller's shared logic on the Windows HID layer, through the stand-in.
#include "outputs/usb_controller.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/outputs/windows/stand_in.h"

namespace glimmerix {
namespace {

using testing::HidStandIn;
using testing::kPid;
using testing::kVid;
using Bytes = std::vector<unsigned char>;

// What the controller told, in order: "arrived", "lost", "returned", "trouble:<problem>".
struct Heard : ControllerPresenceListener {
  std::vector<std::string> events;
  std::string advice;
  void ControllerArrived() override { events.push_back("arrived"); }
  void ControllerLost() override { events.push_back("lost"); }
  void ControllerReturned() override { events.push_back("returned"); }
  void ControllerInTrouble(Trouble, const std::string& problem, const std::string& why) override {
    events.push_back("trouble:" + problem);
    advice = why;
  }
  std::vector<std::string> Take() { return std::exchange(events, {}); }
};

struct Rig {
  HidStandIn stand_in;
  Heard heard;
  UsbController usb{heard};
  Rig() {
    usb.USB_VID = kVid;
    usb.USB_PID = kPid;
  }
  Bytes Received(int n) {
    EXPECT_TRUE(usb.WaitWritten(std::chrono::seconds(2)));
    return stand_in.Received(n);
  }
};

using Events = std::vector<std::string>;

TEST(UsbControllerWindows, ArrivalReportsLossAndReturnWithSettingsResent) {
  Rig rig;
  rig.usb.CheckPresence();
  EXPECT_EQ(rig.heard.Take(), Events{});
  rig.stand_in.Plug(2);
  rig.usb.CheckPresence();
  EXPECT_EQ(rig.heard.Take(), Events{"arrived"});
  rig.usb.SendCommand(0x41);
  EXPECT_EQ(rig.Received(2), (Bytes{0x00, 0x41}));

  rig.stand_in.Unplug(2);
  rig.usb.CheckPresence();
  EXPECT_EQ(rig.heard.Take(), Events{"lost"});
  EXPECT_FALSE(rig.usb.has_handle());
  EXPECT_EQ(rig.stand_in.OpenHandles(), 0);

  rig.stand_in.Plug(2);
  rig.usb.CheckPresence();
  EXPECT_EQ(rig.heard.Take(), (Events{"arrived", "returned"}));
  rig.usb.SendCommand(0x80);
  EXPECT_EQ(rig.Received(2), (Bytes{0x00, 0x41, 0x00, 0x80}));
}

// Unplugged and plugged back between two checks: the failed write alone tells of the loss, and
// the next check opens the device anew.
TEST(UsbControllerWindows, AWriteThatFindsTheDeviceGoneCountsAsALossBetweenChecks) {
  Rig rig;
  rig.stand_in.Plug(0);
  rig.usb.CheckPresence();
  EXPECT_EQ(rig.heard.Take(), Events{"arrived"});
  rig.stand_in.Unplug(0);
  rig.usb.SendCommand(0x42);
  EXPECT_TRUE(rig.usb.WaitWritten(std::chrono::seconds(2)));
  EXPECT_EQ(rig.usb.dropped_reports(), 1u);
  rig.stand_in.Plug(0);
  rig.usb.CheckPresence();
  EXPECT_EQ(rig.heard.Take(), (Events{"lost", "arrived", "returned"}));
  rig.usb.SendCommand(0x43);
  EXPECT_EQ(rig.Received(0), (Bytes{0x00, 0x43}));
}

TEST(UsbControllerWindows, AHandleIsNeverClosedUnderAWriteInProgress) {
  Rig rig;
  rig.stand_in.Plug(1);
  rig.usb.CheckPresence();
  rig.stand_in.Hold(1, true);
  rig.usb.SendCommand(0x44);
  ASSERT_TRUE(rig.stand_in.WaitPending(1));
  rig.usb.LookFor(kVid, 0x1111);  // lets the device go while its write is pending
  EXPECT_EQ(rig.heard.Take(), (Events{"arrived", "lost"}));
  EXPECT_TRUE(rig.usb.WaitWritten(std::chrono::seconds(2)));
  EXPECT_EQ(rig.stand_in.ClosedWhileWriting(), 0);
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (rig.stand_in.OpenHandles() != 0 && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(rig.stand_in.OpenHandles(), 0) << "closed once the write ended";
}

TEST(UsbControllerWindows, ADeviceThatRefusesToOpenIsInTroubleNamingItsPath) {
  Rig rig;
  rig.stand_in.Plug(4);
  rig.stand_in.Refuse(4, true);
  rig.usb.CheckPresence();
  const Events events = rig.heard.Take();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].rfind("trouble:cannot open \\\\?\\hid#standin#4: ", 0), 0u) << events[0];
  EXPECT_NE(rig.heard.advice.find("C0DE"), std::string::npos) << rig.heard.advice;
  rig.stand_in.Refuse(4, false);
  rig.usb.CheckPresence();  // the open is retried while the device stays
  EXPECT_EQ(rig.heard.Take(), Events{"arrived"});
}

}  // namespace
}  // namespace glimmerix
