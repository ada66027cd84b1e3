// A controller that vanishes under an open handle and is back before the next presence check (a
// quick replug, a USB reset after resume). Writes to the vanished node fail as hidraw fails them
// (ENODEV): this program defines write() itself and fails writes to the inode marked gone.
#include <errno.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>

#include "outputs/usb_controller.h"
#include "program/controller_indicator.h"
#include "tests/support/fake_hid_tree.h"

namespace {
std::atomic<ino_t> gone_inode{0};
}

extern "C" ssize_t write(int fd, const void* buffer, size_t length) {
  struct stat st;
  const ino_t gone = gone_inode.load();
  if (gone != 0 && fstat(fd, &st) == 0 && st.st_ino == gone) {
    errno = ENODEV;
    return -1;
  }
  return syscall(SYS_write, fd, buffer, length);
}

namespace glimmerix {
namespace {

using namespace glimmerix::testing;  // FakeHidTree, Bytes, kVid, kPid

TEST(UsbControllerLost, DeviceBackUnderTheSameNodeBeforeTheCheckIsReopenedWithItsSettings) {
  FakeHidTree tree;
  tree.Add(0, kVid, kPid);
  ControlTable controls;
  EngineShared shared;
  ControllerIndicator indicator(controls, shared);
  UsbController usb(indicator);
  usb.USB_VID = kVid;
  usb.USB_PID = kPid;
  usb.CheckPresence();
  usb.SendCommand(0x40);
  ASSERT_TRUE(usb.WaitWritten(std::chrono::seconds(2)));
  ASSERT_EQ(tree.Received(0), (Bytes{0x00, 0x40}));

  // The node is replaced by a new one while the old handle stays open.
  struct stat st;
  ASSERT_EQ(stat(tree.NodePath(0).c_str(), &st), 0);
  gone_inode = st.st_ino;
  const auto fresh = tree.NodePath(0).string() + ".new";
  { std::ofstream create(fresh); }
  std::filesystem::rename(fresh, tree.NodePath(0));
  usb.SendCommand(0x41);  // fails: the device behind the handle is gone
  ASSERT_TRUE(usb.WaitWritten(std::chrono::seconds(2)));
  EXPECT_EQ(shared.send_bright_and_step.load(), 0);

  usb.CheckPresence();
  EXPECT_TRUE(usb.has_handle());
  EXPECT_EQ(controls.status_text(), "USBON");
  EXPECT_EQ(shared.send_bright_and_step.load(), 1)
      << "the device may have forgotten Bright and Step";
  usb.SendCommand(0x42);
  ASSERT_TRUE(usb.WaitWritten(std::chrono::seconds(2)));
  EXPECT_EQ(tree.Received(0), (Bytes{0x00, 0x42}));

  // Gone for good: the failed write and the check agree on "USBOFF".
  ASSERT_EQ(stat(tree.NodePath(0).c_str(), &st), 0);
  gone_inode = st.st_ino;
  usb.SendCommand(0x43);
  ASSERT_TRUE(usb.WaitWritten(std::chrono::seconds(2)));
  tree.Remove(0);
  usb.CheckPresence();
  EXPECT_FALSE(usb.has_handle());
  EXPECT_EQ(controls.status_text(), "USBOFF");
  gone_inode = 0;
}

}  // namespace
}  // namespace glimmerix
