// The first parallel port, reached through the plug-in library libinpout32.so and its entry point
// extern "C" void Out32(short address, short value). A plug-in may also offer
//   extern "C" int Inpout32Problem(char* text, int size)  why the port cannot be written (copied,
//                                                          zero-terminated; empty while fine)
//   extern "C" void Inpout32Retry()                        try the port again at the next Out32
// A plug-in without them works as before, with no problem ever reported.
//
// The port itself, written through these, is LptPort (outputs/lpt_port.h).
//
// Threads: Inpout32Library is loaded and released on the main thread. Release the library only
// after every LptPort made from it is switched off or destroyed.
#pragma once

#include <string>
#include <vector>

#include "outputs/lpt_port.h"

namespace glimmerix {

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

}  // namespace glimmerix
