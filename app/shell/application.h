// The program: start-up in its fixed order, the tray icon and menu, the handling of every window,
// menu, timer and control event, and the close and exit paths that save the settings and switch
// every output off.
//
// Threads: an Application lives on the GUI (main) thread and is used there only. It owns the one
// engine thread, which it starts last in Start() and stops (request_stop, interrupt its sleep,
// join) on the way out, before the outputs get their all-off values. Everything the two threads
// share is the ControlTable, EngineShared and the outputs, each thread-safe on its own; the
// engine reaches the widgets only through the GuiBridge.
#pragma once

#include <QObject>
#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "app/shell/gui_bridge.h"
#include "app/viewers/document_viewers.h"
#include "engine/capture/audio_capture.h"
#include "engine/controls.h"
#include "engine/engine.h"
#include "engine/realtime.h"
#include "outputs/linux/parallel_port.h"
#include "outputs/linux/x11_keyboard.h"
#include "outputs/usb_controller.h"
#include "presets/presets.h"

class QMenu;
class QSocketNotifier;
class QSystemTrayIcon;
class QTimer;
class QWidget;

namespace glimmerix::shell {

class ControllerDialog;
class MainWindow;
class ShowRequests;

class Application : public QObject, private GuiBridge::Consumer {
  Q_OBJECT

 public:
  // signal_fd: the read end of the termination-signal pipe (-1: none). show_requests: a second
  // start's requests to show the window (nullptr: none); not owned, must outlive this object.
  Application(std::string program_folder, int signal_fd, ShowRequests* show_requests = nullptr);
  ~Application() override;

  // Start-up, in its fixed order, the engine thread last. False when the program is to end at once
  // (no libinpout32.so, after the user dismissed the message); the caller then returns 0 without
  // running the event loop.
  bool Start();

  // The window paths, also reached through the menu, signals and a second start.
  void ShowMainWindow();
  void HideMainWindow();
  // Close request of any program window: the close-path saves, then Finish().
  void CloseRequest();
  // The menu command "Exit", a termination signal or the end of the session.
  void ExitCommand();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // GuiBridge::Consumer
  void ControlChanged(int gadget) override;
  void ColumnChanged(int column, float band_value, int lamp) override;
  void ButtonClicked(int gadget) override;

  void OnGadget(int gadget);
  void OnSignal();
  void OpenViewer(Document document);
  void OpenControllerDialog();
  // The user chose the controller with these identifiers: saved as VID and PID, and looked for.
  void UseController(int vid, int pid);
  // Sets the tray icon's tool tip from the program's state, when it has changed.
  void RefreshTrayToolTip();
  // Moves the shown main window's outer frame back onto a screen when its title bar is off every
  // one.
  void KeepMainWindowOnScreen();
  bool IsProgramWindow(QObject* object) const;
  // Both ways out end here: closing raised, the engine stopped, every output off, the lock lamps
  // given back, the library released, the windows and the tray icon gone, the event loop told to
  // end.
  void Finish();
  void StopEngine();
  // The process is ending through exit() without either way out having run (Xlib ends the
  // process when the X server goes away, as at logout): the outputs are switched off all the
  // same, and from the main thread the exit-path saves are made first. Runs from atexit(), on
  // whichever thread called exit().
  void EmergencyStop();
  static void AtProcessExit();

  std::string program_folder_;

  ControlTable table_;
  EngineShared shared_;
  std::atomic<int> flag_wr_{0};  // main thread only; atomic because Presets takes it so
  Presets presets_{table_, shared_, flag_wr_};
  GuiBridge bridge_;

  Inpout32Library library_;  // library 1
  std::unique_ptr<LptPort> lpt_;
  UsbController usb_{table_, shared_};
  X11KeyboardLamps lamps_;         // main thread: lock states saved and given back
  X11KeyboardLamps engine_lamps_;  // engine thread: the lamps as light channels
  X11HotKeys hot_keys_;            // engine thread
  AudioCapture capture_;
  Mt19937Random random_;
  InterruptibleSleeper sleeper_;
  std::unique_ptr<Engine> engine_;
  std::jthread engine_thread_;

  std::unique_ptr<MainWindow> window_;                   // window 0
  DocumentViewers viewers_;                              // windows 1 to 3
  std::unique_ptr<ControllerDialog> controller_dialog_;  // made when first opened
  QSystemTrayIcon* tray_ = nullptr;                      // tray icon 25
  QMenu* menu_ = nullptr;                                // pop-up menu 26
  QTimer* timer_ = nullptr;                              // timer 2
  QSocketNotifier* bridge_notifier_ = nullptr;
  QSocketNotifier* signal_notifier_ = nullptr;
  int signal_fd_ = -1;
  ShowRequests* show_requests_ = nullptr;
  QSocketNotifier* show_notifier_ = nullptr;
  std::string tray_tool_tip_;  // what the tray icon's tool tip says now

  int start_x_ = 0, start_y_ = 0;  // the main window's outer frame at start-up
  // Finish() ran: later close events come from Qt, not the user. Atomic for EmergencyStop().
  std::atomic<bool> finished_{false};
};

}  // namespace glimmerix::shell
