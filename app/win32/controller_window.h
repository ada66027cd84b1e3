// The "Controller" window on Windows: the HID devices the program can see (from ListHidDevices),
// the identifiers the program looks for, "Use this controller" for the chosen device, the light
// test and "Outputs 1 to 18 in order". Windows needs no access rule, so there is none to show.
// The logic lives in hid_devices.h and light_test.h; this is the window around it.
//
// Threads: the main thread (the one running the message loop) only. The window is not modal; it
// is hidden when closed and shown again, refreshed, when opened. A light test in progress goes
// on while it is hidden and ends when the ControllerWindow is destroyed.
#pragma once

#include <windows.h>

#include <functional>
#include <vector>

#include "engine/controls.h"
#include "engine/engine.h"
#include "outputs/hid_devices.h"
#include "outputs/usb_controller.h"
#include "program/light_test.h"

namespace glimmerix::win32 {

// The controller window's class: tools find it by it.
inline constexpr const wchar_t* kControllerWindowClass = L"GlimmerixController";

class ControllerWindow {
 public:
  // Called with the chosen device's identifiers; the caller saves them and has the controller
  // look for them.
  using ChooseDevice = std::function<void(int vid, int pid)>;

  // Every reference must outlive the window; lpt may be null.
  ControllerWindow(HINSTANCE instance, HICON icon, ControlTable& controls, EngineShared& shared,
                   UsbController& usb, ParallelPort* lpt, ChooseDevice choose);
  ~ControllerWindow();
  ControllerWindow(const ControllerWindow&) = delete;
  ControllerWindow& operator=(const ControllerWindow&) = delete;

  // Creates the window the first time, lists the devices again and shows it in front.
  void Open();
  // The message loop's keyboard handling (Tab, Return, Escape as in a dialog); true when taken.
  bool TakeMessage(MSG& message);

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM w, LPARAM l);
  LRESULT OnMessage(HWND window, UINT message, WPARAM w, LPARAM l);
  void Create();
  void Refresh();
  void SelectionChanged();
  void UseSelected();
  int SelectedRow() const;
  // Makes the font for dpi and moves every control to its place at dpi.
  void LayOut(UINT dpi);

  // A control and its rectangle in the client area, in pixels at 96 DPI.
  struct Placement {
    HWND control;
    int x, y, w, h;
  };

  HINSTANCE instance_;
  HICON icon_;
  ControlTable& controls_;
  UsbController& usb_;
  ChooseDevice choose_;
  LightTest light_test_;
  std::vector<HidDeviceInfo> devices_;
  UINT dpi_ = 96;         // of the screen the window is on; the controls are placed for it
  HFONT font_ = nullptr;  // the controls' font, made for dpi_
  std::vector<Placement> placements_;
  HWND window_ = nullptr;
  HWND list_ = nullptr;
  HWND looking_for_ = nullptr;
  HWND use_ = nullptr;
  HWND test_button_ = nullptr;
};

}  // namespace glimmerix::win32
