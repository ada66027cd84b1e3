// The usual first run on Linux: the controller's node is there but the user may not write it (no
// udev rule yet). Root opens anything, so the check runs in a child process that drops to user
// and group 65534 first.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "outputs/usb_controller.h"
#include "program/controller_indicator.h"
#include "tests/support/fake_hid_tree.h"

namespace glimmerix {
namespace {

using namespace glimmerix::testing;  // FakeHidTree, kVid, kPid

constexpr uid_t kNobody = 65534;
constexpr int kCannotDrop = 78;

TEST(UsbControllerPermissions, NodeTheUserMayNotWriteShowsOnSendsNothingAndSaysWhy) {
  FakeHidTree tree;
  tree.Add(0, kVid, kPid);
  ASSERT_EQ(chmod(tree.root.c_str(), 0755), 0);
  ASSERT_EQ(chmod(tree.NodePath(0).c_str(), 0000), 0);
  const std::string said_path = (tree.root / "stderr.txt").string();
  const int said_fd = open(said_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(said_fd, 0);

  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (geteuid() == 0 &&
        (setgroups(0, nullptr) != 0 || setresgid(kNobody, kNobody, kNobody) != 0 ||
         setresuid(kNobody, kNobody, kNobody) != 0)) {
      _exit(kCannotDrop);
    }
    if (dup2(said_fd, 2) < 0) _exit(2);
    ControlTable controls;
    EngineShared shared;
    ControllerIndicator indicator(controls, shared);
    UsbController usb(indicator);
    usb.USB_VID = kVid;
    usb.USB_PID = kPid;
    for (int check = 0; check <= UsbController::kOpenRetries + 2; ++check) {
      usb.CheckPresence();
      usb.SendCommand(0x81);
    }
    const bool on = controls.status_text() == "USBON";
    if (!on || usb.has_handle()) _exit(1);
    // The tool tip gives the rule for this very controller and the commands that install it.
    const std::string tip = controls.status_tooltip();
    const bool mended =
        usb.problem() == "cannot open " + tree.NodePath(0).string() + ": Permission denied" &&
        tip.find("ATTRS{idVendor}==\"1209\", ATTRS{idProduct}==\"c0de\"") != std::string::npos &&
        tip.find("sudo tee /etc/udev/rules.d/70-glimmerix.rules") != std::string::npos &&
        tip.find("sudo udevadm control --reload") != std::string::npos;
    _exit(mended ? 0 : 4);
  }
  close(said_fd);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == kCannotDrop) GTEST_SKIP() << "SKIPPED LOUDLY: cannot become 65534";
  EXPECT_NE(WEXITSTATUS(status), 1) << "USBON expected, with no handle";
  EXPECT_NE(WEXITSTATUS(status), 4) << "the problem or the udev rule in the tool tip is missing";
  EXPECT_EQ(WEXITSTATUS(status), 0);

  std::ifstream in(said_path);
  std::stringstream said;
  said << in.rdbuf();
  EXPECT_NE(said.str().find(tree.NodePath(0).string()), std::string::npos) << said.str();
  EXPECT_NE(said.str().find("Permission denied"), std::string::npos) << said.str();
  EXPECT_EQ(said.str().find('\n'), said.str().size() - 1) << "one line, once: " << said.str();
  EXPECT_TRUE(tree.Received(0).empty());
}

}  // namespace
}  // namespace glimmerix
