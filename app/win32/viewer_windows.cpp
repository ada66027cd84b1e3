#include "app/win32/viewer_windows.h"

#include <richedit.h>

#include <algorithm>
#include <utility>

#include "app/viewers/viewer_layouts.h"
#include "app/win32/dpi.h"
#include "app/win32/window_class.h"
#include "outputs/windows/text.h"

namespace glimmerix::win32 {
namespace {

constexpr DWORD kViewerStyle = WS_OVERLAPPED | WS_CAPTION;
// Not IDOK or IDCANCEL: the area's notifications must not read as the buttons' commands.
constexpr int kAreaId = 100;

const ViewerLayout* LayoutOf(Document document) {
  for (const ViewerLayout& layout : kViewerLayouts)
    if (layout.document == document) return &layout;
  return nullptr;
}

SIZE ViewerFrameSize(const ViewerLayout& layout, UINT dpi) {
  return FrameSizeForDpi(ScaleToDpi(layout.width, dpi), ScaleToDpi(layout.height, dpi),
                         kViewerStyle, 0, dpi);
}

void MoveTo(HWND control, const RECT& r) {
  SetWindowPos(control, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
               SWP_NOZORDER | SWP_NOACTIVATE);
}

struct StreamSource {
  const std::string* bytes;
  std::size_t offset = 0;
};

DWORD CALLBACK FeedRichEdit(DWORD_PTR cookie, LPBYTE buffer, LONG wanted, LONG* given) {
  auto* source = reinterpret_cast<StreamSource*>(cookie);
  const std::size_t left = source->bytes->size() - source->offset;
  const std::size_t n = std::min<std::size_t>(left, static_cast<std::size_t>(wanted));
  std::copy_n(source->bytes->data() + source->offset, n, buffer);
  source->offset += n;
  *given = static_cast<LONG>(n);
  return 0;
}

}  // namespace

std::string ReadDocumentFile(const std::wstring& path, std::size_t max_bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  std::string bytes;
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info) &&
      !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    char chunk[65536];
    DWORD got = 0;
    while (
        bytes.size() < max_bytes &&
        ReadFile(file, chunk,
                 static_cast<DWORD>(std::min<std::size_t>(sizeof chunk, max_bytes - bytes.size())),
                 &got, nullptr) &&
        got > 0)
      bytes.append(chunk, got);
  }
  CloseHandle(file);
  return bytes;
}

ViewerWindows::ViewerWindows(HINSTANCE instance, std::wstring program_folder, HICON icon,
                             std::function<void()> moved)
    : instance_(instance),
      program_folder_(std::move(program_folder)),
      icon_(icon),
      moved_(std::move(moved)) {
  RegisterWindowClass(instance_, kViewerWindowClass, ViewerProc, icon_);
  rich_edit_loaded_ = LoadLibraryW(L"Msftedit.dll") != nullptr;
}

ViewerWindows::~ViewerWindows() {
  for (Viewer& viewer : viewers_) {
    if (viewer.window) DestroyWindow(viewer.window);
    if (viewer.font) DeleteObject(viewer.font);
  }
}

HWND ViewerWindows::Window(Document document) const {
  const int i = static_cast<int>(document) - 1;
  return i >= 0 && i < static_cast<int>(viewers_.size()) ? viewers_[i].window : nullptr;
}

void ViewerWindows::Close(Document document) {
  const int i = static_cast<int>(document) - 1;
  if (i < 0 || i >= static_cast<int>(viewers_.size()) || !viewers_[i].window) return;
  HWND window = viewers_[i].window;
  HFONT font = viewers_[i].font;
  viewers_[i] = {};
  DestroyWindow(window);
  if (font) DeleteObject(font);
}

void ViewerWindows::LayOut(Viewer& viewer, const ViewerLayout& layout, UINT dpi) {
  viewer.dpi = dpi;
  HFONT old_font = viewer.font;
  viewer.font = CreateMessageFont(dpi);
  SendMessageW(viewer.ok, WM_SETFONT, reinterpret_cast<WPARAM>(viewer.font), TRUE);
  if (old_font) DeleteObject(old_font);
  MoveTo(viewer.area, ScaledRect(2, 2, 496, layout.height - 30, dpi));
  MoveTo(viewer.ok, ScaledRect(210, layout.height - 27, 80, 24, dpi));
}

