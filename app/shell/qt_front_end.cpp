#include "app/shell/qt_front_end.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QSocketNotifier>
#include <QSystemTrayIcon>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

#include "app/shell/app_icon.h"
#include "app/shell/controller_dialog.h"
#include "app/shell/dmx_dialog.h"
#include "app/shell/main_window.h"
#include "app/shell/process.h"
#include "engine/capture/audio_capture.h"
#include "engine/realtime.h"
#include "outputs/system_outputs.h"
#include "program/window_layout.h"
#include "program/window_placement.h"

namespace glimmerix::shell {
namespace {

// Time given the window manager to frame a window shown again before its frame is looked at.
constexpr int kFrameSettleMs = 200;

std::vector<ScreenRect> ScreenRects() {
  std::vector<ScreenRect> screens;
  for (const QScreen* screen : QGuiApplication::screens()) {
    const QRect g = screen->geometry();
    screens.push_back({g.x(), g.y(), g.width(), g.height()});
  }
  return screens;
}

bool Headless() {
  return QGuiApplication::platformName() == QLatin1String("offscreen");
}

}  // namespace

QtFrontEnd::QtFrontEnd(std::string program_folder, int signal_fd, ShowRequests* show_requests)
    : signal_fd_(signal_fd), show_requests_(show_requests) {
  core_ = std::make_unique<ProgramCore>(std::move(program_folder), *this,
                                        FrontEndLinks{&bridge_, &bridge_, &bridge_},
                                        OpenSystemOutputs(), std::make_unique<AudioCapture>(),
                                        std::make_unique<Mt19937Random>(std::random_device{}()));
}

QtFrontEnd::~QtFrontEnd() {
  qApp->removeEventFilter(this);
  controller_dialog_.reset();  // its light test, if running, gives the outputs back to the core
  dmx_dialog_.reset();
  core_.reset();  // the engine stopped before the widgets it reports to go
  delete bridge_notifier_;
  delete signal_notifier_;
  delete show_notifier_;
  delete tray_;
  delete menu_;
}

bool QtFrontEnd::Start() {
  // A signal ends the program at any point from here, the "File missing!" box included.
  if (signal_fd_ >= 0) {
    signal_notifier_ = new QSocketNotifier(signal_fd_, QSocketNotifier::Read, this);
    connect(signal_notifier_, &QSocketNotifier::activated, this, &QtFrontEnd::OnSignal);
  }
  return core_->Start();
}

void QtFrontEnd::ShowFileMissing(const std::string& text) {
  if (Headless()) {
    // Nobody could see or dismiss a box: say it where a headless run's owner looks.
    std::fprintf(stderr, "File missing! %s\n", text.c_str());
    return;
  }
  QMessageBox box(QMessageBox::Critical, QStringLiteral("File missing!"),
                  QString::fromStdString(text), QMessageBox::Ok);
  box.setWindowIcon(AppIcon());
  box.exec();
}

void QtFrontEnd::CreateWindowAndTray(int frame_x, int frame_y) {
  // A saved corner that would leave the title bar off every screen (a screen since made smaller
  // or removed) is brought back, the frame's size estimated as the window manager has not told it.
  const FramePoint corner =
      PlaceFrame({frame_x, frame_y}, kNarrowWidth + 2 * kFrameBorder,
                 kInnerHeight + kTitleBarHeight + kFrameBorder, ScreenRects());
  window_ = std::make_unique<MainWindow>(core_->controls(), QPoint(corner.x, corner.y));
  window_->setWindowIcon(AppIcon());
  connect(window_.get(), &MainWindow::gadgetEvent, this, [this](int g) { core_->GadgetEvent(g); });
  connect(
      window_.get(), &MainWindow::minimised, this, [this] { core_->WindowMinimised(); },
      Qt::QueuedConnection);

  menu_ = new QMenu();
  const auto command = [this](MenuCommand c) { return [this, c] { core_->MenuCommandChosen(c); }; };
  menu_->addAction(QStringLiteral("Open"), this, command(MenuCommand::kOpen));
  menu_->addAction(QStringLiteral("Hide"), this, command(MenuCommand::kHide));
  input_menu_ = menu_->addMenu(QStringLiteral("Input"));
  input_menu_->setToolTipsVisible(true);
  menu_->addAction(QStringLiteral("Controller..."), this, command(MenuCommand::kController));
  QMenu* help = menu_->addMenu(QStringLiteral("Help"));
  help->addAction(QStringLiteral("Settings"), this, command(MenuCommand::kSettingsHelp));
  help->addAction(QStringLiteral("History"), this, command(MenuCommand::kHistoryHelp));
  menu_->addAction(QStringLiteral("DMX..."), this, command(MenuCommand::kDmx));
  menu_->addAction(QStringLiteral("About"), this, command(MenuCommand::kAbout));
  menu_->addSeparator();
  menu_->addAction(QStringLiteral("Exit"), this, command(MenuCommand::kExit));

  // Headless there is no tray to show an icon in.
  if (!Headless()) {
    tray_ = new QSystemTrayIcon(AppIcon());
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
      if (r == QSystemTrayIcon::Trigger) core_->TrayIconClicked();
    });
    tray_->setContextMenu(menu_);
    tray_->show();
  }

  // The engine's changes reach the widgets through the bridge.
  if (bridge_.wake_fd() >= 0) {
    bridge_notifier_ = new QSocketNotifier(bridge_.wake_fd(), QSocketNotifier::Read, this);
    connect(bridge_notifier_, &QSocketNotifier::activated, this, [this] { bridge_.Drain(*this); });
  }
  // A second start asks for the window.
  if (show_requests_ != nullptr && show_requests_->read_fd() >= 0) {
    show_notifier_ = new QSocketNotifier(show_requests_->read_fd(), QSocketNotifier::Read, this);
    connect(show_notifier_, &QSocketNotifier::activated, this, [this] {
      if (show_requests_->Take()) core_->MenuCommandChosen(MenuCommand::kOpen);
    });
  }
  // A viewer closes itself on a close request; its moves count as the main window's would.
  connect(&viewers_, &DocumentViewers::moved, this, &QtFrontEnd::SaveMainWindowCorner);
  connect(qApp, &QGuiApplication::commitDataRequest, this, [this] { core_->ExitCommand(); });
  connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { core_->ExitCommand(); });
  qApp->installEventFilter(this);
}

