#include "tests/support/sound_server.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <numbers>
#include <thread>

extern char** environ;

namespace glimmerix::testing {

bool TestServicesPresent() {
  const char* flag = std::getenv("GLIMMERIX_TEST_SERVICES");
  return flag && std::string(flag) == "1";
}

std::string WriteRawSamples(const std::vector<float>& samples) {
  const char* dir = std::getenv("XDG_RUNTIME_DIR");
  std::string path = std::string(dir ? dir : "/tmp") + "/capture-test-XXXXXX";
  const int fd = mkstemp(path.data());
  if (fd < 0) return {};
  close(fd);
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(samples.data()),
            static_cast<std::streamsize>(samples.size() * sizeof(float)));
  return path;
}

pid_t Spawn(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

void EndProcess(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
}

Player::Player(const std::vector<float>& samples, int latency_ms, const std::string& sink)
    : path_(WriteRawSamples(samples)) {
  std::vector<std::string> argv{"pacat",
                                "--playback",
                                "--raw",
                                "--format=float32le",
                                "--rate=22050",
                                "--channels=1",
                                "--latency-msec=" + std::to_string(latency_ms)};
  if (!sink.empty()) argv.push_back("--device=" + sink);
  argv.push_back(path_);
  pid_ = Spawn(argv);
}

void Player::Stop() {
  EndProcess(pid_);
  pid_ = -1;
  if (!path_.empty()) std::remove(path_.c_str());
  path_.clear();
}

bool KillSoundServer() {
  if (std::system("pulseaudio --kill >/dev/null 2>&1") != 0) return false;
  return WaitFor([] { return std::system("pactl info >/dev/null 2>&1") != 0; },
                 std::chrono::seconds(5)) <= std::chrono::seconds(5);
}

bool StartSoundServer() {
  const char* start = std::getenv("GLIMMERIX_TEST_START_SOUND_SERVER");
  return start && std::system(start) == 0;
}

namespace {
// The default sink's latency in us while it runs; -1 while it is idle or unknown.
long long RunningSinkLatencyUs() {
  FILE* pipe = popen("pactl list sinks 2>/dev/null", "r");
  if (!pipe) return -1;
  long long latency = -1;
  bool running = false;
  char line[512];
  while (std::fgets(line, sizeof line, pipe)) {
    long long us = 0;
    if (std::strstr(line, "State: RUNNING")) running = true;
    if (std::sscanf(line, " Latency: %lld usec", &us) == 1 && latency < 0) latency = us;
  }
  pclose(pipe);
  return running ? latency : -1;
}
}  // namespace

bool WaitForSinkSettled(std::chrono::milliseconds timeout) {
  // Low for half a second on end: the sink is not merely between two blocks rendered ahead.
  int low = 0;
  return WaitFor(
             [&] {
               const long long us = RunningSinkLatencyUs();
               low = us >= 0 && us < 50000 ? low + 1 : 0;
               return low >= 10;
             },
             timeout) <= timeout;
}

std::chrono::milliseconds WaitFor(const std::function<bool()>& pred,
                                  std::chrono::milliseconds timeout) {
  const auto start = std::chrono::steady_clock::now();
  while (true) {
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    if (pred()) return took;
    if (took > timeout) return timeout + std::chrono::milliseconds(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

std::vector<float> SineSamples(double hz, double amplitude, double seconds) {
  std::vector<float> s(static_cast<std::size_t>(seconds * 22050));
  for (std::size_t n = 0; n < s.size(); ++n) {
    s[n] = static_cast<float>(amplitude * std::sin(2 * std::numbers::pi * hz * n / 22050.0));
  }
  return s;
}

namespace {
std::string TemporaryFolder(const char* stem) {
  const char* dir = std::getenv("XDG_RUNTIME_DIR");
  std::string path = std::string(dir ? dir : "/tmp") + "/" + stem + "-XXXXXX";
  return mkdtemp(path.data()) ? path : std::string();
}
}  // namespace

StuckSoundServer::StuckSoundServer() : dir_(TemporaryFolder("stuck-server")) {
  path_ = dir_ + "/native";
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (dir_.empty() || path_.size() >= sizeof address.sun_path) return;
  std::memcpy(address.sun_path, path_.c_str(), path_.size() + 1);
  fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ >= 0 && (bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
                   listen(fd_, 64) != 0)) {
    close(fd_);
    fd_ = -1;
  }
}

StuckSoundServer::~StuckSoundServer() {
  if (fd_ >= 0) close(fd_);
  unlink(path_.c_str());
  rmdir(dir_.c_str());
}

StderrToFile::StderrToFile() : path_(WriteRawSamples({})) {
  std::fflush(stderr);
  saved_ = fcntl(2, F_DUPFD_CLOEXEC, 3);  // kept from the children the tests start
  const int fd = open(path_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd >= 0) {
    dup2(fd, 2);
    close(fd);
  }
}

StderrToFile::~StderrToFile() {
  std::fflush(stderr);
  if (saved_ >= 0) {
    dup2(saved_, 2);
    close(saved_);
  }
  std::remove(path_.c_str());
}

std::string StderrToFile::text() const {
  std::fflush(stderr);
  std::ifstream in(path_);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string CommandOutput(const std::string& command) {
  std::string text;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe)) text += buffer;
    pclose(pipe);
  }
  return text;
}

bool Pactl(const std::string& arguments) {
  return std::system(("pactl " + arguments + " >/dev/null 2>&1").c_str()) == 0;
}

int LoadNullSink(const std::string& name, const std::string& description) {
  const std::string index = CommandOutput(
      "pactl load-module module-null-sink sink_name=" + name +
      " format=float32le rate=22050 channels=1 'sink_properties=device.description=\"" +
      description + "\"' 2>/dev/null");
  return index.empty() ? -1 : std::atoi(index.c_str());
}

bool RunsOnPipeWire() {
  return CommandOutput("pactl info 2>/dev/null").find("PipeWire") != std::string::npos;
}

int Occurrences(const std::string& text, const std::string& needle) {
  int count = 0;
  for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) {
    ++count;
  }
  return count;
}

AlsaHome::AlsaHome(const std::string& config) : dir_(TemporaryFolder("alsa-home")) {
  std::ofstream(dir_ + "/.asoundrc") << config;
  setenv("HOME", dir_.c_str(), 1);
}

AlsaHome::~AlsaHome() {
  std::remove((dir_ + "/.asoundrc").c_str());
  rmdir(dir_.c_str());
}

}  // namespace glimmerix::testing