void ViewerWindows::Open(Document document) {
  const ViewerLayout* layout = LayoutOf(document);
  if (!layout) return;
  Close(document);
  Viewer& viewer = viewers_[static_cast<int>(document) - 1];

  MONITORINFO primary{};
  primary.cbSize = sizeof primary;
  GetMonitorInfoW(MonitorFromPoint({0, 0}, MONITOR_DEFAULTTOPRIMARY), &primary);
  const RECT& work = primary.rcWork;
  const auto centred = [&work](SIZE frame) {
    return POINT{work.left + (work.right - work.left - frame.cx) / 2,
                 work.top + (work.bottom - work.top - frame.cy) / 2};
  };
  SIZE frame = ViewerFrameSize(*layout, ScreenDpi());
  POINT at = centred(frame);
  viewer.window =
      CreateWindowExW(0, kViewerWindowClass, Wide(layout->title).c_str(), kViewerStyle, at.x, at.y,
                      frame.cx, frame.cy, nullptr, nullptr, instance_, this);
  if (!viewer.window) return;
  // Sized again for the DPI of the screen it came on.
  const UINT dpi = WindowDpi(viewer.window);
  const SIZE frame_at_dpi = ViewerFrameSize(*layout, dpi);
  if (frame_at_dpi.cx != frame.cx || frame_at_dpi.cy != frame.cy) {
    frame = frame_at_dpi;
    at = centred(frame);
    SetWindowPos(viewer.window, nullptr, at.x, at.y, frame.cx, frame.cy,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }
  viewer.area =
      CreateWindowExW(0, rich_edit_loaded_ ? MSFTEDIT_CLASS : L"EDIT", L"",
                      WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | WS_TABSTOP | ES_MULTILINE |
                          ES_READONLY | ES_AUTOVSCROLL,
                      0, 0, 0, 0, viewer.window,
                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(kAreaId)), instance_, nullptr);
  viewer.ok = CreateWindowExW(
      0, L"BUTTON", L"OK", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, 0, 0, 0,
      viewer.window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDOK)), instance_, nullptr);
  LayOut(viewer, *layout, dpi);

  std::wstring path = program_folder_;
  if (!path.empty() && path.back() != L'\\' && path.back() != L'/') path += L'\\';
  const std::string rtf = ReadDocumentFile(path + Wide(layout->file), kMaxDocumentBytes);
  if (viewer.area && !rtf.empty()) {
    SendMessageW(viewer.area, EM_EXLIMITTEXT, 0, static_cast<LPARAM>(kMaxDocumentBytes));
    StreamSource source{&rtf};
    EDITSTREAM stream{};
    stream.dwCookie = reinterpret_cast<DWORD_PTR>(&source);
    stream.pfnCallback = FeedRichEdit;
    SendMessageW(viewer.area, EM_STREAMIN, SF_RTF, reinterpret_cast<LPARAM>(&stream));
  }
  ShowWindow(viewer.window, SW_SHOWNORMAL);
  SetForegroundWindow(viewer.window);
  SetFocus(viewer.ok);
  viewer.placed = true;
}

int ViewerWindows::IndexOf(HWND window) const {
  for (int i = 0; i < static_cast<int>(viewers_.size()); ++i)
    if (window && viewers_[i].window == window) return i;
  return -1;
}

bool ViewerWindows::TakeMessage(MSG& message) {
  HWND root = message.hwnd ? GetAncestor(message.hwnd, GA_ROOT) : nullptr;
  const int i = IndexOf(root);
  if (i < 0) return false;
  if (message.message == WM_KEYDOWN && message.wParam == VK_ESCAPE) {
    Close(static_cast<Document>(i + 1));
    return true;
  }
  return IsDialogMessageW(root, &message) != FALSE;
}

LRESULT CALLBACK ViewerWindows::ViewerProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<ViewerWindows*>(reinterpret_cast<CREATESTRUCTW*>(l)->lpCreateParams);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<ViewerWindows*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  const int i = self ? self->IndexOf(window) : -1;
  if (i < 0) return DefWindowProcW(window, message, w, l);
  switch (message) {
    case WM_COMMAND:
      if ((LOWORD(w) == IDOK || LOWORD(w) == IDCANCEL) && HIWORD(w) == BN_CLICKED) {
        self->Close(static_cast<Document>(i + 1));
        return 0;
      }
      break;
    case WM_CLOSE:
      self->Close(static_cast<Document>(i + 1));
      return 0;
    case WM_MOVE:
      if (self->viewers_[i].placed && self->moved_) self->moved_();
      break;
    case WM_DPICHANGED: {
      Viewer& viewer = self->viewers_[i];
      if (HIWORD(w) != 0 && HIWORD(w) != viewer.dpi)
        self->LayOut(viewer, *LayoutOf(static_cast<Document>(i + 1)), HIWORD(w));
      TakeSuggestedRect(window, l);
      return 0;
    }
    case WM_GETDPISCALEDSIZE:
      *reinterpret_cast<SIZE*>(l) =
          ViewerFrameSize(*LayoutOf(static_cast<Document>(i + 1)), LOWORD(w));
      return TRUE;
    default:
      break;
  }
  return DefWindowProcW(window, message, w, l);
}

}  // namespace glimmerix::win32
