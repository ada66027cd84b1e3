#include "app/shell/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string_view>

namespace glimmerix::shell {

std::string InstanceLockPath() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::filesystem::path folder;
  if (runtime != nullptr && runtime[0] != '\0') {
    folder = runtime;
  } else {
    std::error_code ec;
    folder = std::filesystem::temp_directory_path(ec);
    if (ec) folder = "/tmp";
  }
  return (folder / "Glimmerix").string();
}

SingleInstance::SingleInstance(const std::string& path) {
  // O_NOFOLLOW: in a shared temp folder nobody gets us to create or lock a file elsewhere.
  fd_ = open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd_ < 0) return;
  int rc;
  while ((rc = flock(fd_, LOCK_EX | LOCK_NB)) < 0 && errno == EINTR) {
  }
  if (rc < 0 && errno == EWOULDBLOCK) first_ = false;
}

SingleInstance::~SingleInstance() {
  if (fd_ >= 0) close(fd_);
}

namespace {

int g_pipe[2] = {-1, -1};
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

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
  for (int s : kSignals) sigaction(s, &sa, nullptr);
}

void TerminationSignals::DefaultsBack() {
  for (int s : kSignals) signal(s, SIG_DFL);
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

std::string ChoosePlatform(const char* qt_qpa_platform, const char* display,
                           const char* wayland_display) {
  auto set = [](const char* v) { return v != nullptr && v[0] != '\0'; };
  if (set(qt_qpa_platform)) return {};
  if (set(display)) return "xcb;offscreen";  // a display that cannot be reached: headless
  if (set(wayland_display)) return {};
  return "offscreen";
}

std::string ProgramFolder(const std::string& argv0) {
  if (argv0.find('/') != std::string::npos) {
    const std::filesystem::path folder = std::filesystem::path(argv0).parent_path();
    return folder.empty() ? std::string("/") : folder.string();
  }
  // Started by bare name: the shell found it on PATH, so look where the shell looked.
  const char* path = std::getenv("PATH");
  std::string_view rest = path != nullptr ? path : "";
  while (!argv0.empty()) {
    const std::size_t colon = rest.find(':');
    const std::filesystem::path folder = colon == 0 || rest.empty()
                                             ? std::filesystem::path(".")
                                             : std::filesystem::path(rest.substr(0, colon));
    if (access((folder / argv0).c_str(), X_OK) == 0) return folder.string();
    if (colon == std::string_view::npos) break;
    rest.remove_prefix(colon + 1);
  }
  return ".";
}

}  // namespace glimmerix::shell
