// A fake hidraw device tree under a temporary GLIMMERIX_HID_ROOT, laid out as the kernel lays it
// out: sys/class/hidraw/hidrawN is a relative link into sys/devices/.../hidraw/hidrawN, whose
// "device" links to the HID device folder (uevent with HID_ID), below the USB device folder (with
// bcdDevice). dev/hidrawN is a plain file that collects every report written to it, a FIFO (a
// device that takes reports only while someone drains them), a folder (a node that exists but
// cannot be opened for writing), or missing.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "outputs/linux/hid_access.h"

namespace glimmerix::testing {

using Bytes = std::vector<std::uint8_t>;
// Identifiers of the fake controller.
inline constexpr int kVid = 0x1209;
inline constexpr int kPid = 0xC0DE;

class FakeHidTree {
 public:
  enum class Node { kFile, kFifo, kFolder, kMissing };

  FakeHidTree() {
    char pattern[] = "/tmp/glimmerix-hid-XXXXXX";
    root = mkdtemp(pattern);
    setenv("GLIMMERIX_HID_ROOT", root.c_str(), 1);
    HidAccess_Init();
    std::filesystem::create_directories(root / "sys/class/hidraw");
    std::filesystem::create_directories(root / "dev");
  }
  ~FakeHidTree() {
    unsetenv("GLIMMERIX_HID_ROOT");
    HidAccess_Init();
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
  }

  // Interface hidrawN of a USB device with the given identifiers; bcd < 0: no bcdDevice anywhere
  // above (as on Bluetooth). A uevent without HID_ID when hid_id is false.
  void Add(int n, unsigned vendor, unsigned product, int bcd = 0x0100, Node node = Node::kFile,
           bool hid_id = true) {
    namespace fs = std::filesystem;
    Remove(n);
    const std::string usb = "devices/pci0000:00/usb1/1-" + std::to_string(n);
    char hid_name[32];
    std::snprintf(hid_name, sizeof hid_name, "0003:%04X:%04X.%04X", vendor, product, n);
    const fs::path usb_dir = root / "sys" / usb;
    const fs::path hid_dir = usb_dir / (("1-" + std::to_string(n)) + ":1.0") / hid_name;
    const fs::path raw_dir = hid_dir / "hidraw" / Name(n);
    fs::create_directories(raw_dir);
    if (bcd >= 0) {
      char text[16];
      std::snprintf(text, sizeof text, "%04x\n", bcd);
      std::ofstream(usb_dir / "bcdDevice") << text;
    }
    char uevent[128];
    std::snprintf(uevent, sizeof uevent, "DRIVER=hid-generic\nHID_ID=0003:%08X:%08X\nHID_NAME=x\n",
                  vendor, product);
    std::ofstream(hid_dir / "uevent") << (hid_id ? uevent : "DRIVER=hid-generic\n");
    fs::create_directory_symlink("../../../" + std::string(hid_name), raw_dir / "device");
    fs::create_directory_symlink("../../" + fs::relative(raw_dir, root / "sys").string(),
                                 root / "sys/class/hidraw" / Name(n));
    SetNode(n, node);
  }

  void SetNode(int n, Node node) {
    std::error_code ignored;
    std::filesystem::remove_all(NodePath(n), ignored);
    if (node == Node::kFile) std::ofstream(NodePath(n), std::ios::binary);
    if (node == Node::kFifo) mkfifo(NodePath(n).c_str(), 0600);
    if (node == Node::kFolder) std::filesystem::create_directory(NodePath(n));
  }

  // The device number sysfs gives interface n, "major:minor" (the real tree's hidrawN/dev).
  void SetSysDev(int n, const std::string& major_minor) {
    std::ofstream(root / "sys/class/hidraw" / Name(n) / "dev") << major_minor << "\n";
  }

  // Unplugs interface n: its links, folders and node disappear.
  void Remove(int n) {
    std::error_code ignored;
    std::filesystem::remove(root / "sys/class/hidraw" / Name(n), ignored);
    std::filesystem::remove_all(root / "sys/devices/pci0000:00/usb1" / ("1-" + std::to_string(n)),
                                ignored);
    std::filesystem::remove_all(NodePath(n), ignored);
  }

  // Everything written to node n so far.
  std::vector<std::uint8_t> Received(int n) const {
    std::ifstream in(NodePath(n), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  std::filesystem::path NodePath(int n) const { return root / "dev" / Name(n); }

  std::filesystem::path root;

 private:
  static std::string Name(int n) { return "hidraw" + std::to_string(n); }
};
using Node = FakeHidTree::Node;

}  // namespace glimmerix::testing
