#include "app/shell/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>

namespace glimmerix::shell {

void OpenMissingStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    const int opened = open("/dev/null", O_RDWR);
    if (opened >= 0 && opened != fd) {
      dup2(opened, fd);
      close(opened);
    }
  }
}

CommandLine ParseCommandLine(int argc, const char* const* argv) {
  CommandLine line;
  if (argc < 2) return line;
  const std::string_view first = argv[1];  // the first argument decides
  if (first == "--help" || first == "-h") {
    line.action = CommandLine::Action::kHelp;
  } else if (first == "--version") {
    line.action = CommandLine::Action::kVersion;
  } else {
    line.action = CommandLine::Action::kUnknown;
    line.unknown = first;
  }
  return line;
}

std::string UsageText() {
  return "Usage: glimmerix [--help | --version]\n"
         "\n"
         "A colour-music (light organ) controller: it listens to the recording input and drives\n"
         "the lights through a USB HID lighting controller, the parallel port and the keyboard's\n"
         "lock-key lamps. It lives in the notification area (tray); a second start shows the\n"
         "running one's window. Settings and presets are kept in the current folder.\n"
         "\n"
         "  --help     print this text and end\n"
         "  --version  print the version and end\n"
         "\n"
         "Exit status: 0; 1 when no display platform can be used (Wayland without Qt's\n"
         "Wayland plugin and without DISPLAY); 2 for an unknown option.\n";
}

namespace {

// The folder is this user's own: a real folder (not a link), owned by us, closed to others.
std::string CheckPrivateFolder(const std::string& folder) {
  struct stat st {};
  if (lstat(folder.c_str(), &st) != 0) return folder + ": " + std::strerror(errno);
  if (S_ISLNK(st.st_mode)) return folder + " is a symbolic link";
  if (!S_ISDIR(st.st_mode)) return folder + " is not a folder";
  if (st.st_uid != geteuid())
    return folder + " belongs to user " + std::to_string(st.st_uid) + ", not to this user (" +
           std::to_string(geteuid()) + ")";
  if ((st.st_mode & 077) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    return folder + " has mode " + mode + ": others may use it (0700 is needed)";
  }
  return {};
}

}  // namespace

LockLocation InstanceLockLocation() {
  LockLocation where;
  // XDG_RUNTIME_DIR must be this user's own; under sudo it may still name the caller's.
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] == '/' && CheckPrivateFolder(runtime).empty()) {
    where.folder = runtime;
  } else {
    std::error_code ec;
    std::filesystem::path temp = std::filesystem::temp_directory_path(ec);
    if (ec || !temp.is_absolute()) temp = "/tmp";
    where.folder = (temp / ("glimmerix-" + std::to_string(geteuid()))).string();
    if (mkdir(where.folder.c_str(), 0700) != 0 && errno != EEXIST) {
      where.error = "cannot create " + where.folder + ": " + std::strerror(errno);
      where.folder.clear();
      return where;
    }
    where.error = CheckPrivateFolder(where.folder);
    if (!where.error.empty()) {
      where.folder.clear();
      return where;
    }
  }
  where.path = (std::filesystem::path(where.folder) / "Glimmerix").string();
  return where;
}

SingleInstance::SingleInstance(const std::string& path) {
  // O_NOFOLLOW: nobody gets us to create or lock a file elsewhere.
  fd_ = open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd_ < 0) {
    state_ = State::kNoLock;
    error_ = "cannot open the lock file " + path + ": " + std::strerror(errno);
    return;
  }
  int rc;
  while ((rc = flock(fd_, LOCK_EX | LOCK_NB)) < 0 && errno == EINTR) {
  }
  if (rc == 0) return;
  if (errno == EWOULDBLOCK) {
    state_ = State::kAnotherRuns;
  } else {
    state_ = State::kNoLock;
    error_ = "cannot lock " + path + ": " + std::strerror(errno);
  }
}

SingleInstance::~SingleInstance() {
  if (fd_ >= 0) close(fd_);
}

namespace {

bool SocketAddress(const std::string& folder, sockaddr_un& address, std::string& path) {
  path = (std::filesystem::path(folder) / ShowRequests::kSocketName).string();
  address = {};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return true;
}

}  // namespace

ShowRequests::ShowRequests(const std::string& folder) {
  sockaddr_un address;
  if (folder.empty() || !SocketAddress(folder, address, path_)) return;
  fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return;
  // A socket left by an instance that ended (the lock has gone with it) is replaced.
  unlink(path_.c_str());
  const mode_t old_mask = umask(077);
  const int rc = bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  umask(old_mask);
  if (rc != 0) {
    close(fd_);
    fd_ = -1;
  }
}

ShowRequests::~ShowRequests() {
  if (fd_ < 0) return;
  close(fd_);
  unlink(path_.c_str());
}

bool ShowRequests::Take() {
  bool any = false;
  char buffer[16];
  while (fd_ >= 0) {
    const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
    if (n >= 0) {
      any = true;
    } else if (errno != EINTR) {
      break;
    }
  }
  return any;
}

