// The controller dialog's listing on Windows, through the stand-in HID API: every interface in
// SetupAPI's order with its identifiers, product string, path and whether it opens; no access rule
// to install; the advice for a held device in Windows terms.
#include "outputs/hid_devices.h"

#include <gtest/gtest.h>

#include "outputs/hid_access.h"
#include "tests/outputs/windows/stand_in.h"

namespace glimmerix {
namespace {

using testing::HidStandIn;
using testing::kPid;
using testing::kVid;

TEST(ListHidDevicesWindows, EveryInterfaceInOrderWithIdsNamePathAndWhetherItOpens) {
  HidStandIn stand_in;
  EXPECT_TRUE(ListHidDevices().empty());

  stand_in.Plug(1, 0x046D, 0xC52B);
  stand_in.Plug(4);
  stand_in.Name(4, L"Lichtorgel \u00fcber USB");
  stand_in.Refuse(4, true);
  stand_in.Plug(6);
  stand_in.Name(6, std::wstring(200, L'x'));  // longer than a USB string may be
  const std::vector<HidDeviceInfo> devices = ListHidDevices();
  ASSERT_EQ(devices.size(), 3u);

  EXPECT_EQ(devices[0].number, 0);
  EXPECT_EQ(devices[0].node, "\\\\?\\hid#standin#1");
  EXPECT_TRUE(devices[0].has_ids);
  EXPECT_EQ(devices[0].vendor, 0x046Du);
  EXPECT_EQ(devices[0].product, 0xC52Bu);
  EXPECT_EQ(devices[0].name, "") << "a device without a product string";
  EXPECT_TRUE(devices[0].can_open);
  EXPECT_EQ(devices[0].reason, "");

  EXPECT_EQ(devices[1].number, 1);
  EXPECT_EQ(devices[1].node, "\\\\?\\hid#standin#4");
  EXPECT_TRUE(devices[1].has_ids) << "read without asking for access";
  EXPECT_EQ(devices[1].vendor, unsigned(kVid));
  EXPECT_EQ(devices[1].product, unsigned(kPid));
  EXPECT_EQ(devices[1].name,
            "Lichtorgel \xc3\xbc"
            "ber USB");
  EXPECT_FALSE(devices[1].can_open);
  EXPECT_FALSE(devices[1].reason.empty());

  EXPECT_EQ(devices[2].name, std::string(127, 'x')) << "cut at the buffer, never past it";
  EXPECT_TRUE(devices[2].can_open);
  EXPECT_EQ(stand_in.OpenHandles(), 0) << "every handle the listing opened is closed";
}

TEST(ListHidDevicesWindows, NeedsNoAccessRuleAndAdvisesClosingTheProgramThatHoldsTheDevice) {
  EXPECT_EQ(UdevRuleLine(0x1209, 0xC0DE), "");
  const std::string advice = HidAccess_PermissionAdvice(0x1209, 0x1C0DE);
  EXPECT_NE(advice.find("1209:C0DE"), std::string::npos) << advice;
  EXPECT_NE(advice.find("Close the other program"), std::string::npos) << advice;
  EXPECT_NE(advice.find("unplug it and plug it in again"), std::string::npos) << advice;
  EXPECT_EQ(advice.find("udev"), std::string::npos) << advice;
}

}  // namespace
}  // namespace glimmerix
