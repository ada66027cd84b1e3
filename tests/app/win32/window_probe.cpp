// window_probe.exe: reads the running glimmerix.exe's main window from outside, as a user sees it.
//   layout [DPI]  compares the window's child controls with the layout table at DPI (control id,
//            class, caption, rectangle in the window's client area; a drop-down list by its left,
//            top and width, its closed height being the system's), the client area's size (the
//            narrow or the wide form) and looks at the 18 spectrum columns the window paints
//            (dark columns with the window's background between them); prints one line per
//            mismatch, naming the control, then the window's and the screen's DPI. The table's
//            rectangles at DPI have each edge scaled by DPI / 96 and rounded to the nearest pixel
//            (half away from zero); without DPI the window's own (DpiOfWindow) is taken.
//   dpi-changed FROM TO [TITLE]  sends the main window (or the program's window titled TITLE),
//            laid out for DPI FROM, WM_DPICHANGED for DPI TO with the rectangle Windows suggests
//            when it is dragged onto a screen of that DPI (the client area scaled by TO / FROM,
//            the corner kept; the frame's border as it is, since under Wine the window stays on a
//            screen of its first DPI); prints the suggested and the resulting frame
//            ("suggested=X,Y WxH frame=X,Y WxH")
//   children TITLE  prints the client size of the program's window titled TITLE ("client=WxH")
//            and a line "ID X,Y WxH" for each of its child windows (client coordinates)
//   modes    prints the mode buttons' states: "Manual=1 Auto=0 Rnd=0"
//   watch-modes MS  reads the mode buttons every 10 ms for MS milliseconds and prints the modes
//            shown, in turn, as numbers (1 Manual, 2 Auto, 3 Rnd): "1 3 2 1"; a mode counts once
//            two readings in a row agree (the three buttons are read one after the other, so a
//            reading across a change shows none or two checked)
//   keys     prints the hot keys Wine holds down now (GetAsyncKeyState): "Shift Alt F5" ...
// Exit code 0 when everything matched (layout) or was read (modes), 1 on a mismatch or when the
// window is not shown, 2 for an unknown argument. The probe is DPI aware: what it reads and
// prints are the screen's pixels.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "app/win32/dpi.h"
#include "engine/controls.h"
#include "program/window_layout.h"

namespace {

using glimmerix::ControlKind;
namespace gadget = glimmerix::gadget;
namespace shell = glimmerix::shell;
using glimmerix::win32::ScaledRect;
using glimmerix::win32::ScaleToDpi;

constexpr UINT kTimeoutMs = 10000;

struct Child {
  std::string window_class;
  std::string caption;
  RECT rect{};  // in the main window's client coordinates
};

std::string Narrow(const wchar_t* text) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string utf8(n > 0 ? n - 1 : 0, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), n, nullptr, nullptr);
  return utf8;
}

struct Children {
  HWND main = nullptr;
  std::map<int, Child> by_id;
  int unnumbered = 0;
};

BOOL CALLBACK AddChild(HWND window, LPARAM l) {
  auto* children = reinterpret_cast<Children*>(l);
  if (GetParent(window) != children->main) return TRUE;  // a control's own parts
  Child child;
  wchar_t text[256] = {};
  GetClassNameW(window, text, 256);
  child.window_class = Narrow(text);
  DWORD_PTR copied = 0;
  text[0] = L'\0';
  SendMessageTimeoutW(window, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                      kTimeoutMs, &copied);
  child.caption = Narrow(text);
  GetWindowRect(window, &child.rect);
  MapWindowPoints(nullptr, children->main, reinterpret_cast<POINT*>(&child.rect), 2);
  const int id = GetDlgCtrlID(window);
  if (!children->by_id.emplace(id, child).second) ++children->unnumbered;
  return TRUE;
}

const char* ClassOf(ControlKind kind) {
  switch (kind) {
    case ControlKind::kText:
      return "Static";
    case ControlKind::kButton:
    case ControlKind::kCheckBox:
      return "Button";
    case ControlKind::kScrollBar:
      return "ScrollBar";
    case ControlKind::kList:
      return "ComboBox";
    default:
      return "";
  }
}

// The control's name for the messages: its caption, else its tool tip, else its number.
std::string NameOf(const shell::ControlDef& def) {
  std::string name = "control " + std::to_string(def.gadget);
  if (!def.caption.empty()) name += " \"" + std::string(def.caption) + "\"";
  if (!def.tooltip.empty()) name += " (" + std::string(def.tooltip) + ")";
  return name;
}

