// What the program core asks of a front-end (the Qt one on Linux, a native one elsewhere), and
// what it is told back.
//
// Threads: the core calls a FrontEnd on the main (GUI) thread only. The links are the exceptions:
// the engine thread calls them during its pass, so they must neither block nor allocate.
#pragma once

#include <string>
#include <vector>

#include "engine/controls.h"
#include "engine/engine.h"
#include "engine/ports.h"

namespace glimmerix {

// The three documents the Help menu and "About" open, each in a viewer window of its own; the
// value is the viewer's window number.
enum class Document { kDevelopers = 1, kSettings = 2, kHistory = 3 };

// The tray menu's commands, in the menu's order.
enum class MenuCommand {
  kOpen,
  kHide,
  kController,
  kSettingsHelp,
  kHistoryHelp,
  kDmx,
  kAbout,
  kExit
};

// One entry of the tray menu's "Input" submenu.
struct InputMenuEntry {
  std::string text;
  bool ticked = false;  // the input chosen
  bool enabled = true;  // false: greyed, tooltip says why
  std::string tooltip;  // empty: none
  bool separator_before = false;
  bool operator==(const InputMenuEntry&) const = default;
};

// Where the engine's changes go: every control change (the control table's observer), every
// column drawn, every simulated button click (the mode hot keys). Not owned.
struct FrontEndLinks {
  ControlObserver* controls = nullptr;
  ColumnSink* columns = nullptr;
  ClickPoster* clicks = nullptr;
};

class FrontEnd {
 public:
  virtual ~FrontEnd() = default;

  // Start-up: the main window with every control, hidden, its outer frame's corner at
  // (frame_x, frame_y) or, where that leaves its title bar off every screen, brought back onto
  // one; then the tray icon with its menu.
  virtual void CreateWindowAndTray(int frame_x, int frame_y) = 0;
  // The "File missing!" box with this text; returns once the user has dismissed it (or at once
  // where nobody could see it, after saying the text where a headless run's owner looks).
  virtual void ShowFileMissing(const std::string& text) = 0;
  // From now on, calls ProgramCore::TimerTick every interval_ms.
  virtual void StartTimer(int interval_ms) = 0;

  // Whether windows can be seen at all (false when running headless).
  virtual bool HasDesktop() const = 0;
  // Whether the tray icon shows in a tray the user sees.
  virtual bool TrayIconShows() const = 0;

  virtual void ShowMainWindow() = 0;  // shown, not minimised, raised, on a screen
  virtual void HideMainWindow() = 0;
  virtual void ToggleMainWindowWidth() = 0;  // "<>"
  // The pressed look of the mode buttons: the one of mode (kModeManual...) pressed, the others
  // not; none for kModeNone.
  virtual void ShowMode(int mode) = 0;
  virtual void OpenViewer(Document document) = 0;
  virtual void OpenControllerDialog() = 0;
  // The DMX output's settings (ProgramCore::dmx_settings, ApplyDmxSettings, dmx_status).
  virtual void OpenDmxDialog() = 0;
  virtual void SetTrayToolTip(const std::string& text) = 0;
  // The "Input" submenu's entries, replacing those shown; choosing entry i calls
  // ProgramCore::InputChosen(i).
  virtual void ShowInputChoices(const std::vector<InputMenuEntry>& entries) = 0;

  // The end: the timer stopped, every window and the tray icon gone, the event loop told to end.
  virtual void Quit() = 0;
};

}  // namespace glimmerix
