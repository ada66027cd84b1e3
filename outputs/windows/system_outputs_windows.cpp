#include "outputs/system_outputs.h"

#include "outputs/library_parallel_port.h"
#include "outputs/windows/parallel_port_windows.h"
#include "outputs/windows/win32_keyboard.h"

namespace glimmerix {
namespace {

class Win32LockKeyStates : public LockKeyStates {
 public:
  void Save() override { lamps_.SaveLockStates(); }
  void Restore() override { lamps_.RestoreLockLEDs(); }

 private:
  Win32KeyboardLamps lamps_;
};

}  // namespace

SystemOutputs OpenSystemOutputs() {
  SystemOutputs outputs;
  outputs.parallel_port = std::make_unique<LibraryParallelPort<InpoutLibrary>>();
  outputs.lock_states = std::make_unique<Win32LockKeyStates>();
  outputs.lamps = std::make_unique<Win32KeyboardLamps>();
  outputs.hot_keys = std::make_unique<Win32HotKeys>();
  return outputs;
}

}  // namespace glimmerix
