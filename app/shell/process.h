// Process-level services of the program: the single-instance lock, the termination signals fed
// into the event loop, and the choice of Qt platform. Qt-free; main thread only unless noted.
#pragma once

#include <string>

namespace glimmerix::shell {

// The lock file's path: "Glimmerix" in $XDG_RUNTIME_DIR, else in the temp folder.
std::string InstanceLockPath();

// Holds an exclusive flock() on the lock file for as long as the object (and so the process)
// lives; the kernel drops it when the process ends, however it ends.
class SingleInstance {
 public:
  explicit SingleInstance(const std::string& path);
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // False only when another process holds the lock. A lock file that cannot be made or locked
  // for any other reason counts as a first instance.
  bool first() const { return first_; }

 private:
  int fd_ = -1;
  bool first_ = true;
};

// SIGTERM, SIGINT and SIGHUP write their number into a non-blocking self-pipe instead of ending
// the process; the event loop watches read_fd() and takes the program's exit path. Install once,
// early in main(); the handler is async-signal-safe.
class TerminationSignals {
 public:
  TerminationSignals();
  ~TerminationSignals();  // puts the default dispositions back
  TerminationSignals(const TerminationSignals&) = delete;
  TerminationSignals& operator=(const TerminationSignals&) = delete;

  int read_fd() const;
  // Gives the three signals their default action back, so a second Ctrl+C while the exit path
  // runs ends the process at once. Async-signal-safe.
  static void DefaultsBack();
  // Reads what is pending; returns the last signal number read, 0 if none.
  int Take();
};

// Which Qt platform to ask for, given the environment, or empty to leave Qt's choice alone:
// the user's QT_QPA_PLATFORM wins; with DISPLAY set, "xcb" (window positions, lock lamps and hot
// keys need X11, which Wayland desktops offer through XWayland), falling back to "offscreen" when
// that display cannot be reached; with no display at all, "offscreen" so the light organ runs
// headless.
std::string ChoosePlatform(const char* qt_qpa_platform, const char* display,
                           const char* wayland_display);

// The folder of the path the program was started by, symbolic links not resolved. A bare name
// is looked up on PATH the way the shell found it; "." when nothing matches.
std::string ProgramFolder(const std::string& argv0);

}  // namespace glimmerix::shell
