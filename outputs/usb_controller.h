// The USB lighting controller: a HID device with 18 switched outputs, driven with 2-byte output
// reports (report number 0, one command byte).
//
// Command bytes: 0x00-0x3F port group C, 0x40-0x7F group B, 0x80-0xBF group D (bits 5..0 the six
// outputs), 0xC0+Bright, 0xD0+(Step & 15), 0xE0+(Step >> 4).
//
// Threads:
// - CheckPresence, SwitchOff and WaitWritten run on the main thread (the 500 ms timer,
//   shutdown, tests).
// - SendCommand / SendReport run on the engine thread (and on the main thread at shutdown). They
//   only queue the report and never wait for the device.
// - A writer thread of the controller's own writes the queued reports in order, one write() at a
//   time. A device can take a write as long as the USB timeout (5 s) or, through a faulty driver,
//   forever; only the writer waits for it. No lock is held across a write, so neither the main
//   thread nor the engine ever waits on the device, and the handle in use by a write is closed by
//   the writer once that write returns, never under it.
//
// A device that stops taking reports - three in a row not taken within kWriteWaitMs, or one write
// lasting kStuckWrite - is "not answering": the queued reports are dropped (and counted), nothing
// more is queued for it, and the indicator says so. While it stays plugged in and the writer is
// free, the controller tries it again every kStallRetryChecks checks; once a report goes through
// promptly the indicator is green again and Bright and Step are sent again.
//
// Shutdown: stop the engine (request its stop, interrupt its sleeper and join its thread, so the
// pass in progress finishes), then call SwitchOff. SwitchOff queues the three all-off reports
// ahead of anything still queued, waits for them at most kSwitchOffWait and closes the
// controller: nothing reaches the device after them, even from a pass still running. The
// destructor never waits for a write in progress: a writer stuck in one is left behind, holding
// only state it shares with nobody else by then.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "engine/ports.h"
#include "outputs/hid_access.h"

namespace glimmerix {

// What the controller tells its owner about the device. Called on the main thread, from
// CheckPresence and LookFor, never from the writer thread; must not call back into the controller.
class ControllerPresenceListener {
 public:
  enum class Trouble {
    kCannotOpen,    // present, but the system does not let it be opened for writing
    kNotAnswering,  // open, but its reports time out
  };
  virtual ~ControllerPresenceListener() = default;
  // The device is open and takes reports: it has just been found, or answers again.
  virtual void ControllerArrived() = 0;
  // The device has gone (unplugged, or let go for other identifiers).
  virtual void ControllerLost() = 0;
  // The device is back after a loss, or answers again after not answering: the settings it was
  // sent before (Bright and Step) are to be sent again. Follows ControllerArrived or
  // ControllerInTrouble of the same check.
  virtual void ControllerReturned() = 0;
  // The device is present but cannot be used. problem: one line ("cannot open /dev/hidraw3:
  // Permission denied"); advice: what the user can do, one or more lines.
  virtual void ControllerInTrouble(Trouble trouble, const std::string& problem,
                                   const std::string& advice) = 0;
};

class UsbController : public UsbPort {
 public:
  // The wait for one report to be taken; three reports in a row not taken, or one write lasting
  // kStuckWrite, make the device "not answering". A report taken late but taken counts as
  // neither: on a busy machine the writer itself may wait that long for the processor.
  static constexpr int kWriteWaitMs = 100;
  static constexpr int kTimeoutsBeforeStall = 3;
  static constexpr std::chrono::milliseconds kStuckWrite{1000};
  // Presence checks between tries of a device that is not answering (5 s).
  static constexpr int kStallRetryChecks = 10;
  // How long SwitchOff waits for the all-off reports.
  static constexpr std::chrono::milliseconds kSwitchOffWait{600};
  // Reports queued for the writer at most (about five passes); more are dropped and counted.
  static constexpr int kQueueLength = 32;

