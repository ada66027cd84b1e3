#include "outputs/hid_devices.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "outputs/linux/hid_access.h"

namespace glimmerix {
namespace {

std::string UeventValue(const std::string& path, const std::string& key) {
  std::ifstream in(path);
  std::string line;
  const std::string prefix = key + "=";
  while (in && std::getline(in, line)) {
    if (line.rfind(prefix, 0) != 0) continue;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    return line.substr(prefix.size());
  }
  return {};
}

}  // namespace

std::vector<HidDeviceInfo> ListHidDevices() {
  std::vector<HidDeviceInfo> devices;
  const std::string root = HidAccess_Root();
  for (int n : HidAccess_Interfaces()) {
    HidDeviceInfo d;
    d.number = n;
    d.has_ids = HidAccess_ReadIds(n, &d.vendor, &d.product);
    d.name = UeventValue(HidAccess_DeviceFolder(n) + "/uevent", "HID_NAME");
    d.node = root + "/dev/hidraw" + std::to_string(n);
    const int fd = open(d.node.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
    if (fd >= 0) {
      d.can_open = true;
      close(fd);
    } else {
      d.reason = std::strerror(errno);
    }
    devices.push_back(std::move(d));
  }
  return devices;
}

std::string UdevRuleLine(unsigned vendor, unsigned product) {
  char line[160];
  std::snprintf(line, sizeof line,
                "KERNEL==\"hidraw*\", SUBSYSTEM==\"hidraw\", ATTRS{idVendor}==\"%04x\", "
                "ATTRS{idProduct}==\"%04x\", TAG+=\"uaccess\"",
                vendor & 0xFFFFu, product & 0xFFFFu);
  return line;
}

std::string HidAccess_PermissionAdvice(int vendor, int product) {
  return "Only root may use it until a udev rule lets you. Install the rule, then unplug the "
         "controller and plug it in again:\necho '" +
         UdevRuleLine(static_cast<unsigned>(vendor), static_cast<unsigned>(product)) +
         "' | sudo tee /etc/udev/rules.d/70-glimmerix.rules && sudo udevadm control --reload";
}

}  // namespace glimmerix
