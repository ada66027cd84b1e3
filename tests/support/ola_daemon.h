// OLA's daemon for a test, and what it puts on the wire.
//
// OlaDaemon runs olad on the loopback RPC port 9010 with a fresh config folder, every plug-in off
// but one (by default Art-Net on 127.0.0.1, broadcasting), no HTTP server, as the unprivileged
// user "olad" when the test runs as root (olad refuses root). Universe `universe` is patched to
// output port 0 of that plug-in's device, so with Art-Net its frames go out as ArtDmx packets on
// 127.0.0.1:6454. Tests that use it on the machine's own network take the ctest resource lock
// "olad": one daemon at a time there.
//
// ArtDmxListener receives those packets on a thread of its own (port 6454 shared with olad). olad
// sends them to 127.0.0.1, and of the two sockets on the port the one bound last receives them:
// call Rebind() after every start of olad.
#pragma once

#include <sys/types.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace glimmerix::testing {

class TempFolder;

// The one plug-in olad runs: its name as in its config file's ("artnet" for ola-artnet.conf) and
// that file's text.
struct OlaPlugin {
  std::string name;
  std::string config;
};
OlaPlugin ArtNetOnLoopback();

class OlaDaemon {
 public:
  explicit OlaDaemon(int universe = 1, OlaPlugin plugin = ArtNetOnLoopback());
  ~OlaDaemon();  // kills the daemon
  OlaDaemon(const OlaDaemon&) = delete;
  OlaDaemon& operator=(const OlaDaemon&) = delete;

  // Starts olad and patches the universe; false (with why) when it did not answer within 10 s.
  bool Start(std::string& why);
  void Kill();  // SIGKILL, then waits for it
  void Signal(int signo) const;
  bool running() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }

 private:
  int universe_;
  OlaPlugin plugin_;
  std::unique_ptr<TempFolder> config_;
  pid_t pid_ = -1;
};

struct ArtDmxFrame {
  std::chrono::steady_clock::time_point received;
  int port_address = 0;              // net, sub-net and universe of the packet
  std::vector<std::uint8_t> values;  // slot 1 first
};

class ArtDmxListener {
 public:
  ArtDmxListener();
  ~ArtDmxListener();
  ArtDmxListener(const ArtDmxListener&) = delete;
  ArtDmxListener& operator=(const ArtDmxListener&) = delete;

  bool ok() const { return fd_ >= 0; }
  // Binds the port anew (after olad bound it); waits until done.
  void Rebind();
  std::vector<ArtDmxFrame> Frames() const;
  std::size_t count() const;
  // Waits until a frame received after frame number `from` satisfies pred; false on timeout.
  bool WaitForFrame(std::size_t from, const std::function<bool(const ArtDmxFrame&)>& pred,
                    std::chrono::milliseconds timeout) const;

 private:
  void Run();
  static int Bind();
  int fd_ = -1;  // the listener thread's, once started
  std::atomic<bool> stop_{false};
  std::atomic<bool> rebind_{false};
  mutable std::mutex mutex_;  // guards frames_
  std::vector<ArtDmxFrame> frames_;
  std::thread thread_;
};

// The slot value (1-based slot) or 0 where the frame is shorter.
int Slot(const ArtDmxFrame& frame, int slot);

}  // namespace glimmerix::testing
