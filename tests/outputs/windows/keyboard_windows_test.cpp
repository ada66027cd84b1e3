// The lock lamps and hot keys on Wine's own key state (no display: the X server's lamps are not
// involved), read back as the program reads them.
#include "outputs/windows/win32_keyboard.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace glimmerix {
namespace {

TEST(KeyboardWindows, ASynthesisedLockKeyPressTogglesWhatGetKeyStateShows) {
  Win32KeyboardLamps lamps;
  lamps.SaveLockStates();
  for (char key : {'c', 'n', 's'}) {
    const int before = lamps.KeyState(key);
    ASSERT_TRUE(before == 0 || before == 1) << key << ": " << before;
    lamps.SetLockKey(key, before ^ 1);
    EXPECT_EQ(lamps.KeyState(key), before ^ 1) << key;
    lamps.SetLockKey(key, before ^ 1);  // already so: no press
    EXPECT_EQ(lamps.KeyState(key), before ^ 1) << key;
  }
  lamps.RestoreLockLEDs();
  EXPECT_EQ(lamps.KeyState('c'), lamps.saved_caps);
  EXPECT_EQ(lamps.KeyState('n'), lamps.saved_num);
  EXPECT_EQ(lamps.KeyState('s'), lamps.saved_scroll);
  EXPECT_EQ(lamps.KeyState('x'), 0);
}

TEST(KeyboardWindows, HotKeysReadTheKeysHeldNow) {
  Win32HotKeys keys;
  EXPECT_FALSE(keys.IsDown(HotKey::kShift));
  EXPECT_FALSE(keys.IsDown(HotKey::kF6));
  keybd_event(VK_SHIFT, 0, 0, 0);
  keybd_event(VK_F6, 0, 0, 0);
  EXPECT_TRUE(keys.IsDown(HotKey::kShift));
  EXPECT_TRUE(keys.IsDown(HotKey::kF6));
  EXPECT_FALSE(keys.IsDown(HotKey::kF7));
  EXPECT_FALSE(keys.IsDown(HotKey::kAlt));
  keybd_event(VK_F6, 0, KEYEVENTF_KEYUP, 0);
  keybd_event(VK_SHIFT, 0, KEYEVENTF_KEYUP, 0);
  EXPECT_FALSE(keys.IsDown(HotKey::kShift));
  EXPECT_FALSE(keys.IsDown(HotKey::kF6));
}

}  // namespace
}  // namespace glimmerix