bool ShowRequests::Send(const std::string& folder) {
  sockaddr_un address;
  std::string path;
  if (folder.empty() || !SocketAddress(folder, address, path)) return false;
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  static constexpr char kRequest[] = "show";
  ssize_t n;
  while ((n = sendto(fd, kRequest, sizeof kRequest - 1, MSG_DONTWAIT | MSG_NOSIGNAL,
                     reinterpret_cast<const sockaddr*>(&address), sizeof address)) < 0 &&
         errno == EINTR) {
  }
  close(fd);
  return n >= 0;
}

namespace {

int g_pipe[2] = {-1, -1};
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
// SIGHUP was ignored at start (nohup): it is left ignored. Written before any handler exists.
volatile sig_atomic_t g_hangup_ignored = 0;

extern "C" void OnTerminationSignal(int signo) {
  const int saved = errno;
  const unsigned char byte = static_cast<unsigned char>(signo);
  if (g_pipe[1] >= 0) {
    [[maybe_unused]] const ssize_t n = write(g_pipe[1], &byte, 1);
  }
  errno = saved;
}

}  // namespace

TerminationSignals::TerminationSignals() {
  if (pipe2(g_pipe, O_NONBLOCK | O_CLOEXEC) < 0) {
    g_pipe[0] = g_pipe[1] = -1;
    return;
  }
  struct sigaction sa {};
  sa.sa_handler = OnTerminationSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  struct sigaction hangup {};
  g_hangup_ignored = sigaction(SIGHUP, nullptr, &hangup) == 0 && hangup.sa_handler == SIG_IGN;
  for (int s : kSignals) {
    if (s != SIGHUP || !g_hangup_ignored) sigaction(s, &sa, nullptr);
  }
}

void TerminationSignals::DefaultsBack() {
  for (int s : kSignals) {
    if (s != SIGHUP || !g_hangup_ignored) signal(s, SIG_DFL);
  }
}

TerminationSignals::~TerminationSignals() {
  DefaultsBack();
  for (int& fd : g_pipe) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
}

int TerminationSignals::read_fd() const {
  return g_pipe[0];
}

int TerminationSignals::Take() {
  int last = 0;
  unsigned char buffer[16];
  ssize_t n;
  while (g_pipe[0] >= 0 && (n = read(g_pipe[0], buffer, sizeof buffer)) != 0) {
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    last = buffer[n - 1];
  }
  return last;
}

PlatformChoice ChoosePlatform(const char* qt_qpa_platform, const char* display,
                              const char* wayland_display, bool wayland_plugin_installed) {
  auto set = [](const char* v) { return v != nullptr && v[0] != '\0'; };
  if (set(qt_qpa_platform)) return {};
  if (set(display)) return {"xcb;offscreen", {}};  // a display that cannot be reached: headless
  if (set(wayland_display)) {
    if (wayland_plugin_installed) return {"wayland", {}};
    return {{},
            "glimmerix: this is a Wayland session without an X11 display (DISPLAY is not set), "
            "and Qt's Wayland platform plugin is not installed.\n"
            "Either set DISPLAY to the session's XWayland display (for example DISPLAY=:0; "
            "recommended: window position, keyboard lamps and hot keys need X11),\n"
            "or install the plugin: sudo apt-get install qt6-wayland\n"};
  }
  return {"offscreen", {}};
}

namespace {

bool SameFile(const std::filesystem::path& a, const struct stat& b) {
  struct stat st {};
  return stat(a.c_str(), &st) == 0 && st.st_dev == b.st_dev && st.st_ino == b.st_ino;
}

std::string Absolute(const std::filesystem::path& folder) {
  std::error_code ec;
  std::filesystem::path absolute = std::filesystem::absolute(folder, ec);
  if (ec) return {};
  absolute = absolute.lexically_normal();
  std::string text = absolute.string();
  if (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

}  // namespace

std::string ProgramFolder(const std::string& argv0) {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  const std::string real_folder = ec ? std::string() : Absolute(exe.parent_path());
  struct stat self {};
  if (stat("/proc/self/exe", &self) != 0 || argv0.empty()) return real_folder;

  if (argv0.find('/') != std::string::npos) {
    if (SameFile(argv0, self)) {
      const std::filesystem::path folder = std::filesystem::path(argv0).parent_path();
      const std::string absolute = Absolute(folder.empty() ? std::filesystem::path("/") : folder);
      if (!absolute.empty()) return absolute;
    }
    return real_folder;
  }
  // Started by bare name: the shell found it on PATH. Only absolute entries are looked at (an
  // empty or relative entry means the current folder, which is never taken on trust).
  const char* path = std::getenv("PATH");
  std::string_view rest = path != nullptr ? path : "";
  while (!rest.empty()) {
    const std::size_t colon = rest.find(':');
    const std::string_view entry = rest.substr(0, colon);
    if (!entry.empty() && entry.front() == '/') {
      const std::filesystem::path candidate = std::filesystem::path(entry) / argv0;
      if (access(candidate.c_str(), X_OK) == 0) {
        // The first match is what the shell ran; if it is not us, argv[0] tells nothing.
        return SameFile(candidate, self) ? Absolute(entry) : real_folder;
      }
    }
    if (colon == std::string_view::npos) break;
    rest.remove_prefix(colon + 1);
  }
  return real_folder;
}

}  // namespace glimmerix::shell
