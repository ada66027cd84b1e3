#include "program/tray_tool_tip.h"

#include <gtest/gtest.h>

namespace glimmerix {
namespace {

TEST(TrayToolTip, NamesModeAndControllerThenEachProblemInOrder) {
  EXPECT_EQ(TrayToolTip({2, "USBON", "", "", "no sound from the recording input"}),
            "Glimmerix - Auto - USBON - no sound from the recording input");
  EXPECT_EQ(TrayToolTip({1, "USBOFF", "", "", ""}), "Glimmerix - Manual - USBOFF");
  EXPECT_EQ(TrayToolTip({3, "USBON", "cannot open /dev/hidraw0: Permission denied\n",
                         " /dev/parport0 missing ", "no sound server"}),
            "Glimmerix - Rnd - USBON - cannot open /dev/hidraw0: Permission denied - "
            "parallel port: /dev/parport0 missing - no sound server");
}

TEST(TrayToolTip, NoModeAndBlankPartsLeaveNoEmptySeparators) {
  EXPECT_EQ(TrayToolTip({0, "", "", "", ""}), "Glimmerix");
  EXPECT_EQ(TrayToolTip({7, "USBOFF", "  ", "\n", ""}), "Glimmerix - USBOFF");
}

}  // namespace
}  // namespace glimmerix
