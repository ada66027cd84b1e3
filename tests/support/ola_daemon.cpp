#include "tests/support/ola_daemon.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <utility>

#include "tests/support/temp_folder.h"

namespace glimmerix::testing {
namespace {

using namespace std::chrono_literals;

// Every plug-in of Debian 12's olad; all but the test's are switched off.
constexpr const char* kPlugins[] = {
    "artnet",  "dummy",   "e131",    "espnet",           "ftdidmx", "gpio",     "karate",
    "kinet",   "milinst", "opendmx", "openpixelcontrol", "osc",     "pathport", "renard",
    "sandnet", "shownet", "spi",     "stageprofi",       "uartdmx", "usbdmx",   "usbserial"};

bool RpcPortAnswers() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(9010);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(fd);
  return ok;
}

}  // namespace

OlaPlugin ArtNetOnLoopback() {
  return {"artnet",
          "enabled = true\nip = 127.0.0.1\nuse_loopback = true\nalways_broadcast = true\n"};
}

OlaDaemon::OlaDaemon(int universe, OlaPlugin plugin)
    : universe_(universe), plugin_(std::move(plugin)) {}

OlaDaemon::~OlaDaemon() {
  Kill();
}

bool OlaDaemon::Start(std::string& why) {
  if (RpcPortAnswers()) {
    why = "something already listens on 127.0.0.1:9010 (a system olad? stop it for the tests)";
    return false;
  }
  config_ = std::make_unique<TempFolder>();
  for (const char* plugin : kPlugins)
    if (plugin != plugin_.name)
      config_->Put(std::string("ola-") + plugin + ".conf", "enabled = false\n");
  config_->Put("ola-" + plugin_.name + ".conf", plugin_.config);
  const passwd* olad = getpwnam("olad");
  const bool as_root = geteuid() == 0;
  if (as_root) {
    if (!olad) {
      why = "no user olad (Debian package ola)";
      return false;
    }
    for (const auto& entry : std::filesystem::recursive_directory_iterator(config_->path()))
      (void)chown(entry.path().c_str(), olad->pw_uid, olad->pw_gid);
    (void)chown(config_->path().c_str(), olad->pw_uid, olad->pw_gid);
  }
  const std::string log = *config_ / "olad.log";
  pid_ = fork();
  if (pid_ == 0) {
    if (as_root && (setgid(olad->pw_gid) != 0 || setuid(olad->pw_uid) != 0)) _exit(126);
    if (chdir(config_->path().c_str()) != 0) _exit(126);
    execlp("olad", "olad", "--no-http", "--no-register-with-dns-sd", "-c", config_->path().c_str(),
           "-l", "2", static_cast<char*>(nullptr));
    _exit(127);
  }
  for (auto until = std::chrono::steady_clock::now() + 10s; !RpcPortAnswers();) {
    if (std::chrono::steady_clock::now() > until || waitpid(pid_, nullptr, WNOHANG) == pid_) {
      why = "olad did not answer on 127.0.0.1:9010";
      Kill();
      return false;
    }
    std::this_thread::sleep_for(50ms);
  }
  const std::string patch =
      "ola_patch -d 1 -p 0 -u " + std::to_string(universe_) + " >/dev/null 2>&1";
  for (int attempt = 0; attempt < 50; ++attempt) {
    if (std::system(patch.c_str()) == 0) return true;
    std::this_thread::sleep_for(100ms);
  }
  why = "ola_patch could not patch the " + plugin_.name + " port";
  return false;
}

void OlaDaemon::Kill() {
  if (pid_ <= 0) return;
  kill(pid_, SIGCONT);
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

void OlaDaemon::Signal(int signo) const {
  if (pid_ > 0) kill(pid_, signo);
}

ArtDmxListener::ArtDmxListener() {
  fd_ = Bind();
  if (fd_ >= 0) thread_ = std::thread([this] { Run(); });
}

void ArtDmxListener::Rebind() {
  rebind_ = true;
  while (rebind_) std::this_thread::sleep_for(10ms);
}

int ArtDmxListener::Bind() {
  const int fd_ = socket(AF_INET, SOCK_DGRAM, 0);
  const int one = 1;
  setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  timeval tv{0, 100000};
  setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(6454);
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  if (bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd_);
    return -1;
  }
  return fd_;
}

ArtDmxListener::~ArtDmxListener() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (fd_ >= 0) close(fd_);
}

void ArtDmxListener::Run() {
  std::uint8_t packet[1024];
  while (!stop_) {
    if (rebind_) {
      close(fd_);
      fd_ = Bind();
      rebind_ = false;
    }
    const ssize_t n = recv(fd_, packet, sizeof packet, 0);
    // ArtDmx: "Art-Net\0", opcode 0x5000 little-endian, version, sequence, physical, SubUni, Net,
    // length big-endian, then the slots.
    if (n < 18 || std::memcmp(packet, "Art-Net", 8) != 0 || packet[8] != 0x00 || packet[9] != 0x50)
      continue;
    const int length = std::min<int>((packet[16] << 8) | packet[17], static_cast<int>(n) - 18);
    ArtDmxFrame frame{std::chrono::steady_clock::now(), (packet[15] << 8) | packet[14],
                      std::vector<std::uint8_t>(packet + 18, packet + 18 + length)};
    std::lock_guard lock(mutex_);
    frames_.push_back(std::move(frame));
  }
}

std::vector<ArtDmxFrame> ArtDmxListener::Frames() const {
  std::lock_guard lock(mutex_);
  return frames_;
}

std::size_t ArtDmxListener::count() const {
  std::lock_guard lock(mutex_);
  return frames_.size();
}

bool ArtDmxListener::WaitForFrame(std::size_t from,
                                  const std::function<bool(const ArtDmxFrame&)>& pred,
                                  std::chrono::milliseconds timeout) const {
  const auto until = std::chrono::steady_clock::now() + timeout;
  do {
    {
      std::lock_guard lock(mutex_);
      for (std::size_t i = from; i < frames_.size(); ++i)
        if (pred(frames_[i])) return true;
    }
    std::this_thread::sleep_for(20ms);
  } while (std::chrono::steady_clock::now() < until);
  return false;
}

int Slot(const ArtDmxFrame& frame, int slot) {
  return slot >= 1 && slot <= static_cast<int>(frame.values.size()) ? frame.values[slot - 1] : 0;
}

}  // namespace glimmerix::testing
