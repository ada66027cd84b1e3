// What the Windows front-end's top-level windows share: their window class (their fonts: dpi.h).
// Main thread only.
#pragma once

#include <windows.h>

namespace glimmerix::win32 {

// Registers a window class with the dialog background and the arrow cursor; small_icon may be
// null (the system scales icon).
inline void RegisterWindowClass(HINSTANCE instance, const wchar_t* name, WNDPROC procedure,
                                HICON icon, HICON small_icon = nullptr) {
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = procedure;
  window_class.hInstance = instance;
  window_class.hIcon = icon;
  window_class.hIconSm = small_icon;
  window_class.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  window_class.lpszClassName = name;
  RegisterClassExW(&window_class);
}

}  // namespace glimmerix::win32
