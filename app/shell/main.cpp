// glimmerix: the light organ's program. Takes no arguments and always ends with exit code 0.
#include <QApplication>
#include <cstdlib>

#include "app/settings/settings_store.h"
#include "app/shell/application.h"
#include "app/shell/process.h"
#include "outputs/hid_access.h"

int main(int argc, char** argv) {
  using namespace glimmerix;
  HidAccess_Init();
  // Under a file-size limit a write must fail (old files kept) rather than end the program; the
  // sound server's client library also trips the limit when it sizes its shared memory.
  IgnoreFileSizeSignal();

  // One instance at a time; a second start ends here, silently.
  const shell::SingleInstance instance(shell::InstanceLockPath());
  if (!instance.first()) return 0;

  // From here on SIGTERM, SIGINT and SIGHUP take the exit path inside the event loop.
  shell::TerminationSignals termination;

  const std::string platform = shell::ChoosePlatform(
      std::getenv("QT_QPA_PLATFORM"), std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY"));
  if (!platform.empty()) setenv("QT_QPA_PLATFORM", platform.c_str(), 1);
  // The window's updates are a few small columns 20 times a second: sending them over the X
  // connection costs less than X shared memory, whose completion events wake two threads per
  // frame (measured: about half the CPU of a shown window).
  setenv("QT_XCB_NO_MITSHM", "1", 0);

  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Glimmerix"));
  QApplication::setDesktopFileName(QStringLiteral("glimmerix"));
  QApplication::setQuitOnLastWindowClosed(false);

  shell::Application program(shell::ProgramFolder(argc > 0 ? argv[0] : ""), termination.read_fd());
  if (program.Start()) QApplication::exec();
  return 0;
}
