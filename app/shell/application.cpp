#include "app/shell/application.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QSocketNotifier>
#include <QSystemTrayIcon>
#include <QThread>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <cstdlib>
#include <random>

#include "app/shell/app_icon.h"
#include "app/shell/controller_dialog.h"
#include "app/shell/main_window.h"
#include "app/shell/process.h"
#include "app/shell/tray_tool_tip.h"
#include "app/shell/window_layout.h"
#include "app/shell/window_placement.h"
#include "presets/settings_file.h"
#include "settings/settings_store.h"

namespace glimmerix::shell {
namespace {

std::atomic<Application*> g_running{nullptr};  // the started program, for AtProcessExit

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

}  // namespace

Application::Application(std::string program_folder, int signal_fd, ShowRequests* show_requests)
    : program_folder_(std::move(program_folder)),
      random_(std::random_device{}()),
      signal_fd_(signal_fd),
      show_requests_(show_requests) {}

Application::~Application() {
  Application* self = this;
  g_running.compare_exchange_strong(self, nullptr);
  // The normal ways out have run Finish(); anything else (an exception, a test that never
  // ended the program) still stops the engine and switches the outputs off.
  if (!finished_ && engine_thread_.joinable()) {
    shared_.closing.store(1);
    StopEngine();
    usb_.SwitchOff();
    if (lpt_) lpt_->SwitchOff();
  }
  table_.set_observer(nullptr);
  qApp->removeEventFilter(this);
  delete bridge_notifier_;
  delete signal_notifier_;
  delete show_notifier_;
  delete tray_;
  delete menu_;
}

bool Application::Start() {
  // A signal ends the program at any point from here, the "File missing!" box included.
  if (signal_fd_ >= 0) {
    signal_notifier_ = new QSocketNotifier(signal_fd_, QSocketNotifier::Read, this);
    connect(signal_notifier_, &QSocketNotifier::activated, this, &Application::OnSignal);
  }

  RemoveStaleSaveFiles({});  // leftovers of a save killed half-way, where saves go

  // What setting.dat says before the window exists.
  const StartupSettings settings = ReadStartupSettings();
  start_x_ = settings.X_form;
  start_y_ = settings.Y_form;
  usb_.USB_PID.store(settings.PID);
  usb_.USB_VID.store(settings.VID);

  // The parallel-port library, which the program cannot do without.
  if (!library_.Load(program_folder_)) {
    const QString text = QStringLiteral("For program to work file is required:\n\r ") +
                         QString::fromUtf8(Inpout32Library::kFileName);
    if (QGuiApplication::platformName() == QLatin1String("offscreen")) {
      // Nobody could see or dismiss a box: say it where a headless run's owner looks.
      fprintf(stderr, "File missing! %s\n", qPrintable(text));
    } else {
      QMessageBox box(QMessageBox::Critical, QStringLiteral("File missing!"), text,
                      QMessageBox::Ok);
      box.setWindowIcon(AppIcon());
      box.exec();
    }
    return false;
  }
  lpt_ = std::make_unique<LptPort>(library_);

  // Window 0 (hidden) with every control, the tray icon, its menu, the preset list.
  table_.set_observer(&bridge_);
  // A saved corner that would leave the title bar off every screen (a screen since made smaller
  // or removed) is brought back, the frame's size estimated as the window manager has not told it.
  const FramePoint corner =
      PlaceFrame({start_x_, start_y_}, kNarrowWidth + 2 * kFrameBorder,
                 kInnerHeight + kTitleBarHeight + kFrameBorder, ScreenRects());
  window_ = std::make_unique<MainWindow>(table_, QPoint(corner.x, corner.y));
  window_->setWindowIcon(AppIcon());
  connect(window_.get(), &MainWindow::gadgetEvent, this, &Application::OnGadget);
  // Minimising hides the window: it comes back through the tray icon, so without a tray it
  // stays minimised in the task bar instead.
  connect(
      window_.get(), &MainWindow::minimised, this,
      [this] {
        if (tray_ != nullptr && QSystemTrayIcon::isSystemTrayAvailable()) HideMainWindow();
      },
      Qt::QueuedConnection);

  menu_ = new QMenu();
  menu_->addAction(QStringLiteral("Open"), this, &Application::ShowMainWindow);
  menu_->addAction(QStringLiteral("Hide"), this, &Application::HideMainWindow);
  menu_->addAction(QStringLiteral("Controller..."), this, &Application::OpenControllerDialog);
  QMenu* help = menu_->addMenu(QStringLiteral("Help"));
  help->addAction(QStringLiteral("Settings"), this, [this] { OpenViewer(Document::kSettings); });
  help->addAction(QStringLiteral("History"), this, [this] { OpenViewer(Document::kHistory); });
  menu_->addAction(QStringLiteral("About"), this, [this] { OpenViewer(Document::kDevelopers); });
  menu_->addSeparator();
  menu_->addAction(QStringLiteral("Exit"), this, &Application::ExitCommand);

  // Headless there is no tray to show an icon in.
  if (QGuiApplication::platformName() != QLatin1String("offscreen")) {
    tray_ = new QSystemTrayIcon(AppIcon());
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
      if (r == QSystemTrayIcon::Trigger) ShowMainWindow();
    });
    tray_->setContextMenu(menu_);
    tray_->show();
  }

  presets_.FillPresetList(program_folder_, settings.Preset);

  // The controls from setting.dat, then the preset in force.
  ReadControlSettings(table_);
  presets_.ApplyAtStartup();
  window_->ShowMode(shared_.mode.load());

  // Lock states, a first Bright and Step, recording, the controller, its 500 ms search timer.
  lamps_.SaveLockStates();
  shared_.send_bright_and_step.store(1);
  capture_.Start();
  usb_.CheckPresence();
  timer_ = new QTimer(this);
  connect(timer_, &QTimer::timeout, this, [this] {
    usb_.CheckPresence();
    lpt_->SayProblemOnce();
    RefreshTrayToolTip();
  });
  timer_->start(500);
  RefreshTrayToolTip();

  // The engine's changes reach the widgets through the bridge; signals through their pipe.
  if (bridge_.wake_fd() >= 0) {
    bridge_notifier_ = new QSocketNotifier(bridge_.wake_fd(), QSocketNotifier::Read, this);
    connect(bridge_notifier_, &QSocketNotifier::activated, this, [this] { bridge_.Drain(*this); });
  }
  // A second start asks for the window.
  if (show_requests_ != nullptr && show_requests_->read_fd() >= 0) {
    show_notifier_ = new QSocketNotifier(show_requests_->read_fd(), QSocketNotifier::Read, this);
    connect(show_notifier_, &QSocketNotifier::activated, this, [this] {
      if (show_requests_->Take()) ShowMainWindow();
    });
  }
  // A viewer closes itself on a close request; its moves count as the main window's would.
  connect(&viewers_, &DocumentViewers::moved, this, [this] {
    if (finished_) return;
    const QPoint frame = window_->pos();
    SaveWindowPosition(frame.x(), frame.y());
  });
  connect(qApp, &QGuiApplication::commitDataRequest, this, &Application::ExitCommand);
  connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
    if (!finished_) ExitCommand();
  });
  qApp->installEventFilter(this);

  // The engine thread, last, so its first pass finds everything in place.
  EnginePorts ports;
  ports.spectrum = &capture_;
  ports.usb = &usb_;
  ports.lpt = lpt_.get();
  ports.lamps = &engine_lamps_;
  ports.keys = &hot_keys_;
  ports.clicks = &bridge_;
  ports.random = &random_;
  ports.sleeper = &sleeper_;
  ports.columns = &bridge_;
  engine_ = std::make_unique<Engine>(table_, shared_, ports);
  engine_thread_ = std::jthread([this](std::stop_token stop) { engine_->RunLoop(stop); });

  static const bool hooked = std::atexit(&Application::AtProcessExit) == 0;
  if (hooked) g_running.store(this);

  // Only the tray icon shows; on a desktop without any tray the window is the only way in.
  window_->hide();
  bridge_.set_window_shown(false);
  if (tray_ != nullptr && !QSystemTrayIcon::isSystemTrayAvailable()) ShowMainWindow();
  return true;
}