void QtFrontEnd::StartTimer(int interval_ms) {
  timer_ = new QTimer(this);
  connect(timer_, &QTimer::timeout, this, [this] { core_->TimerTick(); });
  timer_->start(interval_ms);
}

bool QtFrontEnd::HasDesktop() const {
  return !Headless();
}

bool QtFrontEnd::TrayIconShows() const {
  return tray_ != nullptr && QSystemTrayIcon::isSystemTrayAvailable();
}

void QtFrontEnd::ControlChanged(int g) {
  if (window_) window_->Refresh(g);
}

void QtFrontEnd::ColumnChanged(int column, float band_value, int lamp) {
  if (window_) window_->ShowColumn(column, band_value, lamp);
}

void QtFrontEnd::ButtonClicked(int g) {
  if (core_->finished() || !window_) return;
  if (QAbstractButton* b = window_->button(g)) b->click();
}

void QtFrontEnd::KeepMainWindowOnScreen() {
  // Only a window on the screen has a frame whose size the window manager has told; a move then
  // places the frame's corner.
  if (core_->finished() || !window_->isVisible()) return;
  // The frame's size may still be unknown (a slow window manager): then it is estimated.
  const QRect frame = window_->frameGeometry();
  const int width = std::max(frame.width(), window_->width() + 2 * kFrameBorder);
  const int height = std::max(frame.height(), window_->height() + kTitleBarHeight + kFrameBorder);
  const FramePoint corner = PlaceFrame({frame.x(), frame.y()}, width, height, ScreenRects());
  if (QPoint(corner.x, corner.y) != frame.topLeft()) window_->move(corner.x, corner.y);
}

void QtFrontEnd::ShowMainWindow() {
  window_->show();
  window_->setWindowState(window_->windowState() & ~Qt::WindowMinimized);
  window_->raise();
  window_->activateWindow();
  // Once the window manager has framed it (again).
  QTimer::singleShot(kFrameSettleMs, this, [this] { KeepMainWindowOnScreen(); });
}

