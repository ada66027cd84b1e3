// Process-level services of the program: the standard descriptors, the command line, the
// single-instance lock and the second start's request to show the window, the termination
// signals fed into the event loop, the choice of Qt platform and the program folder. Qt-free; main
// thread only unless noted.
#pragma once

#include <string>

namespace glimmerix::shell {

// Opens /dev/null onto any of the descriptors 0, 1 and 2 that is closed, so that files opened
// later never take their place (a lock file on fd 0 or a pipe on fd 2 would be read or written as
// the standard streams). Call first thing in main().
void OpenMissingStandardDescriptors();

// What the command line asks for. The program takes no arguments besides these.
struct CommandLine {
  enum class Action { kRun, kHelp, kVersion, kUnknown };
  Action action = Action::kRun;
  std::string unknown;  // the first argument not understood (kUnknown)
};
CommandLine ParseCommandLine(int argc, const char* const* argv);
// The text printed by --help.
std::string UsageText();

// Where the single-instance lock lives: the folder and the lock file "Glimmerix" in it, or why
// there is no usable place (folder and path then empty).
struct LockLocation {
  std::string folder;
  std::string path;
  std::string error;
};
// $XDG_RUNTIME_DIR when it is a private folder of this user, else "glimmerix-UID" in the temp
// folder ($TMPDIR, else /tmp), created with mode 0700 when missing and refused when it is not a
// private folder of this user (a link, another owner, or open to group or others).
LockLocation InstanceLockLocation();

// Holds an exclusive flock() on the lock file for as long as the object (and so the process)
// lives; the kernel drops it when the process ends, however it ends.
class SingleInstance {
 public:
  enum class State { kFirst, kAnotherRuns, kNoLock };
  explicit SingleInstance(const std::string& path);
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  State state() const { return state_; }
  // False only when another process holds the lock.
  bool first() const { return state_ != State::kAnotherRuns; }
  // Why the lock could not be made or taken (kNoLock), else empty.
  const std::string& error() const { return error_; }

 private:
  int fd_ = -1;
  State state_ = State::kFirst;
  std::string error_;
};

// A second start asks the running instance to show its window through a datagram socket beside
// the lock file. The running instance (the lock holder) makes the socket; its read_fd() becomes
// readable when a request arrives, and Take() empties it. Main thread only.
class ShowRequests {
 public:
  static constexpr const char* kSocketName = "Glimmerix.show";

  // Binds the socket in folder, replacing a stale one (only the lock holder may do this).
  // read_fd() is -1 when it cannot be made; the program then runs without it.
  explicit ShowRequests(const std::string& folder);
  ~ShowRequests();
  ShowRequests(const ShowRequests&) = delete;
  ShowRequests& operator=(const ShowRequests&) = delete;

  int read_fd() const { return fd_; }
  // Reads every pending request; true when there was at least one.
  bool Take();
  // Sends one request to the instance whose lock lives in folder; false when none listens.
  static bool Send(const std::string& folder);

 private:
  int fd_ = -1;
  std::string path_;
};

// SIGTERM, SIGINT and SIGHUP write their number into a non-blocking self-pipe instead of ending
// the process; the event loop watches read_fd() and takes the program's exit path. A SIGHUP that
// was ignored when the process started (nohup) stays ignored. Install once, early in main(); the
// handler is async-signal-safe.
class TerminationSignals {
 public:
  TerminationSignals();
  ~TerminationSignals();  // puts the default dispositions back
  TerminationSignals(const TerminationSignals&) = delete;
  TerminationSignals& operator=(const TerminationSignals&) = delete;

  int read_fd() const;
  // Gives the three signals their default action back (an ignored SIGHUP stays ignored), so a
  // second Ctrl+C while the exit path runs ends the process at once. Async-signal-safe.
  static void DefaultsBack();
  // Reads what is pending; returns the last signal number read, 0 if none.
  int Take();
};

// Which Qt platform to ask for, given the environment:
// the user's QT_QPA_PLATFORM wins; with DISPLAY set, "xcb" (window positions, lock lamps and hot
// keys need X11, which Wayland desktops offer through XWayland), falling back to "offscreen" when
// that display cannot be reached; with only WAYLAND_DISPLAY, "wayland" when Qt's Wayland plugin is
// installed, else a refusal that says what to install or set; with no display at all,
// "offscreen" so the light organ runs headless.
struct PlatformChoice {
  std::string platform;  // for QT_QPA_PLATFORM; empty: leave Qt's choice alone
  std::string refusal;   // non-empty: the program cannot start; the message for the user
};
PlatformChoice ChoosePlatform(const char* qt_qpa_platform, const char* display,
                              const char* wayland_display, bool wayland_plugin_installed);

// The folder the program was started from, as an absolute path. The folder of the path it was
// started through (argv[0]; a bare name looked up in PATH's absolute entries) counts only when
// that path names this very executable (same device and inode as /proc/self/exe), links left
// unresolved, so a folder holding a link to the installed program is the program folder.
// Otherwise the real executable's folder. Never the current folder by default.
std::string ProgramFolder(const std::string& argv0);

}  // namespace glimmerix::shell
