// Which device nodes the HID layer opens: only the interface's own hidraw character device, or
// the FIFOs and plain files of test trees, whatever links lead there. Some devices act on a mere
// open (a tape rewinds, a modem line rises), so the rest are refused before they are opened.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <optional>

#include "outputs/linux/hid_access.h"
#include "outputs/usb_controller.h"
#include "program/controller_indicator.h"
#include "tests/support/fake_hid_tree.h"

namespace glimmerix {
namespace {

using namespace glimmerix::testing;  // FakeHidTree, Node, Bytes, kVid, kPid
namespace fs = std::filesystem;

// Node 0 made a link to target; the open's result and failure.
struct Attempt {
  HidHandle handle = 0;
  HidOpenFailure failure;
};
Attempt OpenThroughLink(FakeHidTree& tree, const fs::path& target) {
  tree.Add(0, kVid, kPid, 0x0100, Node::kMissing);
  fs::create_symlink(target, tree.NodePath(0));
  Attempt attempt;
  attempt.handle = HidAccess_OpenDevice(kPid, kVid, -1, 0, &attempt.failure);
  EXPECT_EQ(HidAccess_DeviceExists(kPid, kVid), 1) << "listed and present all the same";
  return attempt;
}

std::optional<fs::path> SomeBlockDevice() {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/dev", ec)) {
    struct stat st;
    if (lstat(entry.path().c_str(), &st) == 0 && S_ISBLK(st.st_mode)) return entry.path();
  }
  return std::nullopt;
}

TEST(HidNodeType, OtherDevicesSocketsAndFoldersAreRefusedBeforeAnyOpen) {
  FakeHidTree tree;
  {
    // /dev/null stands for any character device that is not the interface's hidraw node.
    const Attempt a = OpenThroughLink(tree, "/dev/null");
    EXPECT_EQ(a.handle, 0) << "a link to another character device was opened";
    HidAccess_Close(a.handle);
    EXPECT_EQ(a.failure.node, tree.NodePath(0).string());
    EXPECT_EQ(a.failure.reason,
              "a character device (1:3) that is not this interface's hidraw device");
  }
  if (const auto block = SomeBlockDevice()) {
    const Attempt a = OpenThroughLink(tree, *block);
    EXPECT_EQ(a.handle, 0) << "a block device was opened: " << *block;
    HidAccess_Close(a.handle);
    EXPECT_EQ(a.failure.reason, "a block device, not a hidraw device");
  } else {
    std::printf("SKIPPED LOUDLY: no block device under /dev to link to\n");
  }
  {
    tree.Add(0, kVid, kPid, 0x0100, Node::kMissing);
    const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = tree.NodePath(0).string();
    ASSERT_LT(path.size(), sizeof address.sun_path);
    path.copy(address.sun_path, path.size());
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    HidOpenFailure failure;
    EXPECT_EQ(HidAccess_OpenDevice(kPid, kVid, -1, 0, &failure), 0);
    EXPECT_EQ(failure.reason, "a socket, not a hidraw device");
    close(listener);
  }
  {
    const fs::path folder = tree.root / "elsewhere";
    fs::create_directory(folder);
    const Attempt a = OpenThroughLink(tree, folder);
    EXPECT_EQ(a.handle, 0);
    EXPECT_EQ(a.failure.error, EISDIR);
  }
}

TEST(HidNodeType, TheInterfacesOwnCharacterDeviceFifosAndFilesOpenThroughLinks) {
  FakeHidTree tree;
  {
    // sysfs names 1:3 as this interface's device: then it is the node to open.
    tree.Add(0, kVid, kPid, 0x0100, Node::kMissing);
    tree.SetSysDev(0, "1:3");
    fs::create_symlink("/dev/null", tree.NodePath(0));
    const std::uint8_t report[2] = {0x00, 0x41};
    std::string node;
    const HidHandle h = HidAccess_OpenDevice(kPid, kVid, -1, 0, nullptr, &node);
    EXPECT_GT(h, 0);
    EXPECT_EQ(node, tree.NodePath(0).string());
    EXPECT_EQ(HidAccess_Write(h, report, 2), 2);
    HidAccess_Close(h);
  }
  {
    tree.Add(1, kVid, kPid);
    tree.Remove(0);
    const fs::path real = tree.root / "real-node";
    fs::rename(tree.NodePath(1), real);
    fs::create_symlink(real, tree.NodePath(1));
    const HidHandle h = HidAccess_OpenDevice(kPid, kVid);
    EXPECT_GT(h, 0);
    const std::uint8_t report[2] = {0x00, 0x42};
    EXPECT_EQ(HidAccess_Write(h, report, 2), 2);
    HidAccess_Close(h);
    EXPECT_EQ(tree.Received(1), (Bytes{0x00, 0x42}));
  }
  {
    tree.Add(2, kVid, 0x2222, 0x0100, Node::kFifo);
    const HidHandle h = HidAccess_OpenDevice(0x2222, kVid);
    EXPECT_GT(h, 0) << "a FIFO is opened, and without blocking for a reader";
    HidAccess_Close(h);
  }
}

TEST(HidNodeType, ControllerBehindARefusedNodeShowsWhyInItsStatus) {
  FakeHidTree tree;
  tree.Add(0, kVid, kPid, 0x0100, Node::kMissing);
  fs::create_symlink("/dev/null", tree.NodePath(0));
  ControlTable controls;
  EngineShared shared;
  ControllerIndicator indicator(controls, shared);
  UsbController usb(indicator);
  usb.USB_VID = kVid;
  usb.USB_PID = kPid;
  usb.CheckPresence();
  EXPECT_FALSE(usb.has_handle());
  EXPECT_EQ(controls.status_colour(), ControllerIndicator::kTroubleColour);
  EXPECT_EQ(usb.problem(), "cannot open " + tree.NodePath(0).string() +
                               ": a character device (1:3) that is not this interface's hidraw "
                               "device");
}

}  // namespace
}  // namespace glimmerix
