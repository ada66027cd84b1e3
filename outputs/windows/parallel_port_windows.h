// The first parallel port on Windows, through inpoutx64.dll: the 64-bit build of the port driver's
// library that users install beside the program (the 32-bit inpout32.dll cannot be loaded into a
// 64-bit process; both export the same Out32). It is loaded by its full path in the program's
// folder only - never through the search path, so no copy elsewhere can stand in for it - and
// Out32 is taken with GetProcAddress. The port itself is LptPort (outputs/lpt_port.h).
//
// Threads: loaded and released on the main thread. Release it only after every LptPort made from
// it is switched off or destroyed.
#pragma once

#include <string>

#include "outputs/lpt_port.h"

namespace glimmerix {

class InpoutLibrary {
 public:
  // The file looked for, and named in the "File missing!" message.
  static constexpr const char* kFileName = "inpoutx64.dll";

  InpoutLibrary() = default;
  ~InpoutLibrary();
  InpoutLibrary(const InpoutLibrary&) = delete;
  InpoutLibrary& operator=(const InpoutLibrary&) = delete;

  // Loads program_folder\inpoutx64.dll (program_folder in UTF-8, absolute). Returns whether it is
  // loaded; error() then says why not, naming the file.
  bool Load(const std::string& program_folder);
  bool loaded() const { return module_ != nullptr; }
  const std::string& error() const { return error_; }

  // Out32 of the loaded library, or nullptr when it has none or nothing is loaded. The driver's
  // library tells no problem and has nothing to retry: those two are always nullptr.
  Out32Function Out32() const;
  ProblemFunction Problem() const { return nullptr; }
  RetryFunction Retry() const { return nullptr; }

  void Release();

 private:
  void* module_ = nullptr;  // HMODULE
  std::string error_;
};

}  // namespace glimmerix
