// The Windows front-end: the main window built from the layout table with plain Win32 and Common
// Controls, the tray icon with its pop-up menu, over the same ProgramCore as the Qt front-end.
//
// Threads: everything here runs on the main thread, which runs the message loop, except the
// bridge's producers (the engine thread), which only post kWakeMessage to the message window, and
// RequestExit, which a console control handler calls from its own thread.
#pragma once

#include <windows.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "app/shell/gui_bridge.h"
#include "app/win32/controller_window.h"
#include "app/win32/viewer_windows.h"
#include "engine/column_picture.h"
#include "program/front_end.h"
#include "program/program_core.h"

namespace glimmerix::win32 {

// The main window's class name: a second start finds the running program's window by it.
inline constexpr const wchar_t* kMainWindowClass = L"GlimmerixMain";
// Posted to the main window by a second start: the window is shown.
inline constexpr UINT kShowRequestMessage = WM_APP + 1;

class Win32FrontEnd : public FrontEnd, private shell::GuiBridge::Consumer {
 public:
  // program_folder: where the parallel port's plug-in, the presets and setting.dat are.
  Win32FrontEnd(HINSTANCE instance, const std::string& program_folder);
  ~Win32FrontEnd() override;
  Win32FrontEnd(const Win32FrontEnd&) = delete;
  Win32FrontEnd& operator=(const Win32FrontEnd&) = delete;

  // Start-up; false when the program is to end at once.
  bool Start();
  // Runs the message loop until Quit; returns the exit code.
  int Run();
  // The exit path, as a termination signal on Linux: any thread; returns once the main thread has
  // taken it (or after timeout_ms).
  void RequestExit(DWORD timeout_ms);

  // FrontEnd
  void CreateWindowAndTray(int frame_x, int frame_y) override;
  void ShowFileMissing(const std::string& text) override;
  void StartTimer(int interval_ms) override;
  bool HasDesktop() const override { return true; }
  bool TrayIconShows() const override { return tray_added_; }
  void ShowMainWindow() override;
  void HideMainWindow() override;
  void ToggleMainWindowWidth() override;
  void ShowMode(int mode) override;
  void OpenViewer(Document document) override;
  void OpenControllerDialog() override;
  void OpenDmxDialog() override;
  void SetTrayToolTip(const std::string& text) override;
  void ShowInputChoices(const std::vector<InputMenuEntry>& entries) override;
  void Quit() override;

 private:
  // GuiBridge::Consumer
  void ControlChanged(int gadget) override;
  void ColumnChanged(int column, float band_value, int lamp) override;
  void ButtonClicked(int gadget) override;

  static LRESULT CALLBACK MainProc(HWND window, UINT message, WPARAM w, LPARAM l);
  static LRESULT CALLBACK MessageProc(HWND window, UINT message, WPARAM w, LPARAM l);
  LRESULT OnMainMessage(HWND window, UINT message, WPARAM w, LPARAM l);
  LRESULT OnMessageWindow(HWND window, UINT message, WPARAM w, LPARAM l);

  void CreateControls();
  void Refresh(int gadget);
  void RefreshPresetList();
  void OnCommand(int id, int notification);
  void OnScroll(HWND bar, int request);
  void PaintColumns();
  void AddTrayIcon();
  void RemoveTrayIcon();
  void OpenTrayMenu();
  POINT FrameCorner() const;
  // Sizes the window for the client width layout_width (in the layout's 96-DPI pixels).
  void ResizeClient(int layout_width);
  bool ShowsWideForm() const;
  // Re-creates the font for dpi and moves every control to its place at dpi.
  void ApplyDpi(UINT dpi);
  void SaveMainWindowCorner();

  HINSTANCE instance_;
  std::unique_ptr<ProgramCore> core_;
  shell::GuiBridge bridge_;
  HWND message_window_ = nullptr;  // wake-ups, timer, exit requests: exists from construction on
  HWND main_ = nullptr;
  UINT dpi_ = 96;         // of the screen the main window is on; everything is placed for it
  HFONT font_ = nullptr;  // the controls' font, made for dpi_
  HWND tooltips_ = nullptr;
  HICON icon_ = nullptr;
  HICON small_icon_ = nullptr;
  HBRUSH status_brush_ = nullptr;
  UINT taskbar_created_ = 0;
  bool tray_added_ = false;
  std::wstring tray_tip_ = L"Glimmerix";
  std::vector<InputMenuEntry> input_entries_;
  std::array<HWND, gadget::kCount> controls_{};
  std::vector<std::string> preset_entries_shown_;
  std::array<ColumnPicture, kChannels> pictures_{};
  // The pictures as 32-bit top-down DIB pixels (blue, green, red, unused).
  std::array<std::array<DWORD, ColumnPicture::kWidth * ColumnPicture::kHeight>, kChannels>
      column_pixels_{};
  std::unique_ptr<ViewerWindows> viewers_;
  std::unique_ptr<ControllerWindow> controller_window_;  // made when first opened
  HANDLE exit_taken_ = nullptr;  // set once the main thread has run an exit request
};

}  // namespace glimmerix::win32