  // listener hears of the device's comings and goings; it must outlive the controller.
  explicit UsbController(ControllerPresenceListener& listener);
  ~UsbController() override;
  UsbController(const UsbController&) = delete;
  UsbController& operator=(const UsbController&) = delete;

  // Identifiers looked for (settings keys "VID" and "PID"); only the low 16 bits count.
  std::atomic<int> USB_VID{0};
  std::atomic<int> USB_PID{0};

  // A freshly plugged controller's node can exist a moment before udev grants the user access to
  // it, so an open that fails when the device appears is tried again on this many further checks.
  static constexpr int kOpenRetries = 2;

  // One presence check (main thread; never waits for the device). On a change: opens the device
  // and reports it arrived (and returned, if it had been lost before); or closes it and reports it
  // lost. A device present but not openable is reported in trouble, naming the node, the reason
  // and the fix; after kOpenRetries more failed opens it is left alone until it goes and comes
  // back, and (the first time only) stderr says the same. A device not answering is reported in
  // trouble likewise, and returned once it answers again. A write that found the open device gone
  // counts as a loss, so a controller that is back by the next check is reopened. Returns 0.
  int CheckPresence();

  // Looks for the controller with these identifiers from now on (main thread): a device open
  // under the old ones is let go (lost), and one present under the new ones is opened at once
  // (arrived and returned: it is to get Bright and Step).
  void LookFor(int vid, int pid);

  // Queues report[0] and report[1] as one 2-byte report, if a device is open. Returns 0.
  int SendReport();

  // report[1] = command, then SendReport (engine thread; never blocks on the GUI or the device,
  // never allocates).
  void SendCommand(std::uint8_t command) override;

  // The shutdown's all-off reports 0x00, 0x40, 0x80, waited for at most kSwitchOffWait (stderr
  // says so when they did not go out in time); afterwards the controller is closed: every later
  // send and presence check does nothing. Main thread.
  void SwitchOff();

  // Waits until every queued report has been written or dropped, at most limit. True when none is
  // left. Main thread.
  bool WaitWritten(std::chrono::milliseconds limit);

  // --- observation (any thread) ---
  bool has_handle() const;
  bool switched_off() const;
  // Empty while the controller is absent or fine; else what is wrong, e.g. "cannot open
  // /dev/hidraw3: Permission denied" or "/dev/hidraw3 does not answer: its reports time out".
  std::string problem() const;
  // Reports dropped so far: not taken in time, refused, or queued while the device was not
  // answering or the queue full.
  unsigned dropped_reports() const;

 private:
  struct Link;  // everything the writer thread shares

  enum class Trouble { kNone, kCannotOpen, kNotAnswering };

  // Opens the device into the link and reports the outcome: arrived, or in trouble.
  void Open();
  // The device has gone: handle closed, reported lost, returned when it comes back.
  void Lose();
  void CloseHandle();  // takes the handle out of the link; closed now or after its write
  // Whether the device is not answering, the presence check's follow-up of a stall.
  void CheckAnswering();
  void ReportArrived();
  void ReportCannotOpen(const HidOpenFailure& failure);
  void ReportNotAnswering();
  void SetTrouble(Trouble trouble, std::string problem);

  ControllerPresenceListener& listener_;
  std::shared_ptr<Link> link_;
  std::thread writer_;

  // Main thread only.
  int was_present_ = 0;        // presence found by the previous check
  int lost_before_ = 0;        // 1: the device was lost; re-send Bright and Step when it returns
  int open_retries_left_ = 0;  // further opens to try while the device stays present
  bool open_failure_reported_ = false;
  bool stall_reported_ = false;  // stderr told of a device not answering since it appeared
  int stall_retry_in_ = 0;       // checks until a device not answering is tried again
  std::string node_;             // the node opened
  Trouble trouble_ = Trouble::kNone;

  mutable std::mutex problem_mutex_;  // guards problem_
  std::string problem_;
};

}  // namespace glimmerix
