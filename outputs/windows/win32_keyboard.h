// The keyboard's lock lamps and the hot keys' key states, on Windows.
//
// A lamp is switched by its lock key: when the key's state differs from the wanted one, one press
// and release of the key is synthesised (keybd_event), which toggles the lock and with it the lamp.
// The user's lock states really change while this output runs, and the synthesised events reach
// the focused window. Key states are read with GetKeyState: the calling thread's view of the
// keyboard, which follows the synthesised events once the system has taken them in.
//
// The hot keys are read with GetAsyncKeyState: the keyboard as it is at the call, whichever window
// has the focus.
//
// Threads: no state of their own; any thread, one object per thread as on the other platforms.
#pragma once

#include "engine/ports.h"

namespace glimmerix {

class Win32KeyboardLamps : public KeyboardLamps {
 public:
  // The key state value of a lock key ('n' Num Lock, 'c' Caps Lock, 's' Scroll Lock; upper case
  // too) as GetKeyState gives it: bit 0 is the lock, and while the key is held down the value is
  // negative (-128 unlocked, -127 locked). Any other letter reads 0.
  int KeyState(char key) const;

  // One press and release of the key when its state value differs from newstate (whole values
  // compared).
  void SetLockKey(char key, int newstate) override;

  // Records the three lock states into saved_caps, saved_num and saved_scroll.
  void SaveLockStates();
  // Brings Num Lock, then Caps Lock, then Scroll Lock back to the recorded states.
  void RestoreLockLEDs();

  int saved_caps = 0;
  int saved_num = 0;
  int saved_scroll = 0;
};

// Shift, Alt and F5..F8 held (either Shift or Alt key counts), as GetAsyncKeyState tells.
class Win32HotKeys : public HotKeyState {
 public:
  bool IsDown(HotKey key) override;
};

}  // namespace glimmerix