void Application::ControlChanged(int g) {
  if (window_) window_->Refresh(g);
}

void Application::ColumnChanged(int column, float band_value, int lamp) {
  if (window_) window_->ShowColumn(column, band_value, lamp);
}

void Application::ButtonClicked(int g) {
  if (finished_ || !window_) return;
  if (QAbstractButton* b = window_->button(g)) b->click();
}

void Application::OnGadget(int g) {
  if (finished_) return;
  switch (g) {
    case gadget::kManualButton:
      shared_.mode.store(kModeManual);
      if (presets_.RestoreBandLevels()) flag_wr_.store(1);
      break;
    case gadget::kAutoButton:
    case gadget::kRndButton:
      // The user's manual levels are saved before the mode leaves Manual.
      if (flag_wr_.load() == 1) {
        presets_.SaveBandLevels();
        flag_wr_.store(0);
      }
      shared_.mode.store(g == gadget::kAutoButton ? kModeAuto : kModeRnd);
      presets_.ClearBandBars();
      break;
    case gadget::kKeyCheck:
      if (table_.value(gadget::kKeyCheck) == 1) {
        lamps_.SaveLockStates();
      } else {
        lamps_.RestoreLockLEDs();
      }
      break;
    case gadget::kLptCheck:
      // Ticked again: a port that could not be opened gets another chance.
      if (table_.value(gadget::kLptCheck) == 1) lpt_->Retry();
      break;
    case gadget::kWidthButton:
      window_->ToggleWidth();
      break;
    case gadget::kBrightBar:
    case gadget::kStepBar:
      shared_.send_bright_and_step.store(1);
      break;
    case gadget::kPresetList:
      presets_.SelectPreset();
      // The preset's Bright and Step reach the controller with the next pass, not only the bars.
      shared_.send_bright_and_step.store(1);
      break;
    default:
      break;
  }
  window_->ShowMode(shared_.mode.load());
}

