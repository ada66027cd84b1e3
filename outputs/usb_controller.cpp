#include "outputs/usb_controller.h"

#include <cerrno>
#include <cstdio>

namespace glimmerix {

UsbController::UsbController(ControlTable& controls, EngineShared& shared)
    : controls_(controls), shared_(shared) {}

UsbController::~UsbController() {
  std::lock_guard lock(mutex_);
  HidAccess_Close(W_DeviceHandle);
  W_DeviceHandle = 0;
}

int UsbController::FindDevice_Timer() {
  bool lost;
  {
    std::lock_guard lock(mutex_);
    if (closed_) return 0;
    lost = lost_;
    lost_ = false;
  }
  // A write found the open device gone: count it as a loss even when the controller is already
  // back under the same identifiers (a fast replug, a USB reset after resume), so it is reopened.
  if (lost && Old_Test == 1) Lose();
  const int Test = HidAccess_DeviceExists(USB_PID.load(), USB_VID.load());
  if (Test == Old_Test) {
    if (Test == 1 && open_retries_left_ > 0) {
      --open_retries_left_;
      if (Open()) open_retries_left_ = 0;
    }
    return 0;
  }
  if (Test == 0) {
    Lose();
    return 0;
  }
  Old_Test = 1;
  CloseHandle();
  open_retries_left_ = kOpenRetries;
  if (Open()) open_retries_left_ = 0;
  controls_.set_status("USBON", kOnColour);
  if (flag_on_off == 1) {
    shared_.flag_bright.store(1);
    flag_on_off = 0;
  }
  return 0;
}

void UsbController::LookFor(int vid, int pid) {
  USB_VID.store(vid);
  USB_PID.store(pid);
  if (Old_Test == 1) Lose();
  FindDevice_Timer();
}

void UsbController::Lose() {
  Old_Test = 0;
  CloseHandle();
  open_retries_left_ = 0;
  controls_.set_status("USBOFF", kOffColour);
  flag_on_off = 1;
}

void UsbController::CloseHandle() {
  HidHandle previous;
  {
    std::lock_guard lock(mutex_);
    previous = W_DeviceHandle;
    W_DeviceHandle = 0;
  }
  HidAccess_Close(previous);
}

bool UsbController::Open() {
  HidOpenFailure failure;
  const HidHandle opened = HidAccess_OpenDevice(USB_PID.load(), USB_VID.load(), -1, 0, &failure);
  {
    std::lock_guard lock(mutex_);
    if (closed_) {
      HidAccess_Close(opened);
      return false;
    }
    W_DeviceHandle = opened;
  }
  if (opened != 0) return true;
  if (open_retries_left_ == 0 && !failure.node.empty() && !open_failure_reported_) {
    open_failure_reported_ = true;
    std::fprintf(stderr,
                 "glimmerix: the USB lighting controller is present but %s cannot be opened for "
                 "writing: %s. Install the udev rule for the controller (see README.md, \"USB "
                 "controller permissions\") and plug the controller in again.\n",
                 failure.node.c_str(), failure.reason.c_str());
  }
  return false;
}

void UsbController::Send(std::uint8_t command) {
  if (closed_) return;
  OutBytes[1] = command;
  Write();
}

void UsbController::Write() {
  if (W_DeviceHandle == 0) return;
  int error = 0;
  if (HidAccess_Write(W_DeviceHandle, OutBytes.data(), 2, &error) == 0 && error == ENODEV)
    lost_ = true;
}

int UsbController::SendDevice() {
  std::lock_guard lock(mutex_);
  if (!closed_) Write();
  return 0;
}

void UsbController::SendCommand(std::uint8_t command) {
  std::lock_guard lock(mutex_);
  Send(command);
}

void UsbController::SwitchOff() {
  HidHandle handle;
  {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    Send(0x00);
    Send(0x40);
    Send(0x80);
    closed_ = true;
    handle = W_DeviceHandle;
    W_DeviceHandle = 0;
  }
  HidAccess_Close(handle);
}

bool UsbController::has_handle() const {
  std::lock_guard lock(mutex_);
  return W_DeviceHandle != 0;
}

bool UsbController::switched_off() const {
  std::lock_guard lock(mutex_);
  return closed_;
}

}  // namespace glimmerix
