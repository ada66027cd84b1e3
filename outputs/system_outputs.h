// The light outputs of the computer the program runs on, and the keyboard input beside its lamps,
// as the program uses them. Each platform makes its own with OpenSystemOutputs()
// (outputs/<platform>/system_outputs.cpp); the USB controller is platform-neutral
// (usb_controller.h) and not part of this set.
//
// Threads: as each interface says. Every object here is made and destroyed on the main thread.
#pragma once

#include <memory>
#include <string>

#include "engine/ports.h"
#include "outputs/dmx_output.h"

namespace glimmerix {

// The first parallel port, reached through a plug-in library without which the program does not
// run. WriteRegister (engine thread, and the main thread at shutdown) does nothing until the
// library is loaded, and nothing after SwitchOff.
class ParallelPortOutput : public ParallelPort {
 public:
  // Main thread. Loads the plug-in from the program's folder or the system's; false when there
  // is none that can be used.
  virtual bool LoadLibrary(const std::string& program_folder) = 0;
  // The plug-in's file name, as the "File missing!" message names it.
  virtual std::string LibraryFileName() const = 0;
  // The shutdown's all-off values; nothing is written afterwards. Main thread.
  virtual void SwitchOff() = 0;
  // Unloads the plug-in, once the port is switched off. Main thread.
  virtual void ReleaseLibrary() = 0;
  // Why the port cannot be written (node, reason, what to do); empty while it can. Any thread.
  virtual std::string problem() const = 0;
  // Main thread: says the problem on stderr when there is one not yet said.
  virtual void SayProblemOnce() = 0;
  // Main thread: a port that could not be opened is tried again at the next write.
  virtual void Retry() = 0;
};

// The states of the three lock keys (Caps, Num, Scroll), kept while the program uses their lamps
// as light channels. Main thread.
class LockKeyStates {
 public:
  virtual ~LockKeyStates() = default;
  virtual void Save() = 0;
  // Brings Num Lock, then Caps Lock, then Scroll Lock back to the saved states.
  virtual void Restore() = 0;
};

struct SystemOutputs {
  std::unique_ptr<ParallelPortOutput> parallel_port;
  std::unique_ptr<LockKeyStates> lock_states;  // main thread
  std::unique_ptr<KeyboardLamps> lamps;        // engine thread: the lock lamps as light channels
  std::unique_ptr<HotKeyState> hot_keys;       // engine thread: the mode hot keys
  // The 18 channels to a DMX universe; null where the platform has no DMX daemon to send to.
  std::unique_ptr<DmxOutput> dmx;
};

// This computer's outputs (main thread). Each works, or does nothing, on its own: no display
// leaves the keyboard lamps dark and the hot keys up.
SystemOutputs OpenSystemOutputs();

}  // namespace glimmerix
