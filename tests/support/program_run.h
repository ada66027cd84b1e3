// One run of the real program for an end-to-end test: a fresh folder holding a copy of the
// program (and, unless told otherwise, the recording parallel-port plug-in), used as its current
// folder; a fake USB controller; the X display seen through Xlib; the shell's tools (xdotool,
// import, paplay) for what a user or the sound card would do.
#pragma once

#include <sys/types.h>

#include <QColor>
#include <QImage>
#include <QRect>
#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/fake_hid_tree.h"

struct _XDisplay;

// Points as "(x, y)" in test failures.
inline void PrintTo(const QPoint& p, std::ostream* out) {
  *out << "(" << p.x() << ", " << p.y() << ")";
}

namespace glimmerix::e2e {

using Window = unsigned long;  // an X window id

using testing::kPid;  // the fake controller's identifiers
using testing::kVid;

// Polls pred every 20 ms until it holds or timeout passes.
bool WaitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout);
// Runs a shell command; its exit status.
int Shell(const std::string& command);
// Gives the window the keyboard focus as a user's click would: through the window manager, or
// directly where none runs.
void Focus(Window w);
// A picture of the whole screen as NAME.png in the folder $GLIMMERIX_TEST_SHOTS, when that is set
// (kept by CI to show what the tests saw).
void SaveScreenshot(const std::string& name);
// Opens the tray icon's menu (a right click) and picks an item with the keys given, e.g.
// "Down Down Return".
void PickFromTrayMenu(Window icon, const std::string& keys);

class ProgramRun {
 public:
  explicit ProgramRun(bool with_library = true);
  ~ProgramRun();  // kills a program still running, removes the folder

  // Files of the program's folder. Write() ends every line with CR LF.
  void Write(const std::string& name, const std::vector<std::string>& lines) const;
  std::string Read(const std::string& name) const;
  std::vector<std::string> Keys(const std::string& name) const;  // data lines' keys, in order
  std::string Value(const std::string& name, const std::string& key) const;
  bool Exists(const std::string& name) const;

  void Start();  // again too, once the earlier run ended
  // The exit status once the program ended within timeout, else nullopt.
  std::optional<int> WaitExit(std::chrono::milliseconds timeout);
  void Signal(int signo) const;
  pid_t pid() const { return pid_; }

  // The fake controller's received reports (2 bytes each: report number, command).
  std::vector<std::uint8_t> Reports() const { return hid_.Received(0); }
  // The parallel-port writes: (address, value) in order.
  std::vector<std::pair<int, int>> LptWrites() const;

  std::filesystem::path folder;

 private:
  testing::FakeHidTree hid_;
  pid_t pid_ = -1;
  bool exited_ = false;
};

// What shows that the run did not switch everything off last (the controller's three all-off
// reports, then the parallel port's all-off values); empty when it did.
std::string NotSwitchedOffLast(const ProgramRun& run);

// The display, read directly.
class Display {
 public:
  Display();
  ~Display();
  bool ok() const { return d_ != nullptr; }

  // Windows of the class "glimmerix", anywhere in the tree.
  std::vector<Window> ProgramWindows();
  // The embedded tray icons of the program (reparented into the tray, viewable; not a window the
  // window manager framed).
  std::vector<Window> TrayIcons();
  // A tool tip of the program once one shows, within timeout; 0 when none did.
  Window WaitForToolTip(std::chrono::milliseconds timeout);
  // The first tray icon of the program once one shows, within timeout; 0 when none did.
  Window WaitForTrayIcon(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // The program's top-level window (not a tool tip, menu or tray icon) with this exact title,
  // if mapped; 0 when none.
  Window MappedWindow(const std::string& title);
  // Any window (mapped or not) with this exact title; 0 when none.
  Window AnyWindow(const std::string& title);
  std::string Title(Window w);
  // The window's _NET_WM_WINDOW_TYPE names, e.g. "_NET_WM_WINDOW_TYPE_TOOLTIP".
  std::vector<std::string> Types(Window w);
  bool HasType(Window w, const std::string& type);
  bool Viewable(Window w);
  // Outer position on the screen and inner size.
  QRect Geometry(Window w);
  // The top-level window holding w (the window manager's frame, or w itself without one): its
  // outer corner on the screen and its outer size, borders included.
  QRect Frame(Window w);
  QImage Grab(Window w);
  // One pixel of a window, inner coordinates.
  QColor Pixel(Window w, int x, int y);
  // Caps Lock bit 0, Num Lock bit 1, Scroll Lock bit 2 of the keyboard's lamps.
  unsigned Lamps();

 private:
  void Walk(Window w, const std::function<void(Window)>& visit);
  _XDisplay* d_ = nullptr;
};

}  // namespace glimmerix::e2e