// Rectangles in the screen's pixels, whatever DPI awareness the system would give this program.
void BecomeDpiAware() {
  using SetContextFunction = BOOL(WINAPI*)(HANDLE);
  const auto set_context =
      glimmerix::win32::User32Function<SetContextFunction>("SetProcessDpiAwarenessContext");
  // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2, else _PER_MONITOR_AWARE (Wine 8 has only that)
  if (set_context && (set_context(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4))) ||
                      set_context(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-3)))))
    return;
  SetProcessDPIAware();
}

// The DPI the program's window is laid out for. For a per-monitor aware window that is its
// screen's (GetDpiForMonitor): Wine 8's GetDpiForWindow gives 96 for such a window of another
// process, whatever the screen's DPI.
UINT DpiOfWindow(HWND window) {
  using ContextFunction = HANDLE(WINAPI*)(HWND);
  using AwarenessFunction = int(WINAPI*)(HANDLE);
  const auto context_of =
      glimmerix::win32::User32Function<ContextFunction>("GetWindowDpiAwarenessContext");
  const auto awareness_of =
      glimmerix::win32::User32Function<AwarenessFunction>("GetAwarenessFromDpiAwarenessContext");
  HMODULE shcore = LoadLibraryW(L"shcore.dll");
  using MonitorDpiFunction = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
  const auto monitor_dpi = shcore ? reinterpret_cast<MonitorDpiFunction>(reinterpret_cast<void*>(
                                        GetProcAddress(shcore, "GetDpiForMonitor")))
                                  : nullptr;
  constexpr int kPerMonitorAware = 2;  // DPI_AWARENESS_PER_MONITOR_AWARE
  UINT x = 0, y = 0;
  if (context_of && awareness_of && monitor_dpi &&
      awareness_of(context_of(window)) == kPerMonitorAware &&
      SUCCEEDED(monitor_dpi(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), 0, &x, &y)) &&
      y != 0)
    return y;
  return glimmerix::win32::WindowDpi(window);
}

int CompareLayout(HWND main, UINT dpi) {
  Children children;
  children.main = main;
  EnumChildWindows(main, AddChild, reinterpret_cast<LPARAM>(&children));
  int mismatches = 0;
  const auto mismatch = [&](const std::string& what) {
    std::printf("%s\n", what.c_str());
    ++mismatches;
  };
  if (children.unnumbered > 0)
    mismatch(std::to_string(children.unnumbered) + " child windows share a control id");
  std::map<int, bool> expected;
  for (const shell::ControlDef& def : shell::MainWindowControls()) {
    if (def.kind == ControlKind::kPicture || def.kind == ControlKind::kNone) continue;
    expected[def.gadget] = true;
    const auto found = children.by_id.find(def.gadget);
    if (found == children.by_id.end()) {
      mismatch(NameOf(def) + ": missing");
      continue;
    }
    const Child& c = found->second;
    if (_stricmp(c.window_class.c_str(), ClassOf(def.kind)) != 0)
      mismatch(NameOf(def) + ": class " + c.window_class + ", not " + ClassOf(def.kind));
    // The status text and the preset list change with the program's state.
    if (def.gadget != gadget::kStatusText && def.kind != ControlKind::kList &&
        c.caption != def.caption)
      mismatch(NameOf(def) + ": caption \"" + c.caption + "\"");
    const RECT& r = c.rect;
    const RECT want = ScaledRect(def.x, def.y, def.w, def.h, dpi);
    const bool list = def.kind == ControlKind::kList;
    if (r.left != want.left || r.top != want.top || r.right != want.right ||
        (!list && r.bottom != want.bottom)) {
      char text[160];
      std::snprintf(text, sizeof text, ": at %ld,%ld %ldx%ld, not %ld,%ld %ldx%ld", r.left, r.top,
                    r.right - r.left, r.bottom - r.top, want.left, want.top, want.right - want.left,
                    want.bottom - want.top);
      mismatch(NameOf(def) + text);
    }
    // A closed drop-down list is as high as the system makes it, but stays within its row.
    const long height = want.bottom - want.top;
    if (list && (r.bottom - r.top < height - ScaleToDpi(4, dpi) ||
                 r.bottom - r.top > height + ScaleToDpi(6, dpi)))
      mismatch(NameOf(def) + ": closed height " + std::to_string(r.bottom - r.top));
  }
  for (const auto& [id, child] : children.by_id)
    if (!expected.count(id))
      mismatch("control " + std::to_string(id) + " (" + child.window_class + " \"" + child.caption +
               "\"): not in the layout table");

  RECT client{};
  GetClientRect(main, &client);
  const int height = ScaleToDpi(shell::kInnerHeight, dpi);
  if (client.bottom != height || (client.right != ScaleToDpi(shell::kNarrowWidth, dpi) &&
                                  client.right != ScaleToDpi(shell::kWideWidth, dpi)))
    mismatch("client area " + std::to_string(client.right) + "x" + std::to_string(client.bottom) +
             ": neither " + std::to_string(ScaleToDpi(shell::kNarrowWidth, dpi)) + "x" +
             std::to_string(height) + " nor " + std::to_string(ScaleToDpi(shell::kWideWidth, dpi)) +
             "x" + std::to_string(height));

  // The columns: dark in the middle, the window's background just right of each.
  HDC dc = GetDC(main);
  const COLORREF background = GetSysColor(COLOR_BTNFACE);
  for (int column = 0; column < glimmerix::kChannels; ++column) {
    const shell::ControlDef* def = shell::FindControl(gadget::kFirstColumn + column);
    const RECT r = ScaledRect(def->x, def->y, def->w, def->h, dpi);
    const int middle = (r.top + r.bottom) / 2;
    const COLORREF inside = GetPixel(dc, (r.left + r.right) / 2, middle);
    const COLORREF beside = GetPixel(dc, r.right, middle);
    if (inside != RGB(0, 0, 0) || beside != background) {
      char text[120];
      std::snprintf(text, sizeof text, "column %d: inside 0x%06lx, beside 0x%06lx", column + 1,
                    inside, beside);
      mismatch(text);
    }
  }
  ReleaseDC(main, dc);
  std::printf("controls=%zu mismatches=%d client=%ldx%ld dpi=%u screen-dpi=%u\n",
              children.by_id.size(), mismatches, client.right, client.bottom, DpiOfWindow(main),
              glimmerix::win32::ScreenDpi());
  return mismatches == 0 ? 0 : 1;
}

