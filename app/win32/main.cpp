// glimmerix.exe: the light organ's program for Windows. Takes no arguments; ends with exit code 0.
//
// Test seam: GLIMMERIX_HID_LIBRARY names a DLL that answers the HID and SetupAPI calls in place of
// the system's (the tests' stand-in controller); unset, the system's DLLs are used.
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/win32/single_instance.h"
#include "app/win32/win32_front_end.h"
#include "outputs/hid_access.h"
#include "outputs/windows/hid_api.h"
#include "outputs/windows/text.h"

namespace {

glimmerix::win32::Win32FrontEnd* running = nullptr;  // set while the message loop may run

// Console control events (Ctrl+C, the console closed, logoff, shutdown) take the exit path on the
// main thread, as the termination signals do on Linux. The handler runs on a thread of its own and
// the system may end the process once it returns, so it waits for the main thread to have run the
// exit path (the outputs switched off).
BOOL WINAPI OnConsoleEvent(DWORD) {
  if (running == nullptr) return FALSE;
  running->RequestExit(4000);
  return TRUE;
}

// The folder of glimmerix.exe, in the system's ANSI code page as the settings store names files.
std::string ProgramFolder() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  folder.resize(folder.find_last_of(L"\\/") + 1);
  const int n = WideCharToMultiByte(CP_ACP, 0, folder.data(), static_cast<int>(folder.size()),
                                    nullptr, 0, nullptr, nullptr);
  std::string ansi(n, '\0');
  WideCharToMultiByte(CP_ACP, 0, folder.data(), static_cast<int>(folder.size()), ansi.data(), n,
                      nullptr, nullptr);
  return ansi;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  using namespace glimmerix;
  HidAccess_Init();
  if (const wchar_t* stand_in = _wgetenv(L"GLIMMERIX_HID_LIBRARY"); stand_in && *stand_in) {
    std::string missing;
    if (!HidAccess_UseApiLibrary(stand_in, &missing))
      std::fprintf(stderr, "glimmerix: %s does not answer %s\n", Utf8(stand_in).c_str(),
                   missing.c_str());
  }

  // One instance at a time; a second start asks the running one to show its window and ends.
  const win32::SingleInstance instance_lock;
  if (!instance_lock.first()) {
    if (HWND running_window = FindWindowW(win32::kMainWindowClass, nullptr))
      PostMessageW(running_window, win32::kShowRequestMessage, 0, 0);
    return 0;
  }
  if (instance_lock.state() == win32::SingleInstance::State::kNoLock)
    std::fprintf(stderr, "glimmerix: %s; starting without the single-instance lock\n",
                 instance_lock.error().c_str());

  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_BAR_CLASSES};
  InitCommonControlsEx(&controls);

  win32::Win32FrontEnd program(instance, ProgramFolder());
  running = &program;
  // Started from a console, its Ctrl+C and its closing end the program through the exit path (a
  // GUI program gets no console events otherwise; the session's end comes as WM_ENDSESSION).
  AttachConsole(ATTACH_PARENT_PROCESS);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
  const int code = program.Start() ? program.Run() : 0;
  SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
  running = nullptr;
  return code;
}