void Application::KeepMainWindowOnScreen() {
  // Only a window on the screen has a frame whose size the window manager has told; a move then
  // places the frame's corner.
  if (finished_ || !window_->isVisible()) return;
  // The frame's size may still be unknown (a slow window manager): then it is estimated.
  const QRect frame = window_->frameGeometry();
  const int width = std::max(frame.width(), window_->width() + 2 * kFrameBorder);
  const int height = std::max(frame.height(), window_->height() + kTitleBarHeight + kFrameBorder);
  const FramePoint corner = PlaceFrame({frame.x(), frame.y()}, width, height, ScreenRects());
  if (QPoint(corner.x, corner.y) != frame.topLeft()) window_->move(corner.x, corner.y);
}

void Application::ShowMainWindow() {
  if (finished_) return;
  window_->show();
  window_->setWindowState(window_->windowState() & ~Qt::WindowMinimized);
  window_->raise();
  window_->activateWindow();
  // Once the window manager has framed it (again).
  QTimer::singleShot(kFrameSettleMs, this, [this] { KeepMainWindowOnScreen(); });
}

void Application::RefreshTrayToolTip() {
  if (tray_ == nullptr) return;
  const std::string status = table_.status_text();
  const std::string tip = TrayToolTip({shared_.mode.load(), status, usb_.problem(),
                                       lpt_ ? lpt_->problem() : std::string(), capture_.problem()});
  if (tip == tray_tool_tip_) return;
  tray_tool_tip_ = tip;
  tray_->setToolTip(QString::fromStdString(tip));
}