struct ModeButton {
  const char* name;
  int id;
  int mode;
};
constexpr ModeButton kModeButtons[] = {{"Manual", gadget::kManualButton, 1},
                                       {"Auto", gadget::kAutoButton, 2},
                                       {"Rnd", gadget::kRndButton, 3}};

// The buttons' check states in kModeButtons' order; false when one could not be read.
bool ReadModeButtons(HWND main, DWORD_PTR (&states)[3]) {
  for (int i = 0; i < 3; ++i) {
    HWND button = GetDlgItem(main, kModeButtons[i].id);
    if (!button ||
        !SendMessageTimeoutW(button, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, kTimeoutMs, &states[i]))
      return false;
  }
  return true;
}

int PrintModes(HWND main) {
  DWORD_PTR states[3] = {};
  if (!ReadModeButtons(main, states)) return 1;
  std::printf("Manual=%d Auto=%d Rnd=%d\n", static_cast<int>(states[0]),
              static_cast<int>(states[1]), static_cast<int>(states[2]));
  return 0;
}

int WatchModes(HWND main, int milliseconds) {
  std::string seen;
  int last = 0, candidate = 0, agreeing = 0;
  for (DWORD start = GetTickCount(); GetTickCount() - start < static_cast<DWORD>(milliseconds);
       Sleep(10)) {
    DWORD_PTR states[3] = {};
    if (!ReadModeButtons(main, states)) return 1;
    int mode = 0;
    for (int i = 0; i < 3; ++i)
      if (states[i] == BST_CHECKED) mode = mode == 0 ? kModeButtons[i].mode : -1;
    agreeing = mode == candidate ? agreeing + 1 : 1;
    candidate = mode;
    if (agreeing == 2 && mode > 0 && mode != last) {
      seen += (seen.empty() ? "" : " ") + std::to_string(mode);
      last = mode;
    }
  }
  std::printf("%s\n", seen.c_str());
  return 0;
}

int PrintKeysDown() {
  const std::pair<const char*, int> keys[] = {{"Shift", VK_SHIFT}, {"Alt", VK_MENU}, {"F5", VK_F5},
                                              {"F6", VK_F6},       {"F7", VK_F7},    {"F8", VK_F8}};
  std::string down;
  for (const auto& [name, vk] : keys)
    if (GetAsyncKeyState(vk) & 0x8000) down += (down.empty() ? "" : " ") + std::string(name);
  std::printf("%s\n", down.c_str());
  return 0;
}

