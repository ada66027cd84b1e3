#include "app/win32/controller_window.h"

#include <commctrl.h>

#include <cstdio>
#include <string>
#include <utility>

#include "app/win32/dpi.h"
#include "app/win32/window_class.h"
#include "outputs/windows/text.h"

namespace glimmerix::win32 {
namespace {

constexpr DWORD kControllerStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
constexpr int kClientWidth = 600;
constexpr int kClientHeight = 232;
constexpr UINT_PTR kLightTestTimer = 1;
enum ControlId { kList = 100, kRefresh, kUse, kLightTest, kOrder };
// The device list's columns: title and width (pixels at 96 DPI).
constexpr std::pair<const wchar_t*, int> kColumns[] = {
    {L"Vendor", 60}, {L"Product", 60}, {L"Name", 170}, {L"Node", 170}, {L"Can open", 100}};

SIZE ControllerFrameSize(UINT dpi) {
  return FrameSizeForDpi(ScaleToDpi(kClientWidth, dpi), ScaleToDpi(kClientHeight, dpi),
                         kControllerStyle, 0, dpi);
}

std::wstring Hex4(unsigned v) {
  wchar_t text[8];
  std::swprintf(text, 8, L"%04x", v & 0xFFFFu);
  return text;
}

}  // namespace

ControllerWindow::ControllerWindow(HINSTANCE instance, HICON icon, ControlTable& controls,
                                   EngineShared& shared, UsbController& usb, ParallelPort* lpt,
                                   ChooseDevice choose)
    : instance_(instance),
      icon_(icon),
      controls_(controls),
      usb_(usb),
      choose_(std::move(choose)),
      light_test_(controls, shared, usb, lpt) {}

ControllerWindow::~ControllerWindow() {
  if (window_) DestroyWindow(window_);
  if (font_) DeleteObject(font_);
}

void ControllerWindow::Open() {
  if (!window_) Create();
  if (!window_) return;
  Refresh();
  ShowWindow(window_, SW_SHOWNORMAL);
  SetForegroundWindow(window_);
}

bool ControllerWindow::TakeMessage(MSG& message) {
  if (!window_ || !message.hwnd || GetAncestor(message.hwnd, GA_ROOT) != window_) return false;
  return IsDialogMessageW(window_, &message) != FALSE;
}

void ControllerWindow::Create() {
  RegisterWindowClass(instance_, kControllerWindowClass, WindowProc, icon_);
  const SIZE frame = ControllerFrameSize(ScreenDpi());
  window_ =
      CreateWindowExW(0, kControllerWindowClass, L"Controller", kControllerStyle, CW_USEDEFAULT,
                      CW_USEDEFAULT, frame.cx, frame.cy, nullptr, nullptr, instance_, this);
  if (!window_) return;
  const auto add = [this](const wchar_t* window_class, const wchar_t* text, DWORD style, int x,
                          int y, int w, int h, int id) {
    HWND control =
        CreateWindowExW(0, window_class, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, window_,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
    placements_.push_back({control, x, y, w, h});
    return control;
  };
  add(L"STATIC", L"HID devices of this computer:", SS_LEFT, 8, 8, 584, 16, -1);
  list_ = add(WC_LISTVIEWW, L"",
              WS_BORDER | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS, 8, 28, 584,
              140, kList);
  ListView_SetExtendedListViewStyle(list_, LVS_EX_FULLROWSELECT);
  int c = 0;
  for (const auto& [title, width] : kColumns) {
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.pszText = const_cast<wchar_t*>(title);
    column.cx = width;
    SendMessageW(list_, LVM_INSERTCOLUMNW, c++, reinterpret_cast<LPARAM>(&column));
  }
  looking_for_ = add(L"STATIC", L"", SS_LEFT, 8, 176, 584, 16, -1);
  add(L"BUTTON", L"&Refresh", WS_TABSTOP | BS_PUSHBUTTON, 8, 200, 100, 24, kRefresh);
  use_ =
      add(L"BUTTON", L"&Use this controller", WS_TABSTOP | BS_PUSHBUTTON, 114, 200, 140, 24, kUse);
  test_button_ =
      add(L"BUTTON", L"&Light test", WS_TABSTOP | BS_PUSHBUTTON, 260, 200, 100, 24, kLightTest);
  add(L"BUTTON", L"&Outputs 1 to 18 in order", WS_TABSTOP | BS_PUSHBUTTON, 366, 200, 140, 24,
      kOrder);
  add(L"BUTTON", L"Close", WS_TABSTOP | BS_PUSHBUTTON, 512, 200, 80, 24, IDCANCEL);
  // Sized and laid out for the DPI of the screen it came on.
  const UINT dpi = WindowDpi(window_);
  const SIZE frame_at_dpi = ControllerFrameSize(dpi);
  SetWindowPos(window_, nullptr, 0, 0, frame_at_dpi.cx, frame_at_dpi.cy,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  LayOut(dpi);
}

void ControllerWindow::LayOut(UINT dpi) {
  dpi_ = dpi;
  HFONT old_font = font_;
  font_ = CreateMessageFont(dpi);
  for (const Placement& p : placements_) {
    SendMessageW(p.control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
    const RECT r = ScaledRect(p.x, p.y, p.w, p.h, dpi);
    SetWindowPos(p.control, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }
  int c = 0;
  for (const auto& column : kColumns)
    SendMessageW(list_, LVM_SETCOLUMNWIDTH, c++, ScaleToDpi(column.second, dpi));
  if (old_font) DeleteObject(old_font);
}

void ControllerWindow::Refresh() {
  const int vid = usb_.USB_VID.load() & 0xFFFF;
  const int pid = usb_.USB_PID.load() & 0xFFFF;
  const std::wstring looking_for = L"Glimmerix looks for vendor " + Hex4(vid) + L", product " +
                                   Hex4(pid) + L" (VID = " + std::to_wstring(vid) + L", PID = " +
                                   std::to_wstring(pid) + L" in setting.dat).";
  SetWindowTextW(looking_for_, looking_for.c_str());
  devices_ = ListHidDevices();
  ListView_DeleteAllItems(list_);
  int current = -1;
  for (int row = 0; row < static_cast<int>(devices_.size()); ++row) {
    const HidDeviceInfo& d = devices_[row];
    const std::wstring cells[] = {d.has_ids ? Hex4(d.vendor) : L"?",
                                  d.has_ids ? Hex4(d.product) : L"?", Wide(d.name), Wide(d.node),
                                  d.can_open ? std::wstring(L"yes") : L"no: " + Wide(d.reason)};
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = const_cast<wchar_t*>(cells[0].c_str());
    SendMessageW(list_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    for (int c = 1; c < 5; ++c) {
      item.iSubItem = c;
      item.pszText = const_cast<wchar_t*>(cells[c].c_str());
      SendMessageW(list_, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
    }
    if (current < 0 && d.has_ids && static_cast<int>(d.vendor) == vid &&
        static_cast<int>(d.product) == pid)
      current = row;
  }
  if (current < 0 && !devices_.empty()) current = 0;
  if (current >= 0)
    ListView_SetItemState(list_, current, LVIS_SELECTED | LVIS_FOCUSED,
                          LVIS_SELECTED | LVIS_FOCUSED);
  SelectionChanged();
}

int ControllerWindow::SelectedRow() const {
  const int row = ListView_GetNextItem(list_, -1, LVNI_SELECTED);
  return row >= 0 && row < static_cast<int>(devices_.size()) ? row : -1;
}

void ControllerWindow::SelectionChanged() {
  const int row = SelectedRow();
  EnableWindow(use_, row >= 0 && devices_[row].has_ids);
}

void ControllerWindow::UseSelected() {
  const int row = SelectedRow();
  if (row < 0 || !devices_[row].has_ids) return;
  choose_(static_cast<int>(devices_[row].vendor), static_cast<int>(devices_[row].product));
  Refresh();
}

LRESULT CALLBACK ControllerWindow::WindowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_NCCREATE) {
    auto* self =
        static_cast<ControllerWindow*>(reinterpret_cast<CREATESTRUCTW*>(l)->lpCreateParams);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<ControllerWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  return self ? self->OnMessage(window, message, w, l) : DefWindowProcW(window, message, w, l);
}

LRESULT ControllerWindow::OnMessage(HWND window, UINT message, WPARAM w, LPARAM l) {
  switch (message) {
    case WM_COMMAND:
      if (HIWORD(w) != BN_CLICKED) break;
      switch (LOWORD(w)) {
        case kRefresh:
          Refresh();
          return 0;
        case kUse:
          UseSelected();
          return 0;
        case kLightTest:
          light_test_.Start();
          EnableWindow(test_button_, FALSE);
          SetTimer(window, kLightTestTimer, kLightTestStepMs, nullptr);
          return 0;
        case kOrder:
          AssignOutputsInOrder(controls_);
          return 0;
        case IDCANCEL:
          ShowWindow(window, SW_HIDE);
          return 0;
        default:
          break;
      }
      break;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(l);
      if (header->hwndFrom != list_) break;
      if (header->code == LVN_ITEMCHANGED) SelectionChanged();
      if (header->code == NM_DBLCLK) UseSelected();
      return 0;
    }
    case WM_TIMER:
      if (w != kLightTestTimer) break;
      if (!light_test_.Step()) {
        KillTimer(window, kLightTestTimer);
        EnableWindow(test_button_, TRUE);
      }
      return 0;
    case WM_CLOSE:
      ShowWindow(window, SW_HIDE);
      return 0;
    case WM_DPICHANGED:
      if (HIWORD(w) != 0 && HIWORD(w) != dpi_) LayOut(HIWORD(w));
      TakeSuggestedRect(window, l);
      return 0;
    case WM_GETDPISCALEDSIZE:
      *reinterpret_cast<SIZE*>(l) = ControllerFrameSize(LOWORD(w));
      return TRUE;
    default:
      break;
  }
  return DefWindowProcW(window, message, w, l);
}

}  // namespace glimmerix::win32
