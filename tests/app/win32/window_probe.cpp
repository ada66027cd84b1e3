// window_probe.exe: reads the running glimmerix.exe's main window from outside, as a user sees it.
//   layout   compares the window's child controls with the layout table (control id, class,
//            caption, rectangle in the window's client area; a drop-down list by its left, top
//            and width, its closed height being the system's) and looks at the 18 spectrum
//            columns the window paints (dark columns with the window's background between them);
//            prints one line per mismatch, naming the control
//   modes    prints the mode buttons' states: "Manual=1 Auto=0 Rnd=0"
//   watch-modes MS  reads the mode buttons every 10 ms for MS milliseconds and prints the modes
//            shown, in turn, as numbers (1 Manual, 2 Auto, 3 Rnd): "1 3 2 1"; a mode counts once
//            two readings in a row agree (the three buttons are read one after the other, so a
//            reading across a change shows none or two checked)
//   keys     prints the hot keys Wine holds down now (GetAsyncKeyState): "Shift Alt F5" ...
// Exit code 0 when everything matched (layout) or was read (modes), 1 on a mismatch or when the
// window is not shown, 2 for an unknown argument.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "engine/controls.h"
#include "program/window_layout.h"

namespace {

using glimmerix::ControlKind;
namespace gadget = glimmerix::gadget;
namespace shell = glimmerix::shell;

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

int CompareLayout(HWND main) {
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
    const bool list = def.kind == ControlKind::kList;
    if (r.left != def.x || r.top != def.y || r.right - r.left != def.w ||
        (!list && r.bottom - r.top != def.h)) {
      char text[160];
      std::snprintf(text, sizeof text, ": at %ld,%ld %ldx%ld, not %d,%d %dx%d", r.left, r.top,
                    r.right - r.left, r.bottom - r.top, def.x, def.y, def.w, def.h);
      mismatch(NameOf(def) + text);
    }
    // A closed drop-down list is as high as the system makes it, but stays within its row.
    if (list && (r.bottom - r.top < def.h - 4 || r.bottom - r.top > def.h + 6))
      mismatch(NameOf(def) + ": closed height " + std::to_string(r.bottom - r.top));
  }
  for (const auto& [id, child] : children.by_id)
    if (!expected.count(id))
      mismatch("control " + std::to_string(id) + " (" + child.window_class + " \"" + child.caption +
               "\"): not in the layout table");

  // The columns: dark in the middle, the window's background just right of each.
  HDC dc = GetDC(main);
  const COLORREF background = GetSysColor(COLOR_BTNFACE);
  for (int column = 0; column < glimmerix::kChannels; ++column) {
    const shell::ControlDef* def = shell::FindControl(gadget::kFirstColumn + column);
    const COLORREF inside = GetPixel(dc, def->x + def->w / 2, def->y + def->h / 2);
    const COLORREF beside = GetPixel(dc, def->x + def->w, def->y + def->h / 2);
    if (inside != RGB(0, 0, 0) || beside != background) {
      char text[120];
      std::snprintf(text, sizeof text, "column %d: inside 0x%06lx, beside 0x%06lx", column + 1,
                    inside, beside);
      mismatch(text);
    }
  }
  ReleaseDC(main, dc);
  std::printf("controls=%zu mismatches=%d\n", children.by_id.size(), mismatches);
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

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  if (std::strcmp(argv[1], "keys") == 0) return PrintKeysDown();
  HWND main = FindWindowW(L"GlimmerixMain", nullptr);
  if (!main || !IsWindowVisible(main)) return 1;
  if (std::strcmp(argv[1], "layout") == 0) return CompareLayout(main);
  if (std::strcmp(argv[1], "modes") == 0) return PrintModes(main);
  if (argc == 3 && std::strcmp(argv[1], "watch-modes") == 0)
    return WatchModes(main, std::atoi(argv[2]));
  return 2;
}
