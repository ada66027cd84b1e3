#include "app/win32/win32_front_end.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <random>

#include "app/win32/dpi.h"
#include "app/win32/window_class.h"
#include "engine/capture/windows/wave_in_recording.h"
#include "engine/realtime.h"
#include "outputs/system_outputs.h"
#include "outputs/windows/text.h"
#include "program/window_layout.h"
#include "program/window_placement.h"

namespace glimmerix::win32 {
namespace {

constexpr const wchar_t* kMessageWindowClass = L"GlimmerixMessages";
constexpr UINT kWakeMessage = WM_APP + 2;
constexpr UINT kTrayMessage = WM_APP + 3;
constexpr UINT kExitRequestMessage = WM_APP + 4;
constexpr UINT kTrayIconId = 1;
constexpr UINT_PTR kTickTimer = 1;
constexpr DWORD kMainStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
// Menu command identifiers: the tray menu's commands, then the "Input" submenu's entries.
constexpr int kFirstMenuCommand = 1000;
constexpr int kFirstInputEntry = 2000;
// The icon resource's number (glimmerix.rc).
constexpr int kIconResource = 1;
// The controls' font height at 96 DPI (LOGFONT's lfHeight).
constexpr LONG kLayoutFontHeight = -11;

std::wstring Wide(std::string_view utf8) {
  return glimmerix::Wide(std::string(utf8));
}

// Preset names are the folder's names in the system's ANSI code page.
std::wstring FromAnsi(const std::string& text) {
  if (text.empty()) return {};
  const int n =
      MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(n, L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}

BOOL CALLBACK AddScreen(HMONITOR, HDC, LPRECT rect, LPARAM screens) {
  reinterpret_cast<std::vector<ScreenRect>*>(screens)->push_back(
      {rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top});
  return TRUE;
}

std::vector<ScreenRect> ScreenRects() {
  std::vector<ScreenRect> screens;
  EnumDisplayMonitors(nullptr, nullptr, AddScreen, reinterpret_cast<LPARAM>(&screens));
  return screens;
}

// The main window's outer size for the layout's client width at dpi.
SIZE FrameSize(int layout_client_width, UINT dpi) {
  return FrameSizeForDpi(ScaleToDpi(layout_client_width, dpi), ScaleToDpi(shell::kInnerHeight, dpi),
                         kMainStyle, 0, dpi);
}

// Where a control goes at dpi; a drop-down list's rectangle includes its list.
RECT ControlRect(const shell::ControlDef& def, UINT dpi) {
  const int height = def.kind == ControlKind::kList ? def.h + kOutputListEntries * def.h : def.h;
  return ScaledRect(def.x, def.y, def.w, height, dpi);
}

// Where spectrum column 0..17 is painted at dpi.
RECT ColumnRect(int column, UINT dpi) {
  const shell::ControlDef* def = shell::FindControl(gadget::kFirstColumn + column);
  return ScaledRect(def->x, def->y, def->w, def->h, dpi);
}

}  // namespace

Win32FrontEnd::Win32FrontEnd(HINSTANCE instance, const std::string& program_folder)
    : instance_(instance) {
  exit_taken_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  icon_ = LoadIconW(instance_, MAKEINTRESOURCEW(kIconResource));
  if (!icon_) icon_ = LoadIconW(nullptr, MAKEINTRESOURCEW(32512));  // IDI_APPLICATION
  small_icon_ = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(kIconResource),
                                              IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                              GetSystemMetrics(SM_CYSMICON), 0));
  if (!small_icon_) small_icon_ = icon_;

  WNDCLASSEXW message_class{};
  message_class.cbSize = sizeof message_class;
  message_class.lpfnWndProc = MessageProc;
  message_class.hInstance = instance_;
  message_class.lpszClassName = kMessageWindowClass;
  RegisterClassExW(&message_class);
  message_window_ = CreateWindowExW(0, kMessageWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                    nullptr, instance_, this);
  bridge_.set_wake_window(message_window_, kWakeMessage);