void QtFrontEnd::HideMainWindow() {
  if (!window_) return;
  window_->hide();
  // A window never shown gets no hide event.
  bridge_.set_window_shown(false);
}

void QtFrontEnd::ToggleMainWindowWidth() {
  window_->ToggleWidth();
}

void QtFrontEnd::ShowMode(int mode) {
  if (window_) window_->ShowMode(mode);
}

void QtFrontEnd::OpenViewer(Document document) {
  viewers_.Open(document);
}

void QtFrontEnd::OpenControllerDialog() {
  if (!controller_dialog_) {
    controller_dialog_ = std::make_unique<ControllerDialog>(
        core_->controls(), core_->shared(), core_->controller(), &core_->parallel_port(),
        [this](int vid, int pid) { core_->UseController(vid, pid); });
    controller_dialog_->setWindowIcon(AppIcon());
  } else {
    controller_dialog_->Refresh();
  }
  controller_dialog_->show();
  controller_dialog_->raise();
  controller_dialog_->activateWindow();
}

void QtFrontEnd::OpenDmxDialog() {
  if (!dmx_dialog_) {
    dmx_dialog_ = std::make_unique<DmxDialog>(*core_);
    dmx_dialog_->setWindowIcon(AppIcon());
  } else {
    dmx_dialog_->Refresh();
  }
  dmx_dialog_->show();
  dmx_dialog_->raise();
  dmx_dialog_->activateWindow();
}

void QtFrontEnd::SetTrayToolTip(const std::string& text) {
  if (tray_ != nullptr) tray_->setToolTip(QString::fromStdString(text));
}

void QtFrontEnd::ShowInputChoices(const std::vector<InputMenuEntry>& entries) {
  if (input_menu_ == nullptr) return;
  input_menu_->clear();
  for (int i = 0; i < static_cast<int>(entries.size()); ++i) {
    const InputMenuEntry& entry = entries[i];
    if (entry.separator_before) input_menu_->addSeparator();
    QAction* action = input_menu_->addAction(QString::fromStdString(entry.text), this,
                                             [this, i] { core_->InputChosen(i); });
    action->setCheckable(true);
    action->setChecked(entry.ticked);
    action->setEnabled(entry.enabled);
    if (!entry.tooltip.empty()) action->setToolTip(QString::fromStdString(entry.tooltip));
  }
}

void QtFrontEnd::Quit() {
  if (timer_) timer_->stop();
  if (tray_) tray_->hide();
  for (QWidget* w : QApplication::topLevelWidgets()) w->hide();
  QCoreApplication::exit(0);
}

void QtFrontEnd::OnSignal() {
  if (signal_notifier_) signal_notifier_->setEnabled(false);
  TerminationSignals::DefaultsBack();
  core_->TerminationSignal();
}

void QtFrontEnd::SaveMainWindowCorner() {
  const QPoint frame = window_->pos();
  core_->WindowMoved(frame.x(), frame.y());
}

bool QtFrontEnd::IsMainWindow(QObject* object) const {
  return object->isWidgetType() && object == window_.get();
}

// The viewers handle their own close requests and report their moves (DocumentViewers).
bool QtFrontEnd::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::Show:
    case QEvent::Hide:
      if (watched == window_.get()) bridge_.set_window_shown(event->type() == QEvent::Show);
      break;
    case QEvent::Close:
      if (core_->finished() || !event->spontaneous() || !IsMainWindow(watched)) break;
      // The window stays; the program ends through the close path.
      event->ignore();
      QMetaObject::invokeMethod(
          this,
          [this] {
            const QPoint frame = window_->pos();
            core_->CloseRequest(frame.x(), frame.y());
          },
          Qt::QueuedConnection);
      return true;
    case QEvent::Move:
      if (core_->finished() || !event->spontaneous() || !IsMainWindow(watched)) break;
      if (window_->isVisible()) SaveMainWindowCorner();
      break;
    default:
      break;
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace glimmerix::shell
