#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "outputs/linux/x11_keyboard.h"

namespace glimmerix {
namespace {

TEST(KeyboardWithoutDisplay, EveryCallDoesNothingAndKeysReadUp) {
  const char* had = std::getenv("DISPLAY");
  const std::string saved = had ? had : "";
  for (const char* display : {"", ":4097"}) {
    setenv("DISPLAY", display, 1);
    X11KeyboardLamps lamps;
    X11HotKeys keys;
    EXPECT_FALSE(lamps.connected());
    EXPECT_FALSE(keys.connected());
    lamps.SetLockKey('n', 1);
    lamps.SaveLockStates();
    lamps.RestoreLockLEDs();
    EXPECT_EQ(lamps.KeyState('c'), 0);
    EXPECT_EQ(lamps.saved_caps | lamps.saved_num | lamps.saved_scroll, 0);
    for (HotKey k : {HotKey::kShift, HotKey::kAlt, HotKey::kF5, HotKey::kF8})
      EXPECT_FALSE(keys.IsDown(k));
  }
  if (had)
    setenv("DISPLAY", saved.c_str(), 1);
  else
    unsetenv("DISPLAY");
}

}  // namespace
}  // namespace glimmerix
