// HID device access on Linux hidraw (outputs/hid_access.h), and the listing of the interfaces.
//
// Interfaces are the kernel's /sys/class/hidraw/hidrawN, examined in the order of N (at most the
// first 256). An interface's vendor and product come from the line HID_ID=bus:vendor:product of the
// uevent file of the HID device that hidrawN/device links to; its version is bcdDevice of the
// nearest folder above that HID device that has one (the USB device), 0 where none has. An
// interface whose attributes cannot be read matches nothing. Its device node is /dev/hidrawN.
//
// Every path is taken under the folder named by GLIMMERIX_HID_ROOT when that is set and not empty
// ($ROOT/sys/class/hidraw/..., $ROOT/dev/hidrawN), so tests can lay out a fake device tree.
//
// Identifiers and versions are compared as 16-bit values (the arguments' low 16 bits); a version of
// -1 (0xFFFF) matches any version. index picks the index-th matching interface, from 0.
//
// A node is opened only once its type is known, and only if it is what a controller's node can be:
// the character device that sysfs names for that interface (hidrawN/dev, "major:minor"), or a FIFO
// or regular file (the fake trees of the tests). Links are followed, and the type is that of what
// they lead to, checked on the very file that is then opened. Block devices, sockets, folders and
// other character devices are never opened: some devices act on a mere open.
//
// Threads: the searches, HidAccess_Init and HidAccess_Close are for the main thread;
// HidAccess_Write may run on any thread. The layer keeps no device state of its own; a caller that
// shares a handle between threads guards it itself.
#pragma once

#include <string>
#include <vector>

#include "outputs/hid_access.h"

namespace glimmerix {

// For listing the interfaces (hid_devices.h): the root prefix in force (empty for the real
// system), the hidrawN numbers a search examines, in order, and one interface's HID device
// folder ($ROOT/sys/class/hidraw/hidrawN/device) and vendor and product identifiers (false when
// its uevent has no readable HID_ID).
std::string HidAccess_Root();
std::vector<int> HidAccess_Interfaces();
std::string HidAccess_DeviceFolder(int n);
bool HidAccess_ReadIds(int n, unsigned* vendor, unsigned* product);

}  // namespace glimmerix