void Application::HideMainWindow() {
  if (window_) window_->hide();
}

void Application::OpenViewer(Document document) {
  if (!finished_) viewers_.Open(document);
}

void Application::OpenControllerDialog() {
  if (finished_) return;
  if (!controller_dialog_) {
    controller_dialog_ = std::make_unique<ControllerDialog>(
        table_, shared_, usb_, lpt_.get(), [this](int vid, int pid) { UseController(vid, pid); });
    controller_dialog_->setWindowIcon(AppIcon());
  } else {
    controller_dialog_->Refresh();
  }
  controller_dialog_->show();
  controller_dialog_->raise();
  controller_dialog_->activateWindow();
}

void Application::UseController(int vid, int pid) {
  SettingsStore store(presets_.folder());
  store.Open("setting.dat");
  store.WriteNumber("VID", vid);
  store.WriteNumber("PID", pid);
  store.Close();
  usb_.LookFor(vid, pid);
}

void Application::CloseRequest() {
  if (finished_) return;
  shared_.closing.store(1);
  const QPoint frame = window_->pos();
  SaveOnClose(presets_, frame.x(), frame.y());
  Finish();
}

void Application::ExitCommand() {
  if (finished_) return;
  shared_.closing.store(1);
  SaveOnExit(presets_);
  Finish();
}

void Application::OnSignal() {
  if (signal_notifier_) signal_notifier_->setEnabled(false);
  TerminationSignals::DefaultsBack();
  if (!engine_thread_.joinable()) {
    // Still starting (the "File missing!" box): nothing to save or switch off yet.
    QCoreApplication::exit(0);
    return;
  }
  ExitCommand();
}

void Application::StopEngine() {
  if (!engine_thread_.joinable()) return;
  engine_thread_.request_stop();
  sleeper_.Interrupt();
  engine_thread_.join();
}

void Application::Finish() {
  finished_ = true;
  shared_.closing.store(1);
  StopEngine();
  usb_.SwitchOff();
  if (lpt_) lpt_->SwitchOff();
  lamps_.RestoreLockLEDs();
  library_.Release();
  if (timer_) timer_->stop();
  if (tray_) tray_->hide();
  for (QWidget* w : QApplication::topLevelWidgets()) w->hide();
  QCoreApplication::exit(0);
}

void Application::AtProcessExit() {
  if (Application* running = g_running.exchange(nullptr)) running->EmergencyStop();
}

void Application::EmergencyStop() {
  if (finished_.exchange(true)) return;
  shared_.closing.store(1);
  if (std::this_thread::get_id() != engine_thread_.get_id()) {
    if (QThread::currentThread() == thread()) SaveOnExit(presets_);
    StopEngine();
  }
  usb_.SwitchOff();
  if (lpt_) lpt_->SwitchOff();
}

// The viewers handle their own close requests and report their moves (DocumentViewers).
bool Application::IsProgramWindow(QObject* object) const {
  if (!object->isWidgetType()) return false;
  auto* w = static_cast<QWidget*>(object);
  if (!w->isWindow()) return false;
  return w == window_.get();
}

bool Application::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::Show:
    case QEvent::Hide:
      if (watched == window_.get()) bridge_.set_window_shown(event->type() == QEvent::Show);
      break;
    case QEvent::Close:
      if (finished_ || !event->spontaneous() || !IsProgramWindow(watched)) break;
      // The window stays; the program ends through the close path.
      event->ignore();
      QMetaObject::invokeMethod(this, &Application::CloseRequest, Qt::QueuedConnection);
      return true;
    case QEvent::Move:
      if (finished_ || !event->spontaneous() || !IsProgramWindow(watched)) break;
      if (!static_cast<QWidget*>(watched)->isVisible()) break;
      {
        const QPoint frame = window_->pos();
        SaveWindowPosition(frame.x(), frame.y());
      }
      break;
    default:
      break;
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace glimmerix::shell
