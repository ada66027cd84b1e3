#include "outputs/windows/win32_keyboard.h"

#include <windows.h>

namespace glimmerix {
namespace {

// The virtual key of a lock key's letter, or 0.
int LockKey(char key) {
  switch (key) {
    case 'n':
    case 'N':
      return VK_NUMLOCK;
    case 'c':
    case 'C':
      return VK_CAPITAL;
    case 's':
    case 'S':
      return VK_SCROLL;
    default:
      return 0;
  }
}

}  // namespace

int Win32KeyboardLamps::KeyState(char key) const {
  const int vk = LockKey(key);
  if (vk == 0) return 0;
  // SHORT: held down is the sign bit, so a held key reads negative.
  return static_cast<SHORT>(GetKeyState(vk));
}

void Win32KeyboardLamps::SetLockKey(char key, int newstate) {
  const int vk = LockKey(key);
  if (vk == 0 || KeyState(key) == newstate) return;
  const BYTE scan = static_cast<BYTE>(MapVirtualKeyW(static_cast<UINT>(vk), MAPVK_VK_TO_VSC));
  // Num Lock is an extended key: without the flag the system reads the press as Pause.
  const DWORD extended = vk == VK_NUMLOCK ? KEYEVENTF_EXTENDEDKEY : 0;
  keybd_event(static_cast<BYTE>(vk), scan, extended, 0);
  keybd_event(static_cast<BYTE>(vk), scan, extended | KEYEVENTF_KEYUP, 0);
}

void Win32KeyboardLamps::SaveLockStates() {
  saved_caps = KeyState('c');
  saved_num = KeyState('n');
  saved_scroll = KeyState('s');
}

void Win32KeyboardLamps::RestoreLockLEDs() {
  SetLockKey('n', saved_num);
  SetLockKey('c', saved_caps);
  SetLockKey('s', saved_scroll);
}

bool Win32HotKeys::IsDown(HotKey key) {
  int vk = 0;
  switch (key) {
    case HotKey::kShift:
      vk = VK_SHIFT;
      break;
    case HotKey::kAlt:
      vk = VK_MENU;
      break;
    case HotKey::kF5:
      vk = VK_F5;
      break;
    case HotKey::kF6:
      vk = VK_F6;
      break;
    case HotKey::kF7:
      vk = VK_F7;
      break;
    case HotKey::kF8:
      vk = VK_F8;
      break;
  }
  return (GetAsyncKeyState(vk) & 0x8000) != 0;
}

}  // namespace glimmerix
