// Dots per inch for the Windows front-end's windows. The layouts are in pixels at 96 DPI; the
// program declares itself per-monitor DPI aware, so it places everything at the DPI of the screen
// each window is on, rounded to the nearest pixel (MulDiv). The functions of newer Windows
// versions (GetDpiForWindow and the other ...ForDpi functions) are looked up at run time; where
// they are missing the screen's DPI (GetDeviceCaps LOGPIXELSY) stands for every window's.
//
// Threads: any; the looked-up functions are found once (thread-safe static initialisation).
#pragma once

#include <windows.h>

// Messages of newer Windows versions the headers may not name for an older target.
#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif
#ifndef WM_GETDPISCALEDSIZE
#define WM_GETDPISCALEDSIZE 0x02E4
#endif

namespace glimmerix::win32 {

// The DPI the layouts' pixels are for.
inline constexpr UINT kLayoutDpi = 96;

// A function of user32.dll by name; null when this Windows has none.
template <typename Function>
Function User32Function(const char* name) {
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  return user32 ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(user32, name)))
                : nullptr;
}

// Layout pixels (at 96 DPI) as pixels at dpi.
inline int ScaleToDpi(int layout_pixels, UINT dpi) {
  return MulDiv(layout_pixels, static_cast<int>(dpi), static_cast<int>(kLayoutDpi));
}

// The layout rectangle x, y, w, h at dpi. Each edge is scaled on its own, so controls that touch
// at 96 DPI still touch and the gaps between them stay.
inline RECT ScaledRect(int x, int y, int w, int h, UINT dpi) {
  return {ScaleToDpi(x, dpi), ScaleToDpi(y, dpi), ScaleToDpi(x + w, dpi), ScaleToDpi(y + h, dpi)};
}

// The screen's DPI (the system's, which DPI-unaware programs see).
inline UINT ScreenDpi() {
  HDC screen = GetDC(nullptr);
  const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
  if (screen) ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : kLayoutDpi;
}

// The DPI of the screen the window is on.
inline UINT WindowDpi(HWND window) {
  using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
  static const auto get_dpi = User32Function<GetDpiForWindowFunction>("GetDpiForWindow");
  const UINT dpi = get_dpi ? get_dpi(window) : 0;
  return dpi != 0 ? dpi : ScreenDpi();
}

// The outer size of a window with this style whose client area is client_w x client_h pixels at
// dpi (the client size already in pixels at dpi).
inline SIZE FrameSizeForDpi(int client_w, int client_h, DWORD style, DWORD ex_style, UINT dpi) {
  using AdjustFunction = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
  static const auto adjust = User32Function<AdjustFunction>("AdjustWindowRectExForDpi");
  RECT r{0, 0, client_w, client_h};
  if (!adjust || !adjust(&r, style, FALSE, ex_style, dpi))
    AdjustWindowRectEx(&r, style, FALSE, ex_style);
  return {r.right - r.left, r.bottom - r.top};
}

// The system's message font for dpi; layout_height, when not 0, is the height wanted at 96 DPI
// (logical units, as LOGFONT's lfHeight). The caller deletes the font.
inline HFONT CreateMessageFont(UINT dpi, LONG layout_height = 0) {
  using ParametersFunction = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);
  static const auto parameters_for_dpi =
      User32Function<ParametersFunction>("SystemParametersInfoForDpi");
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  if (!parameters_for_dpi ||
      !parameters_for_dpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi)) {
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    metrics.lfMessageFont.lfHeight = MulDiv(metrics.lfMessageFont.lfHeight, static_cast<int>(dpi),
                                            static_cast<int>(ScreenDpi()));
  }
  if (layout_height != 0) metrics.lfMessageFont.lfHeight = ScaleToDpi(layout_height, dpi);
  return CreateFontIndirectW(&metrics.lfMessageFont);
}

// Moves and sizes the window to the rectangle WM_DPICHANGED suggests (its lParam).
inline void TakeSuggestedRect(HWND window, LPARAM suggested) {
  const RECT* r = reinterpret_cast<const RECT*>(suggested);
  SetWindowPos(window, nullptr, r->left, r->top, r->right - r->left, r->bottom - r->top,
               SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace glimmerix::win32
