// The first parallel port, reached through the plug-in library libinpout32.so and its entry point
// extern "C" void Out32(short address, short value).
//
// Threads: Inpout32Library is loaded and released on the main thread. LptPort::LPT_Out runs on the
// engine thread (and on the main thread at shutdown); SwitchOff on the main thread. Release the
// library only after every LptPort made from it is switched off or destroyed.
#pragma once

#include <mutex>
#include <string>

#include "engine/ports.h"

namespace glimmerix {

// The plug-in's entry point.
using Out32Function = void (*)(short address, short value);

class Inpout32Library {
 public:
  // The file looked for, and named in the "File missing!" message.
  static constexpr const char* kFileName = "libinpout32.so";

  Inpout32Library() = default;
  ~Inpout32Library();
  Inpout32Library(const Inpout32Library&) = delete;
  Inpout32Library& operator=(const Inpout32Library&) = delete;

  // Loads kFileName from program_folder first, then by name through the loader's search path
  // (LD_LIBRARY_PATH, the system's library folders). An empty folder skips the first attempt.
  // Returns whether a library is loaded; error() then says why not.
  bool Load(const std::string& program_folder);
  bool loaded() const { return handle_ != nullptr; }
  // The loader's message for the last failed Load; empty after a successful one.
  const std::string& error() const { return error_; }
  // The full path of the loaded file, when the loader tells it.
  std::string path() const;

  // Out32 of the loaded library, or nullptr when it has none or nothing is loaded.
  Out32Function Out32() const;

  // Unloads the library (does nothing when none is loaded).
  void Release();

 private:
  void* handle_ = nullptr;
  std::string error_;
};

// LPT_Out through Out32, looked up once when the port is made; a library without Out32 (or none
// loaded) makes every LPT_Out do nothing.
class LptPort : public ParallelPort {
 public:
  static constexpr int kData = 0x378;
  static constexpr int kControl = 0x37A;
  static constexpr int kControlAllOff = 0x0B;  // all four control lines low

  explicit LptPort(const Inpout32Library& library) : out32_(library.Out32()) {}

  // Out32(address, value); the plug-in writes the value's low byte to the register.
  void LPT_Out(int address, int value) override;

  // The shutdown's all-off values (0x378 <- 0, then 0x37A <- 0x0B); nothing is written afterwards.
  void SwitchOff();

  bool has_entry_point() const { return out32_ != nullptr; }

 private:
  const Out32Function out32_;
  std::mutex mutex_;  // guards closed_, so no write follows the all-off values
  bool closed_ = false;
};

}  // namespace glimmerix
