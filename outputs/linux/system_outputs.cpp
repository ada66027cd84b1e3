#include "outputs/system_outputs.h"

#include "outputs/library_parallel_port.h"
#include "outputs/linux/ola_dmx_sender.h"
#include "outputs/linux/parallel_port.h"
#include "outputs/linux/x11_keyboard.h"

namespace glimmerix {
namespace {

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
  outputs.parallel_port = std::make_unique<LibraryParallelPort<Inpout32Library>>();
  outputs.lock_states = std::make_unique<X11LockKeyStates>();
  outputs.lamps = std::make_unique<X11KeyboardLamps>();
  outputs.hot_keys = std::make_unique<X11HotKeys>();
  outputs.dmx = std::make_unique<DmxOutput>(MakeOlaDmxConnection());
  return outputs;
}

}  // namespace glimmerix
