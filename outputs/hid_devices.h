// What the controller dialog lists: every HID interface the program can see, whether it can be
// opened, and the access rule line that would let the logged-in user open it. Implemented per
// platform (on Linux: the interfaces a search examines, /sys/class/hidraw under
// GLIMMERIX_HID_ROOT, in the order of N; on Windows: the HID interface class in SetupAPI's order,
// through the HID layer's table of calls). Main thread (it opens and closes device nodes).
#pragma once

#include <string>
#include <vector>

namespace glimmerix {

struct HidDeviceInfo {
  int number = 0;        // N of hidrawN; on Windows the place in SetupAPI's listing, from 0
  bool has_ids = false;  // the uevent's HID_ID (Windows: HidD_GetAttributes) was readable;
                         // vendor and product are 0 otherwise
  unsigned vendor = 0;
  unsigned product = 0;
  std::string name;       // HID_NAME of the uevent (Windows: the product string), or empty
  std::string node;       // the device node's path (Windows: the interface's device path)
  bool can_open = false;  // opened for reading and writing (and closed again) just now
  std::string reason;     // why it cannot be opened (the system's error text), else empty
};

std::vector<HidDeviceInfo> ListHidDevices();

// The rule line of packaging/udev/70-glimmerix.rules for these identifiers (the low 16 bits,
// four lower-case hexadecimal digits), e.g.
// KERNEL=="hidraw*", SUBSYSTEM=="hidraw", ATTRS{idVendor}=="1209", ATTRS{idProduct}=="c0de",
// TAG+="uaccess"
// On Windows, where no rule is needed (a device no other program holds opens), it is empty.
std::string UdevRuleLine(unsigned vendor, unsigned product);

}  // namespace glimmerix