  viewers_ = std::make_unique<ViewerWindows>(instance_, FromAnsi(program_folder), icon_,
                                             [this] { SaveMainWindowCorner(); });
  core_ = std::make_unique<ProgramCore>(
      program_folder, *this, FrontEndLinks{&bridge_, &bridge_, &bridge_}, OpenSystemOutputs(),
      std::make_unique<WaveInRecording>(), std::make_unique<Mt19937Random>(std::random_device{}()),
      program_folder);
}

Win32FrontEnd::~Win32FrontEnd() {
  controller_window_.reset();  // a light test ends before the engine it paused
  core_.reset();               // the engine stopped before the windows it reports to go
  viewers_.reset();
  bridge_.set_wake_window(nullptr, 0);
  RemoveTrayIcon();
  if (main_) DestroyWindow(main_);
  if (message_window_) DestroyWindow(message_window_);
  if (font_) DeleteObject(font_);
  if (status_brush_) DeleteObject(status_brush_);
  if (exit_taken_) CloseHandle(exit_taken_);
}

bool Win32FrontEnd::Start() {
  return core_->Start();
}

int Win32FrontEnd::Run() {
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (viewers_->TakeMessage(message)) continue;
    if (controller_window_ && controller_window_->TakeMessage(message)) continue;
    if (main_ && IsDialogMessageW(main_, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}

void Win32FrontEnd::RequestExit(DWORD timeout_ms) {
  if (PostMessageW(message_window_, kExitRequestMessage, 0, 0))
    WaitForSingleObject(exit_taken_, timeout_ms);
}

void Win32FrontEnd::CreateWindowAndTray(int frame_x, int frame_y) {
  SIZE frame = FrameSize(shell::kNarrowWidth, ScreenDpi());
  FramePoint corner = PlaceFrame({frame_x, frame_y}, frame.cx, frame.cy, ScreenRects());

  RegisterWindowClass(instance_, kMainWindowClass, MainProc, icon_, small_icon_);
  main_ = CreateWindowExW(0, kMainWindowClass, L"Glimmerix", kMainStyle, corner.x, corner.y,
                          frame.cx, frame.cy, nullptr, nullptr, instance_, this);
  // Only the window knows the DPI of the screen it is on: sized again for it.
  dpi_ = WindowDpi(main_);
  const SIZE frame_at_dpi = FrameSize(shell::kNarrowWidth, dpi_);
  if (frame_at_dpi.cx != frame.cx || frame_at_dpi.cy != frame.cy) {
    frame = frame_at_dpi;
    corner = PlaceFrame({frame_x, frame_y}, frame.cx, frame.cy, ScreenRects());
    SetWindowPos(main_, nullptr, corner.x, corner.y, frame.cx, frame.cy,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }
  CreateControls();
  for (const shell::ControlDef& def : shell::MainWindowControls()) Refresh(def.gadget);
  // Hidden from the start: what changes is shown once the window is.
  bridge_.set_window_shown(false);

  taskbar_created_ = RegisterWindowMessageW(L"TaskbarCreated");
  AddTrayIcon();
}

void Win32FrontEnd::CreateControls() {
  // The layout's pixel geometry was made for a small GUI font (made already when the window
  // changed screens before it had controls).
  if (!font_) font_ = CreateMessageFont(dpi_, kLayoutFontHeight);

  tooltips_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                              CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, main_,
                              nullptr, instance_, nullptr);
  for (const shell::ControlDef& def : shell::MainWindowControls()) {
    const wchar_t* window_class = nullptr;
    DWORD style = WS_CHILD | WS_VISIBLE;
    switch (def.kind) {
      case ControlKind::kText:
        window_class = L"STATIC";
        style |= (def.centred ? SS_CENTER : SS_LEFT) | SS_CENTERIMAGE | SS_NOTIFY;
        break;
      case ControlKind::kButton:
        window_class = L"BUTTON";
        style |= WS_TABSTOP |
                 (def.gadget == gadget::kWidthButton ? BS_PUSHBUTTON : BS_CHECKBOX | BS_PUSHLIKE);
        break;
      case ControlKind::kCheckBox:
        window_class = L"BUTTON";
        style |= WS_TABSTOP | BS_AUTOCHECKBOX;
        break;
      case ControlKind::kScrollBar:
        window_class = L"SCROLLBAR";
        style |= WS_TABSTOP | (def.vertical ? SBS_VERT : SBS_HORZ);
        break;
      case ControlKind::kList:
        window_class = L"COMBOBOX";
        style |= WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST;
        break;
      case ControlKind::kPicture:  // drawn by the window itself (PaintColumns)
      case ControlKind::kNone:
        continue;
    }
    const RECT r = ControlRect(def, dpi_);
    HWND control = CreateWindowExW(0, window_class, Wide(def.caption).c_str(), style, r.left, r.top,
                                   r.right - r.left, r.bottom - r.top, main_,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(def.gadget)),
                                   instance_, nullptr);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    controls_[def.gadget] = control;
    if (def.kind == ControlKind::kScrollBar) {
      const ScrollRange range = RangeOf(def.gadget);
      SCROLLINFO info{};
      info.cbSize = sizeof info;
      info.fMask = SIF_RANGE | SIF_PAGE | SIF_DISABLENOSCROLL;
      info.nMin = range.lowest();
      // The highest position Windows allows is nMax - nPage + 1.
      info.nMax = range.highest() + (range.page > 0 ? range.page - 1 : 0);
      info.nPage = static_cast<UINT>(range.page);
      SetScrollInfo(control, SB_CTL, &info, FALSE);
    }
    if (def.kind == ControlKind::kList && def.gadget != gadget::kPresetList) {
      SendMessageW(control, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"No"));
      for (int k = 1; k <= kChannels; ++k)
        SendMessageW(control, CB_ADDSTRING, 0,
                     reinterpret_cast<LPARAM>(std::to_wstring(k).c_str()));
    }
    if (!def.tooltip.empty() || def.gadget == gadget::kStatusText) {
      TTTOOLINFOW tool{};
      tool.cbSize = sizeof tool;
      tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
      tool.hwnd = main_;
      tool.uId = reinterpret_cast<UINT_PTR>(control);
      std::wstring text = Wide(def.tooltip);
      tool.lpszText = text.data();
      SendMessageW(tooltips_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    }
  }
}

void Win32FrontEnd::Refresh(int g) {
  if (g >= gadget::kFirstColumn && g <= gadget::kLastColumn) return;
  HWND control = g >= 0 && g < gadget::kCount ? controls_[g] : nullptr;
  if (control == nullptr) return;
  ControlTable& table = core_->controls();
  if (g == gadget::kStatusText) {
    SetWindowTextW(control, Wide(table.status_text()).c_str());
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = main_;
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    std::wstring tip = Wide(table.status_tooltip());
    tool.lpszText = tip.data();
    SendMessageW(tooltips_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
    InvalidateRect(control, nullptr, TRUE);
    return;
  }
  if (g == gadget::kPresetList) return RefreshPresetList();
  const int value = table.value(g);
  switch (KindOf(g)) {
    case ControlKind::kScrollBar:
      SetScrollPos(control, SB_CTL, value, TRUE);
      break;
    case ControlKind::kCheckBox:
      SendMessageW(control, BM_SETCHECK, value == 1 ? BST_CHECKED : BST_UNCHECKED, 0);
      break;
    case ControlKind::kList:
      SendMessageW(control, CB_SETCURSEL, static_cast<WPARAM>(value), 0);
      break;
    default:
      break;
  }
}

void Win32FrontEnd::RefreshPresetList() {
  HWND list = controls_[gadget::kPresetList];
  const std::vector<std::string> entries = core_->controls().preset_entries();
  if (entries != preset_entries_shown_) {
    SendMessageW(list, CB_RESETCONTENT, 0, 0);
    for (const std::string& e : entries)
      SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(FromAnsi(e).c_str()));
    preset_entries_shown_ = entries;
  }
  SendMessageW(list, CB_SETCURSEL,
               static_cast<WPARAM>(core_->controls().value(gadget::kPresetList)), 0);
}

void Win32FrontEnd::ControlChanged(int g) {
  if (main_) Refresh(g);
}

void Win32FrontEnd::ColumnChanged(int column, float band_value, int lamp) {
  if (!main_ || column < 0 || column >= kChannels) return;
  ColumnPicture next;
  DrawColumn(next, band_value, lamp);
  if (next.pixels == pictures_[column].pixels) return;
  pictures_[column] = next;
  for (std::size_t i = 0; i < next.pixels.size(); ++i) {
    const Rgb& p = next.pixels[i];
    column_pixels_[column][i] = DWORD{p.b} | DWORD{p.g} << 8 | DWORD{p.r} << 16;
  }
  const RECT r = ColumnRect(column, dpi_);
  InvalidateRect(main_, &r, FALSE);
}

void Win32FrontEnd::ButtonClicked(int g) {
  if (core_->finished() || !main_ || !controls_[g]) return;
  core_->GadgetEvent(g);
}

void Win32FrontEnd::PaintColumns() {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(main_, &paint);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = ColumnPicture::kWidth;
  info.bmiHeader.biHeight = -ColumnPicture::kHeight;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  for (int column = 0; column < kChannels; ++column) {
    const RECT r = ColumnRect(column, dpi_);
    RECT overlap;
    if (!IntersectRect(&overlap, &r, &paint.rcPaint)) continue;
    StretchDIBits(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, 0, 0,
                  ColumnPicture::kWidth, ColumnPicture::kHeight, column_pixels_[column].data(),
                  &info, DIB_RGB_COLORS, SRCCOPY);
  }
  EndPaint(main_, &paint);
}

void Win32FrontEnd::OnCommand(int id, int notification) {
  if (id >= kFirstInputEntry && id < kFirstInputEntry + static_cast<int>(input_entries_.size())) {
    core_->InputChosen(id - kFirstInputEntry);
    return;
  }
  if (id >= kFirstMenuCommand && id <= kFirstMenuCommand + static_cast<int>(MenuCommand::kExit)) {
    core_->MenuCommandChosen(static_cast<MenuCommand>(id - kFirstMenuCommand));
    return;
  }
  if (id <= 0 || id >= gadget::kCount || !controls_[id] || core_->finished()) return;
  switch (KindOf(id)) {
    case ControlKind::kButton:
      if (notification == BN_CLICKED) core_->GadgetEvent(id);
      break;
    case ControlKind::kCheckBox:
      if (notification != BN_CLICKED) break;
      core_->controls().set_value(
          id, SendMessageW(controls_[id], BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0);
      core_->GadgetEvent(id);
      break;
    case ControlKind::kList: {
      if (notification != CBN_SELCHANGE) break;
      const LRESULT index = SendMessageW(controls_[id], CB_GETCURSEL, 0, 0);
      if (index == CB_ERR) break;
      core_->controls().set_value(id, static_cast<int>(index));
      core_->GadgetEvent(id);
      break;
    }
    default:
      break;
  }
}

void Win32FrontEnd::OnScroll(HWND bar, int request) {
  const int g = GetDlgCtrlID(bar);
  if (g <= 0 || g >= gadget::kCount || controls_[g] != bar || core_->finished()) return;
  SCROLLINFO info{};
  info.cbSize = sizeof info;
  info.fMask = SIF_ALL;
  GetScrollInfo(bar, SB_CTL, &info);
  const ScrollRange range = RangeOf(g);
  int position = info.nPos;
  switch (request) {
    case SB_LINEUP:
      position -= 1;
      break;
    case SB_LINEDOWN:
      position += 1;
      break;
    case SB_PAGEUP:
      position -= range.page;
      break;
    case SB_PAGEDOWN:
      position += range.page;
      break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION:
      position = info.nTrackPos;
      break;
    case SB_TOP:
      position = range.lowest();
      break;
    case SB_BOTTOM:
      position = range.highest();
      break;
    default:
      return;  // SB_ENDSCROLL
  }
  position = std::clamp(position, range.lowest(), range.highest());
  // Bright and Step count every user action, an arrow pressed at the bar's end included; the
  // others only a change of value.
  const bool every_action = g == gadget::kBrightBar || g == gadget::kStepBar;
  if (position == core_->controls().value(g) && !(every_action && request != SB_THUMBPOSITION))
    return;
  SetScrollPos(bar, SB_CTL, position, TRUE);
  core_->controls().set_value(g, position);
  core_->GadgetEvent(g);
}

// A viewer moved: the main window's corner is saved, as the Qt front-end does.
void Win32FrontEnd::SaveMainWindowCorner() {
  if (!main_ || !core_ || core_->finished() || IsIconic(main_)) return;
  const POINT corner = FrameCorner();
  core_->WindowMoved(corner.x, corner.y);
}

POINT Win32FrontEnd::FrameCorner() const {
  RECT r{};
  GetWindowRect(main_, &r);
  return {r.left, r.top};
}

void Win32FrontEnd::ResizeClient(int layout_width) {
  const SIZE frame = FrameSize(layout_width, dpi_);
  SetWindowPos(main_, nullptr, 0, 0, frame.cx, frame.cy,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool Win32FrontEnd::ShowsWideForm() const {
  RECT client{};
  GetClientRect(main_, &client);
  return client.right >= ScaleToDpi((shell::kNarrowWidth + shell::kWideWidth) / 2, dpi_);
}

void Win32FrontEnd::ApplyDpi(UINT dpi) {
  dpi_ = dpi;
  HFONT old_font = font_;
  font_ = CreateMessageFont(dpi_, kLayoutFontHeight);
  for (const shell::ControlDef& def : shell::MainWindowControls()) {
    HWND control = controls_[def.gadget];
    if (!control) continue;
    // The font first: a combo box sets its closed height from it.
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
    const RECT r = ControlRect(def, dpi_);
    SetWindowPos(control, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }
  if (old_font) DeleteObject(old_font);
}

void Win32FrontEnd::AddTrayIcon() {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof data;
  data.hWnd = message_window_;
  data.uID = kTrayIconId;
  data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data.uCallbackMessage = kTrayMessage;
  data.hIcon = small_icon_;
  lstrcpynW(data.szTip, tray_tip_.c_str(), ARRAYSIZE(data.szTip));
  // After a TaskbarCreated that found the icon still there (no restart of the taskbar, or the
  // message sent by another program), NIM_ADD fails: the icon is ours all the same.
  tray_added_ =
      Shell_NotifyIconW(NIM_ADD, &data) != FALSE || Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
}

void Win32FrontEnd::RemoveTrayIcon() {
  if (!tray_added_) return;
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof data;
  data.hWnd = message_window_;
  data.uID = kTrayIconId;
  Shell_NotifyIconW(NIM_DELETE, &data);
  tray_added_ = false;
}

void Win32FrontEnd::SetTrayToolTip(const std::string& text) {
  tray_tip_ = Wide(text);
  if (!tray_added_) return;
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof data;
  data.hWnd = message_window_;
  data.uID = kTrayIconId;
  data.uFlags = NIF_TIP;
  lstrcpynW(data.szTip, tray_tip_.c_str(), ARRAYSIZE(data.szTip));
  Shell_NotifyIconW(NIM_MODIFY, &data);
}

void Win32FrontEnd::OpenTrayMenu() {
  HMENU menu = CreatePopupMenu();
  const auto add = [](HMENU m, MenuCommand c, const wchar_t* text) {
    AppendMenuW(m, MF_STRING, kFirstMenuCommand + static_cast<int>(c), text);
  };
  add(menu, MenuCommand::kOpen, L"Open");
  add(menu, MenuCommand::kHide, L"Hide");
  if (!input_entries_.empty()) {
    HMENU input = CreatePopupMenu();
    for (int i = 0; i < static_cast<int>(input_entries_.size()); ++i) {
      const InputMenuEntry& entry = input_entries_[i];
      if (entry.separator_before) AppendMenuW(input, MF_SEPARATOR, 0, nullptr);
      AppendMenuW(input,
                  MF_STRING | (entry.ticked ? MF_CHECKED : 0u) | (entry.enabled ? 0u : MF_GRAYED),
                  kFirstInputEntry + i, Wide(entry.text).c_str());
    }
    AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(input), L"Input");
  }
  add(menu, MenuCommand::kController, L"Controller...");
  HMENU help = CreatePopupMenu();
  add(help, MenuCommand::kSettingsHelp, L"Settings");
  add(help, MenuCommand::kHistoryHelp, L"History");
  AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(help), L"Help");
  if (core_->has_dmx()) add(menu, MenuCommand::kDmx, L"DMX...");
  add(menu, MenuCommand::kAbout, L"About");
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  add(menu, MenuCommand::kExit, L"Exit");

  POINT at;
  GetCursorPos(&at);
  // The menu closes when the user clicks elsewhere only if its owner is in the foreground.
  SetForegroundWindow(message_window_);
  const int chosen = TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, at.x,
                                    at.y, 0, message_window_, nullptr);
  PostMessageW(message_window_, WM_NULL, 0, 0);
  DestroyMenu(menu);  // its submenus with it
  if (chosen != 0) OnCommand(chosen, 0);
}

void Win32FrontEnd::ShowFileMissing(const std::string& text) {
  MessageBoxW(nullptr, Wide(text).c_str(), L"File missing!", MB_OK | MB_ICONERROR | MB_TOPMOST);
}

void Win32FrontEnd::StartTimer(int interval_ms) {
  SetTimer(message_window_, kTickTimer, static_cast<UINT>(interval_ms), nullptr);
}

void Win32FrontEnd::ShowMainWindow() {
  ShowWindow(main_, IsIconic(main_) ? SW_RESTORE : SW_SHOW);
  SetForegroundWindow(main_);
  // A window shown again on a screen since removed is brought back.
  RECT r{};
  GetWindowRect(main_, &r);
  const FramePoint corner =
      PlaceFrame({r.left, r.top}, r.right - r.left, r.bottom - r.top, ScreenRects());
  if (corner.x != r.left || corner.y != r.top)
    SetWindowPos(main_, nullptr, corner.x, corner.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

void Win32FrontEnd::HideMainWindow() {
  if (main_) ShowWindow(main_, SW_HIDE);
}

void Win32FrontEnd::ToggleMainWindowWidth() {
  ResizeClient(ShowsWideForm() ? shell::kNarrowWidth : shell::kWideWidth);
}

void Win32FrontEnd::ShowMode(int mode) {
  const std::pair<int, int> buttons[] = {{gadget::kManualButton, kModeManual},
                                         {gadget::kAutoButton, kModeAuto},
                                         {gadget::kRndButton, kModeRnd}};
  for (const auto& [g, m] : buttons)
    if (controls_[g])
      SendMessageW(controls_[g], BM_SETCHECK, mode == m ? BST_CHECKED : BST_UNCHECKED, 0);
}

void Win32FrontEnd::OpenViewer(Document document) {
  viewers_->Open(document);
}

void Win32FrontEnd::OpenControllerDialog() {
  if (!controller_window_)
    controller_window_ = std::make_unique<ControllerWindow>(
        instance_, icon_, core_->controls(), core_->shared(), core_->controller(),
        &core_->parallel_port(), [this](int vid, int pid) { core_->UseController(vid, pid); });
  controller_window_->Open();
}

// Windows has no DMX output, so the core never offers its dialog here.
void Win32FrontEnd::OpenDmxDialog() {}

void Win32FrontEnd::ShowInputChoices(const std::vector<InputMenuEntry>& entries) {
  input_entries_ = entries;
}

void Win32FrontEnd::Quit() {
  KillTimer(message_window_, kTickTimer);
  RemoveTrayIcon();
  if (main_) ShowWindow(main_, SW_HIDE);
  PostQuitMessage(0);
}

LRESULT CALLBACK Win32FrontEnd::MainProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<Win32FrontEnd*>(reinterpret_cast<CREATESTRUCTW*>(l)->lpCreateParams);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<Win32FrontEnd*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  return self ? self->OnMainMessage(window, message, w, l) : DefWindowProcW(window, message, w, l);
}

LRESULT CALLBACK Win32FrontEnd::MessageProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<Win32FrontEnd*>(reinterpret_cast<CREATESTRUCTW*>(l)->lpCreateParams);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<Win32FrontEnd*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  return self ? self->OnMessageWindow(window, message, w, l)
              : DefWindowProcW(window, message, w, l);
}

LRESULT Win32FrontEnd::OnMainMessage(HWND window, UINT message, WPARAM w, LPARAM l) {
  switch (message) {
    case WM_COMMAND:
      OnCommand(LOWORD(w), HIWORD(w));
      return 0;
    case WM_HSCROLL:
    case WM_VSCROLL:
      if (l != 0) OnScroll(reinterpret_cast<HWND>(l), LOWORD(w));
      return 0;
    case WM_PAINT:
      PaintColumns();
      return 0;
    case WM_CTLCOLORSTATIC: {
      if (reinterpret_cast<HWND>(l) != controls_[gadget::kStatusText]) break;
      const Rgb c = core_->controls().status_colour();
      HDC dc = reinterpret_cast<HDC>(w);
      SetTextColor(dc, RGB(c.r, c.g, c.b));
      SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_SHOWWINDOW:
      bridge_.set_window_shown(w != FALSE);
      break;
    case WM_SIZE:
      if (w == SIZE_MINIMIZED && !core_->finished()) core_->WindowMinimised();
      break;
    case WM_MOVE:
      // The frame's corner; a minimised window's parked place (-32000) is not saved.
      if (!core_->finished() && IsWindowVisible(window) && !IsIconic(window)) {
        const POINT corner = FrameCorner();
        core_->WindowMoved(corner.x, corner.y);
      }
      break;
    case WM_CLOSE:
      // The window stays; the program ends through the close path.
      if (!core_->finished()) {
        const POINT corner = FrameCorner();
        core_->CloseRequest(corner.x, corner.y);
      }
      return 0;
    case WM_DPICHANGED:
      // Dragged onto a screen of another DPI: the controls, their font and the columns follow.
      if (HIWORD(w) != 0 && HIWORD(w) != dpi_) ApplyDpi(HIWORD(w));
      TakeSuggestedRect(window, l);
      InvalidateRect(window, nullptr, TRUE);
      return 0;
    case WM_GETDPISCALEDSIZE:
      // The exact outer size at the coming DPI, rather than the old one scaled.
      *reinterpret_cast<SIZE*>(l) =
          FrameSize(ShowsWideForm() ? shell::kWideWidth : shell::kNarrowWidth, LOWORD(w));
      return TRUE;
    case WM_QUERYENDSESSION:
      return TRUE;
    case WM_ENDSESSION:
      // The session ends: the exit path's saves and switch-off before the system ends us.
      if (w != FALSE) core_->ExitCommand();
      return 0;
    case kShowRequestMessage:
      if (!core_->finished()) core_->MenuCommandChosen(MenuCommand::kOpen);
      return 0;
    default:
      // Broadcast to top-level windows when Explorer starts again: the icon is put back.
      if (message == taskbar_created_ && taskbar_created_ != 0) {
        if (!core_->finished()) AddTrayIcon();
        return 0;
      }
      break;
  }
  return DefWindowProcW(window, message, w, l);
}

LRESULT Win32FrontEnd::OnMessageWindow(HWND window, UINT message, WPARAM w, LPARAM l) {
  switch (message) {
    case kWakeMessage:
      bridge_.Drain(*this);
      return 0;
    case WM_TIMER:
      if (w != kTickTimer) break;
      core_->TimerTick();
      bridge_.Drain(*this);  // in case a wake-up could not be posted
      return 0;
    case kTrayMessage:
      if (core_->finished()) return 0;
      switch (LOWORD(l)) {
        case WM_LBUTTONDOWN:
          core_->TrayIconClicked();
          break;
        case WM_RBUTTONUP:
        case WM_CONTEXTMENU:
          OpenTrayMenu();
          break;
        default:
          break;
      }
      return 0;
    case kExitRequestMessage:
      core_->TerminationSignal();
      SetEvent(exit_taken_);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window, message, w, l);
}

}  // namespace glimmerix::win32
