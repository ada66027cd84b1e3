// The parallel port as the program is given it (ParallelPortOutput), over the platform's loader
// of the port's plug-in library. Library provides
//   static constexpr const char* kFileName;         the file, as "File missing!" names it
//   bool Load(const std::string& program_folder);  loads it from the program's folder
//   void Release();                                unloads it
// and the entry points LptPort takes (Out32(), Problem(), Retry()).
//
// Threads: as ParallelPortOutput says.
#pragma once

#include <memory>
#include <string>

#include "outputs/lpt_port.h"
#include "outputs/system_outputs.h"

namespace glimmerix {

template <class Library>
class LibraryParallelPort : public ParallelPortOutput {
 public:
  bool LoadLibrary(const std::string& program_folder) override {
    if (!library_.Load(program_folder)) return false;
    port_ = std::make_unique<LptPort>(library_);
    return true;
  }
  std::string LibraryFileName() const override { return Library::kFileName; }
  void WriteRegister(int address, int value) override {
    if (port_) port_->WriteRegister(address, value);
  }
  void SwitchOff() override {
    if (port_) port_->SwitchOff();
  }
  void ReleaseLibrary() override { library_.Release(); }
  std::string problem() const override { return port_ ? port_->problem() : std::string(); }
  void SayProblemOnce() override {
    if (port_) port_->SayProblemOnce();
  }
  void Retry() override {
    if (port_) port_->Retry();
  }

 private:
  Library library_;
  std::unique_ptr<LptPort> port_;  // made by LoadLibrary, before the engine thread starts
};

}  // namespace glimmerix
