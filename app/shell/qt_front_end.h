// The Qt front-end: the main window built from the layout table, the tray icon and its menu, the
// document viewers and the controller dialog, over the toolkit-free program core. It shows what
// the control table holds and forwards every event of its windows, menu, tray icon, timer,
// signals and second starts to the core.
//
// Threads: GUI (main) thread only. The engine thread reaches the widgets only through the
// GuiBridge, drained here when its eventfd wakes the event loop.
#pragma once

#include <QObject>
#include <memory>
#include <string>
#include <vector>

#include "app/shell/gui_bridge.h"
#include "app/viewers/document_viewers.h"
#include "program/front_end.h"
#include "program/program_core.h"

class QMenu;
class QSocketNotifier;
class QSystemTrayIcon;
class QTimer;
class QWidget;

namespace glimmerix::shell {

class ControllerDialog;
class DmxDialog;
class MainWindow;
class ShowRequests;

class QtFrontEnd : public QObject, public FrontEnd, private GuiBridge::Consumer {
  Q_OBJECT

 public:
  // signal_fd: the read end of the termination-signal pipe (-1: none). show_requests: a second
  // start's requests to show the window (nullptr: none); not owned, must outlive this object.
  QtFrontEnd(std::string program_folder, int signal_fd, ShowRequests* show_requests = nullptr);
  ~QtFrontEnd() override;

  // The program's start-up (ProgramCore::Start). False when the program is to end at once; the
  // caller then returns 0 without running the event loop.
  bool Start();

  // FrontEnd
  void CreateWindowAndTray(int frame_x, int frame_y) override;
  void ShowFileMissing(const std::string& text) override;
  void StartTimer(int interval_ms) override;
  bool HasDesktop() const override;
  bool TrayIconShows() const override;
  void ShowMainWindow() override;
  void HideMainWindow() override;
  void ToggleMainWindowWidth() override;
  void ShowMode(int mode) override;
  void OpenViewer(Document document) override;
  void OpenControllerDialog() override;
  void OpenDmxDialog() override;
  void SetTrayToolTip(const std::string& text) override;
  void ShowInputChoices(const std::vector<InputMenuEntry>& entries) override;
  void Quit() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // GuiBridge::Consumer
  void ControlChanged(int gadget) override;
  void ColumnChanged(int column, float band_value, int lamp) override;
  void ButtonClicked(int gadget) override;

  void OnSignal();
  // Moves the shown main window's outer frame back onto a screen when its title bar is off every
  // one.
  void KeepMainWindowOnScreen();
  bool IsMainWindow(QObject* object) const;
  void SaveMainWindowCorner();

  GuiBridge bridge_;
  std::unique_ptr<ProgramCore> core_;

  std::unique_ptr<MainWindow> window_;
  DocumentViewers viewers_;
  std::unique_ptr<ControllerDialog> controller_dialog_;  // made when first opened
  std::unique_ptr<DmxDialog> dmx_dialog_;                // made when first opened
  QSystemTrayIcon* tray_ = nullptr;
  QMenu* menu_ = nullptr;
  QMenu* input_menu_ = nullptr;  // "Input", inside menu_
  QTimer* timer_ = nullptr;
  QSocketNotifier* bridge_notifier_ = nullptr;
  QSocketNotifier* signal_notifier_ = nullptr;
  int signal_fd_ = -1;
  ShowRequests* show_requests_ = nullptr;
  QSocketNotifier* show_notifier_ = nullptr;
};

}  // namespace glimmerix::shell
