// The USB lighting controller: a HID device with 18 switched outputs, driven with 2-byte output
// reports (report number 0, one command byte).
//
// Command bytes: 0x00-0x3F port group C, 0x40-0x7F group B, 0x80-0xBF group D (bits 5..0 the six
// outputs), 0xC0+Bright, 0xD0+(Step & 15), 0xE0+(Step >> 4).
//
// Threads:
// - FindDevice_Timer and SwitchOff run on the main thread (the 500 ms timer, shutdown).
// - SendCommand / SendDevice run on the engine thread (and on the main thread at shutdown).
// - W_DeviceHandle and OutBytes are guarded by one mutex, so the main thread never closes the
//   handle while a write through it is in progress. A write to a present device takes about a
//   millisecond, so the main thread waits at most that long.
//
// Shutdown: stop the engine (request its stop, interrupt its sleeper and join its thread, so the
// pass in progress finishes), then call SwitchOff. SwitchOff sends the three all-off reports and
// closes the controller: nothing reaches the device after them, even from a pass still running.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

#include "engine/controls.h"
#include "engine/engine.h"
#include "engine/ports.h"
#include "outputs/hid_access.h"

namespace glimmerix {

class UsbController : public UsbPort {
 public:
  // Colours of the connection indicator (gadget 0).
  static constexpr Rgb kOnColour{15, 255, 0};
  static constexpr Rgb kOffColour{255, 0, 0};

  // controls receives the indicator text and colour; shared.flag_bright is raised when the device
  // comes back after a loss. Both must outlive the controller.
  UsbController(ControlTable& controls, EngineShared& shared);
  ~UsbController() override;
  UsbController(const UsbController&) = delete;
  UsbController& operator=(const UsbController&) = delete;

  // Identifiers looked for (settings keys "VID" and "PID"); only the low 16 bits count.
  std::atomic<int> USB_VID{0};
  std::atomic<int> USB_PID{0};

  // A freshly plugged controller's node can exist a moment before udev grants the user access to
  // it, so an open that fails when the device appears is tried again on this many further checks.
  static constexpr int kOpenRetries = 2;

  // One presence check (main thread). On a change: opens the device and shows "USBON" in green,
  // raising flag_bright if the device had been lost before; or closes it and shows "USBOFF" in
  // red. A device present but not openable shows "USBON" with no handle; after kOpenRetries more
  // failed opens it is left alone until it goes and comes back, and (the first time only) stderr
  // says which node could not be opened and why. A write that found the open device gone counts
  // as a loss, so a controller that is back by the next check is reopened. Returns 0.
  int FindDevice_Timer();

  // Looks for the controller with these identifiers from now on (main thread): a device open
  // under the old ones is let go, and one present under the new ones is opened at once, Bright and
  // Step raised for it.
  void LookFor(int vid, int pid);

  // Writes OutBytes(0) and OutBytes(1) as one 2-byte report, if a device is open. Returns 0.
  int SendDevice();

  // OutBytes(1) = command, then SendDevice (engine thread; never blocks on the GUI).
  void SendCommand(std::uint8_t command) override;

  // The shutdown's all-off reports 0x00, 0x40, 0x80; afterwards the controller is closed: every
  // later send and presence check does nothing. Main thread.
  void SwitchOff();

  // --- observation (any thread) ---
  bool has_handle() const;
  bool switched_off() const;

 private:
  void Send(std::uint8_t command);  // with mutex_ held
  void Write();                     // OutBytes(0..1) to the device, with mutex_ held
  // Opens the device into W_DeviceHandle; false when the open failed (or the controller is
  // switched off).
  bool Open();
  // The device has gone: handle closed, "USBOFF", Bright and Step due when it returns.
  void Lose();
  void CloseHandle();  // takes W_DeviceHandle out under the mutex, then closes it

  ControlTable& controls_;
  EngineShared& shared_;

  // Main thread only.
  int Old_Test = 0;            // presence found by the previous check
  int flag_on_off = 0;         // 1: the device was lost; re-send Bright and Step when it returns
  int open_retries_left_ = 0;  // further opens to try while the device stays present
  bool open_failure_reported_ = false;

  mutable std::mutex mutex_;  // guards W_DeviceHandle, OutBytes, closed_, lost_
  HidHandle W_DeviceHandle = 0;
  std::array<std::uint8_t, 3> OutBytes{};  // report number, command byte, unused
  bool closed_ = false;
  bool lost_ = false;  // a write found the open device gone (ENODEV)
};

}  // namespace glimmerix
