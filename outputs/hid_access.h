// Access to HID devices: find a HID interface by product and vendor identifier, open it, write
// output reports to it, close it. Each platform implements these functions in its own folder
// (outputs/linux/ on Linux, where the details of the search are described).
//
// Identifiers and versions are compared as 16-bit values (the arguments' low 16 bits); a version of
// -1 (0xFFFF) matches any version. index picks the index-th matching interface, from 0.
//
// Threads: the searches, HidAccess_Init and HidAccess_Close are for the main thread;
// HidAccess_Write may run on any thread. The layer keeps no device state of its own; a caller that
// shares a handle between threads guards it itself.
#pragma once

#include <cstdint>
#include <string>

namespace glimmerix {

// An open device (a file descriptor or a system handle, never 0); 0 means no handle.
using HidHandle = std::intptr_t;

// At most this many interfaces are examined by a search.
inline constexpr int kHidMaxInterfaces = 256;

// How long HidAccess_Write waits by default for a device to take a report, in milliseconds.
inline constexpr int kHidWriteWaitMs = 100;

// Why the matching interface could not be opened for writing: its node and the system's error
// text. Filled by HidAccess_OpenDevice only when it returns 0 after a failed open.
struct HidOpenFailure {
  std::string node;
  std::string reason;
  int error = 0;               // the system's error number of the failed open
  bool access_denied = false;  // the user lacks the permission to open it
};

// Takes the platform's settings (on Linux the roots from GLIMMERIX_HID_ROOT); call once at program
// start, and again after changing them.
void HidAccess_Init();

// 1 when the index-th matching interface is listed and its device node exists, else 0.
int HidAccess_DeviceExists(int product, int vendor, int version = -1, int index = 0);

// A non-blocking read/write handle to the index-th matching interface that can be opened, or 0. A
// matching interface that cannot be opened, or whose node is of a type never opened, is passed over
// and not counted; the last such failure is described in *failure when nothing is returned. *node,
// when given, receives the path of the node opened.
HidHandle HidAccess_OpenDevice(int product, int vendor, int version = -1, int index = 0,
                               HidOpenFailure* failure = nullptr, std::string* node = nullptr);

// Writes the whole buffer as one report, after waiting at most wait_ms for the device to take it
// (a negative wait_ms waits as long as it takes). Returns the bytes written: 0 on failure, fewer
// than length on a short write. A zero handle, null buffer or length <= 0 writes nothing and
// returns 0. *error, when given, receives the system's error number of a failed write (ETIMEDOUT
// when the device did not take the report in time), else 0. The write itself may last as long as
// the device needs (up to the USB timeout of 5 s), so callers that must not stall write from a
// thread of their own.
int HidAccess_Write(HidHandle handle, const void* buffer, int length, int* error = nullptr,
                    int wait_ms = kHidWriteWaitMs);

// Closes a handle: 0 for a zero handle (nothing done), else the system's result.
int HidAccess_Close(HidHandle handle);

// What the user does to be let open a controller with these identifiers that the system refuses
// them (access_denied), as lines of text for a tool tip.
std::string HidAccess_PermissionAdvice(int vendor, int product);

}  // namespace glimmerix
