#include "outputs/system_outputs.h"

#include "outputs/linux/ola_dmx_sender.h"
#include "outputs/linux/parallel_port.h"
#include "outputs/linux/x11_keyboard.h"

namespace glimmerix {
namespace {

class Inpout32ParallelPort : public ParallelPortOutput {
 public:
  bool LoadLibrary(const std::string& program_folder) override {
    if (!library_.Load(program_folder)) return false;
    port_ = std::make_unique<LptPort>(library_);
    return true;
  }
  std::string LibraryFileName() const override { return Inpout32Library::kFileName; }
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
  Inpout32Library library_;
  std::unique_ptr<LptPort> port_;  // made by LoadLibrary, before the engine thread starts
};

class X11LockKeyStates : public LockKeyStates {
 public:
  void Save() override { lamps_.SaveLockStates(); }
  void Restore() override { lamps_.RestoreLockLEDs(); }

 private:
  X11KeyboardLamps lamps_;  // a connection of its own: the engine thread has the other
};

}  // namespace

SystemOutputs OpenSystemOutputs() {
  SystemOutputs outputs;
  outputs.parallel_port = std::make_unique<Inpout32ParallelPort>();
  outputs.lock_states = std::make_unique<X11LockKeyStates>();
  outputs.lamps = std::make_unique<X11KeyboardLamps>();
  outputs.hot_keys = std::make_unique<X11HotKeys>();
  outputs.dmx = std::make_unique<DmxOutput>(MakeOlaDmxConnection());
  return outputs;
}

}  // namespace glimmerix
