// glimmerix: the light organ's program. Takes no arguments besides --help and --version; ends
// with exit code 0, 2 for an unknown option, 1 when no display platform can be used.
#include <QApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QStringList>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/shell/process.h"
#include "app/shell/qt_front_end.h"
#include "outputs/hid_access.h"
#include "settings/settings_store.h"

namespace {

// Qt's Wayland platform plugin (package qt6-wayland), where Qt looks for platform plugins.
bool WaylandPluginInstalled() {
  QStringList folders =
      QString::fromLocal8Bit(qgetenv("QT_PLUGIN_PATH")).split(QLatin1Char(':'), Qt::SkipEmptyParts);
  folders << QLibraryInfo::path(QLibraryInfo::PluginsPath);
  for (const QString& folder : folders) {
    const QDir platforms(folder + QStringLiteral("/platforms"));
    if (!platforms.entryList({QStringLiteral("libqwayland*.so")}, QDir::Files).isEmpty())
      return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace glimmerix;
  // Before anything opens a file: a closed standard descriptor must not be taken by one.
  shell::OpenMissingStandardDescriptors();

  const shell::CommandLine command = shell::ParseCommandLine(argc, argv);
  switch (command.action) {
    case shell::CommandLine::Action::kHelp:
      std::fputs(shell::UsageText().c_str(), stdout);
      return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
    case shell::CommandLine::Action::kVersion:
      std::printf("glimmerix %s\n", GLIMMERIX_VERSION);
      return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
    case shell::CommandLine::Action::kUnknown:
      std::fprintf(stderr, "glimmerix: unknown option '%s'\nTry 'glimmerix --help'.\n",
                   command.unknown.c_str());
      return 2;
    case shell::CommandLine::Action::kRun:
      break;
  }

  HidAccess_Init();
  // Under a file-size limit a write must fail (old files kept) rather than end the program; the
  // sound server's client library also trips the limit when it sizes its shared memory.
  IgnoreFileSizeSignal();

  // One instance at a time; a second start asks the running one to show its window and ends.
  const shell::LockLocation lock = shell::InstanceLockLocation();
  if (!lock.error.empty()) {
    std::fprintf(stderr, "glimmerix: no single-instance lock (%s); starting without it\n",
                 lock.error.c_str());
  }
  const shell::SingleInstance instance(lock.path);
  if (!lock.path.empty() && instance.state() == shell::SingleInstance::State::kNoLock) {
    std::fprintf(stderr, "glimmerix: %s; starting without the single-instance lock\n",
                 instance.error().c_str());
  }
  if (!instance.first()) {
    shell::ShowRequests::Send(lock.folder);
    return 0;
  }
  std::unique_ptr<shell::ShowRequests> show_requests;
  if (instance.state() == shell::SingleInstance::State::kFirst)
    show_requests = std::make_unique<shell::ShowRequests>(lock.folder);

  // From here on SIGTERM, SIGINT and SIGHUP take the exit path inside the event loop.
  shell::TerminationSignals termination;

  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  const shell::PlatformChoice platform =
      shell::ChoosePlatform(std::getenv("QT_QPA_PLATFORM"), std::getenv("DISPLAY"), wayland,
                            wayland != nullptr && wayland[0] != '\0' && WaylandPluginInstalled());
  if (!platform.refusal.empty()) {
    std::fputs(platform.refusal.c_str(), stderr);
    return 1;
  }
  if (!platform.platform.empty()) setenv("QT_QPA_PLATFORM", platform.platform.c_str(), 1);
  // The window's updates are a few small columns 20 times a second: sending them over the X
  // connection costs less than X shared memory, whose completion events wake two threads per
  // frame (measured: about half the CPU of a shown window).
  setenv("QT_XCB_NO_MITSHM", "1", 0);

  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Glimmerix"));
  QApplication::setDesktopFileName(QStringLiteral("glimmerix"));
  QApplication::setQuitOnLastWindowClosed(false);

  shell::QtFrontEnd program(shell::ProgramFolder(argc > 0 ? argv[0] : ""), termination.read_fd(),
                            show_requests.get());
  if (program.Start()) QApplication::exec();
  return 0;
}