// What WM_DPICHANGED brings when the window is dragged from a screen of old_dpi onto one of
// new_dpi: the new DPI and a frame for the client area scaled, its corner kept. The rectangle is
// written into the program's memory, since the message's pointer is not carried across processes.
int SendDpiChanged(HWND window, UINT old_dpi, UINT new_dpi) {
  RECT frame{}, client{};
  GetWindowRect(window, &frame);
  GetClientRect(window, &client);
  // The border around the client area stays as it is: under Wine the window stays on its one
  // screen, whose DPI sets the frame's caption and edges.
  const int border_w = frame.right - frame.left - client.right;
  const int border_h = frame.bottom - frame.top - client.bottom;
  const RECT suggested{
      frame.left, frame.top,
      frame.left + border_w +
          MulDiv(client.right, static_cast<int>(new_dpi), static_cast<int>(old_dpi)),
      frame.top + border_h +
          MulDiv(client.bottom, static_cast<int>(new_dpi), static_cast<int>(old_dpi))};
  DWORD process_id = 0;
  GetWindowThreadProcessId(window, &process_id);
  HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, process_id);
  if (!process) return 1;
  void* remote = VirtualAllocEx(process, nullptr, sizeof suggested, MEM_COMMIT, PAGE_READWRITE);
  DWORD_PTR result = 0;
  const bool sent =
      remote && WriteProcessMemory(process, remote, &suggested, sizeof suggested, nullptr) &&
      SendMessageTimeoutW(window, WM_DPICHANGED, MAKEWPARAM(new_dpi, new_dpi),
                          reinterpret_cast<LPARAM>(remote), SMTO_ABORTIFHUNG, kTimeoutMs, &result);
  if (remote) VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  CloseHandle(process);
  GetWindowRect(window, &frame);
  std::printf("suggested=%ld,%ld %ldx%ld frame=%ld,%ld %ldx%ld\n", suggested.left, suggested.top,
              suggested.right - suggested.left, suggested.bottom - suggested.top, frame.left,
              frame.top, frame.right - frame.left, frame.bottom - frame.top);
  return sent ? 0 : 1;
}

}  // namespace

BOOL CALLBACK PrintChild(HWND child, LPARAM parent) {
  if (GetParent(child) != reinterpret_cast<HWND>(parent)) return TRUE;
  RECT r{};
  GetWindowRect(child, &r);
  MapWindowPoints(nullptr, reinterpret_cast<HWND>(parent), reinterpret_cast<POINT*>(&r), 2);
  std::printf("%d %ld,%ld %ldx%ld\n", GetDlgCtrlID(child), r.left, r.top, r.right - r.left,
              r.bottom - r.top);
  return TRUE;
}

int PrintChildren(HWND window) {
  RECT client{};
  GetClientRect(window, &client);
  std::printf("client=%ldx%ld\n", client.right, client.bottom);
  EnumChildWindows(window, PrintChild, reinterpret_cast<LPARAM>(window));
  return 0;
}

// The program's shown top-level window titled title; null when there is none.
HWND ShownWindowTitled(const char* title) {
  HWND window = FindWindowA(nullptr, title);
  return window && IsWindowVisible(window) ? window : nullptr;
}

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  BecomeDpiAware();
  if (std::strcmp(argv[1], "keys") == 0) return PrintKeysDown();
  if (argc == 3 && std::strcmp(argv[1], "children") == 0) {
    HWND window = ShownWindowTitled(argv[2]);
    return window ? PrintChildren(window) : 1;
  }
  if (argc == 5 && std::strcmp(argv[1], "dpi-changed") == 0) {
    HWND window = ShownWindowTitled(argv[4]);
    return window ? SendDpiChanged(window, static_cast<UINT>(std::atoi(argv[2])),
                                   static_cast<UINT>(std::atoi(argv[3])))
                  : 1;
  }
  HWND main = FindWindowW(L"GlimmerixMain", nullptr);
  if (!main || !IsWindowVisible(main)) return 1;
  if (std::strcmp(argv[1], "layout") == 0)
    return CompareLayout(main,
                         argc >= 3 ? static_cast<UINT>(std::atoi(argv[2])) : DpiOfWindow(main));
  if (argc == 4 && std::strcmp(argv[1], "dpi-changed") == 0)
    return SendDpiChanged(main, static_cast<UINT>(std::atoi(argv[2])),
                          static_cast<UINT>(std::atoi(argv[3])));
  if (std::strcmp(argv[1], "modes") == 0) return PrintModes(main);
  if (argc == 3 && std::strcmp(argv[1], "watch-modes") == 0)
    return WatchModes(main, std::atoi(argv[2]));
  return 2;
}
