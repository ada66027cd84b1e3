// HID device access on Linux hidraw: find a HID interface by product and vendor identifier, open
// it, write output reports to it, close it.
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

namespace glimmerix {

// An open device node (a file descriptor, never 0); 0 means no handle.
using HidHandle = int;

// At most this many interfaces are examined by a search.
inline constexpr int kHidMaxInterfaces = 256;

// How long HidAccess_Write waits by default for a node to take a report, in milliseconds.
inline constexpr int kHidWriteWaitMs = 100;

// Why the matching interface could not be opened for writing: its node and the system's error
// text. Filled by HidAccess_OpenDevice only when it returns 0 after a failed open.
struct HidOpenFailure {
  std::string node;
  std::string reason;
  int error = 0;  // errno of the failed open
};

// Takes the roots from GLIMMERIX_HID_ROOT; call once at program start, and again after changing
// that variable.
void HidAccess_Init();

// 1 when the index-th matching interface is listed and its device node exists, else 0.
int HidAccess_DeviceExists(int product, int vendor, int version = -1, int index = 0);

// A non-blocking read/write handle (O_RDWR | O_NONBLOCK | O_CLOEXEC | O_NOCTTY) to the index-th
// matching interface whose node can be opened, or 0. A matching interface that cannot be opened,
// or whose node is of a type never opened (see above), is passed over and not counted; the last
// such failure is described in *failure when nothing is returned. *node, when given, receives the
// path of the node opened.
HidHandle HidAccess_OpenDevice(int product, int vendor, int version = -1, int index = 0,
                               HidOpenFailure* failure = nullptr, std::string* node = nullptr);

// Writes the whole buffer as one report with one write(), after waiting at most wait_ms for the
// node to take it (poll; a negative wait_ms waits as long as it takes). Returns the bytes written:
// 0 on failure, fewer than length on a short write. A zero handle, null buffer or length <= 0
// writes nothing and returns 0. *error, when given, receives errno of a failed write (ETIMEDOUT
// when the node did not take the report in time), else 0. The wait bounds only nodes that honour
// O_NONBLOCK: a hidraw node takes every report at once and its write() itself lasts as long as the
// device needs (up to the USB timeout of 5 s), so callers that must not stall write from a thread
// of their own.
int HidAccess_Write(HidHandle handle, const void* buffer, int length, int* error = nullptr,
                    int wait_ms = kHidWriteWaitMs);

// Closes a handle: 0 for a zero handle (nothing done), else close()'s result.
int HidAccess_Close(HidHandle handle);

// For listing the interfaces (hid_devices.h): the root prefix in force (empty for the real
// system), the hidrawN numbers a search examines, in order, and one interface's HID device
// folder ($ROOT/sys/class/hidraw/hidrawN/device) and vendor and product identifiers (false when
// its uevent has no readable HID_ID).
std::string HidAccess_Root();
std::vector<int> HidAccess_Interfaces();
std::string HidAccess_DeviceFolder(int n);
bool HidAccess_ReadIds(int n, unsigned* vendor, unsigned* product);

}  // namespace glimmerix
