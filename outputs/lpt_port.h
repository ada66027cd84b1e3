// The first parallel port written through a plug-in library's entry point
//   void Out32(short address, short value)
// and, where the plug-in offers them,
//   int Inpout32Problem(char* text, int size)  why the port cannot be written (copied,
//                                              zero-terminated; empty while fine)
//   void Inpout32Retry()                       try the port again at the next Out32
// Each platform loads the plug-in its own way (outputs/<platform>/parallel_port*.h); the port is
// the same everywhere.
//
// Threads: WriteRegister runs on the engine thread (and on the main thread at shutdown);
// SwitchOff, SayProblemOnce and Retry on the main thread. The library the entry points come from
// stays loaded until the port is switched off or destroyed.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

#include "engine/ports.h"

namespace glimmerix {

// The plug-in's entry points.
using Out32Function = void (*)(short address, short value);
using ProblemFunction = int (*)(char* text, int size);
using RetryFunction = void (*)();

// WriteRegister through Out32, looked up once when the port is made; a library without Out32 (or
// none loaded) makes every WriteRegister do nothing.
class LptPort : public ParallelPort {
 public:
  static constexpr int kData = 0x378;
  static constexpr int kControl = 0x37A;
  static constexpr int kControlAllOff = 0x0B;  // all four control lines low

  explicit LptPort(Out32Function out32, ProblemFunction problem = nullptr,
                   RetryFunction retry = nullptr)
      : out32_(out32), problem_(problem), retry_(retry) {}
  // The entry points of a loaded plug-in library (Out32(), Problem() and Retry(), each nullptr
  // where it has none).
  template <class Library>
  explicit LptPort(const Library& library)
      : LptPort(library.Out32(), library.Problem(), library.Retry()) {}

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
