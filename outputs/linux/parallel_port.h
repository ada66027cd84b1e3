// The first parallel port, reached through the plug-in library libinpout32.so and its entry point
// extern "C" void Out32(short address, short value). A plug-in may also offer
//   extern "C" int Inpout32Problem(char* text, int size)  why the port cannot be written (copied,
//                                                          zero-terminated; empty while fine)
//   extern "C" void Inpout32Retry()                        try the port again at the next Out32
// A plug-in without them works as before, with no problem ever reported.
//
// Threads: Inpout32Library is loaded and released on the main thread. LptPort::WriteRegister runs
// on the engine thread (and on the main thread at shutdown); SwitchOff on the main thread. Release
// the library only after every LptPort made from it is switched off or destroyed.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "engine/ports.h"

namespace glimmerix {

// The plug-in's entry points.
using Out32Function = void (*)(short address, short value);
using ProblemFunction = int (*)(char* text, int size);
using RetryFunction = void (*)();

class Inpout32Library {
 public:
  // The file looked for, and named in the "File missing!" message.
  static constexpr const char* kFileName = "libinpout32.so";

  Inpout32Library() = default;
  ~Inpout32Library();
  Inpout32Library(const Inpout32Library&) = delete;
  Inpout32Library& operator=(const Inpout32Library&) = delete;

  // Loads kFileName by absolute path from program_folder first (only when that is an absolute
  // path), then from the system's library folders; never through LD_LIBRARY_PATH or the current
  // folder. Returns whether a library is loaded; error() then says why not.
  bool Load(const std::string& program_folder);
  bool loaded() const { return handle_ != nullptr; }
  // The loader's message for the last failed Load; empty after a successful one.
  const std::string& error() const { return error_; }
  // The full path of the loaded file, when the loader tells it.
  std::string path() const;

  // Out32 of the loaded library, or nullptr when it has none or nothing is loaded.
  Out32Function Out32() const;
  // The optional entry points; nullptr when the library has none.
  ProblemFunction Problem() const;
  RetryFunction Retry() const;

  // The folders searched after the program folder, in order.
  static const std::vector<std::string>& SystemFolders();

  // Unloads the library (does nothing when none is loaded).
  void Release();

 private:
  void* handle_ = nullptr;
  std::string error_;
};

// WriteRegister through Out32, looked up once when the port is made; a library without Out32 (or
// none loaded) makes every WriteRegister do nothing.
class LptPort : public ParallelPort {
 public:
  static constexpr int kData = 0x378;
  static constexpr int kControl = 0x37A;
  static constexpr int kControlAllOff = 0x0B;  // all four control lines low

  explicit LptPort(const Inpout32Library& library)
      : out32_(library.Out32()), problem_(library.Problem()), retry_(library.Retry()) {}

  // Out32(address, value); the plug-in writes the value's low byte to the register.
  void WriteRegister(int address, int value) override;

  // The shutdown's all-off values (0x378 <- 0, then 0x37A <- 0x0B); nothing is written afterwards.
  void SwitchOff();

  bool has_entry_point() const { return out32_ != nullptr; }

  // Why the port cannot be written, as the plug-in says (node, reason, what to do); empty while
  // it can, before the first write, or when the plug-in does not tell. Any thread.
  std::string problem() const;
  // Main thread: prints the problem on stderr (to) when there is one not yet said since the port
  // was made or last retried.
  void SayProblemOnce(std::FILE* to = stderr);
  // Main thread: a port that could not be opened is tried again at the next write (the "LPT" box
  // ticked again), and its outcome said again.
  void Retry();

 private:
  const Out32Function out32_;
  const ProblemFunction problem_;
  const RetryFunction retry_;
  bool problem_said_ = false;  // main thread only
  std::mutex mutex_;           // guards closed_, so no write follows the all-off values
  bool closed_ = false;
};

}  // namespace glimmerix
