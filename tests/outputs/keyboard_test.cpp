// The keyboard lamps and hot keys against a real X server: a private Xvfb started for this
// program alone (so nothing else toggles its locks), with the stock keyboard map users have, where
// the Scroll Lock key drives no lamp.
#include "outputs/linux/x11_keyboard.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <string>

// Last: Xlib's macros (None, Bool, Status) would clash with the headers above.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>

#include "tests/support/key_press_probe.h"

extern char** environ;

namespace glimmerix {
namespace {

class X11Keyboard : public ::testing::Test {
 protected:
  // Xvfb picks a free display number itself and tells it through -displayfd, so test processes
  // running side by side never share a server.
  static void SetUpTestSuite() {
    int number_pipe[2];
    if (pipe(number_pipe) != 0) return;
    const std::string fd = std::to_string(number_pipe[1]);
    const char* argv[] = {"Xvfb",       "-displayfd", fd.c_str(),  "-screen", "0",
                          "640x480x24", "-noreset",   "-nolisten", "tcp",     nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, number_pipe[0]);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid;
    const int spawned =
        posix_spawnp(&pid, "Xvfb", &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(number_pipe[1]);
    std::string number;
    pollfd wait{number_pipe[0], POLLIN, 0};
    char c;
    while (spawned == 0 && poll(&wait, 1, 10000) == 1 && read(number_pipe[0], &c, 1) == 1 &&
           c != '\n')
      number += c;
    close(number_pipe[0]);
    if (spawned != 0) return;
    if (number.empty()) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
      return;
    }
    xvfb_ = pid;
    display_ = ":" + number;
    setenv("DISPLAY", display_.c_str(), 1);
  }
  static void TearDownTestSuite() {
    if (xvfb_ == 0) return;
    kill(xvfb_, SIGTERM);
    waitpid(xvfb_, nullptr, 0);
    xvfb_ = 0;
  }
  void SetUp() override {
    ASSERT_NE(xvfb_, 0) << "Xvfb could not be started";
    probe_ = XOpenDisplay(display_.c_str());
    ASSERT_NE(probe_, nullptr);
  }
  void TearDown() override {
    if (probe_) XCloseDisplay(probe_);
  }

  static void Shell(const std::string& command) {
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }

  // The lamp as the server shows it, read on a connection of the test's own.
  bool Lamp(char key) {
    unsigned bits = 0;
    XkbGetIndicatorState(probe_, XkbUseCoreKbd, &bits);
    const int bit = key == 'c' ? 0 : key == 'n' ? 1 : 2;
    return (bits >> bit) & 1;
  }

  static inline pid_t xvfb_ = 0;
  static inline std::string display_;
  Display* probe_ = nullptr;
};

TEST_F(X11Keyboard, LampsFollowTheWantedStatesAndComeBackOnRestore) {
  X11KeyboardLamps engine_side;
  X11KeyboardLamps main_side;
  ASSERT_TRUE(engine_side.connected());
  for (char key : {'n', 'c', 's'}) {
    const bool was = Lamp(key);
    EXPECT_EQ(engine_side.KeyState(key), was ? 1 : 0);
    engine_side.SetLockKey(key, was ? 1 : 0);  // already so: no toggle
    EXPECT_EQ(Lamp(key), was) << key;
    engine_side.SetLockKey(static_cast<char>(key - 'a' + 'A'), was ? 0 : 1);
    EXPECT_EQ(Lamp(key), !was) << key;
    EXPECT_EQ(engine_side.KeyState(key), was ? 0 : 1);
    engine_side.SetLockKey(key, was ? 0 : 1);
    EXPECT_EQ(Lamp(key), !was) << key << ": a repeated wanted state toggles nothing";
  }

  main_side.SaveLockStates();
  const bool caps = Lamp('c'), num = Lamp('n'), scroll = Lamp('s');
  EXPECT_EQ(main_side.saved_caps, caps ? 1 : 0);
  EXPECT_EQ(main_side.saved_num, num ? 1 : 0);
  EXPECT_EQ(main_side.saved_scroll, scroll ? 1 : 0);
  engine_side.SetLockKey('n', num ? 0 : 1);
  engine_side.SetLockKey('s', scroll ? 0 : 1);
  EXPECT_EQ(Lamp('c'), caps);
  main_side.RestoreLockLEDs();
  EXPECT_EQ(Lamp('c'), caps);
  EXPECT_EQ(Lamp('n'), num);
  EXPECT_EQ(Lamp('s'), scroll);
}

// Num Lock is toggled through its key, Scroll Lock through its indicator: a held key reads the same
// either way.
TEST_F(X11Keyboard, HeldLockKeyReadsNeitherZeroNorOneAndIsRestoredAgainst) {
  for (const auto& [key, name] : {std::pair{'n', "Num_Lock"}, std::pair{'s', "Scroll_Lock"}}) {
    SCOPED_TRACE(name);
    X11KeyboardLamps lamps;
    Shell(std::string("xdotool keydown ") + name);
    const int held = lamps.KeyState(static_cast<char>(key - 'a' + 'A'));
    const bool lamp_while_held = Lamp(key);
    lamps.SaveLockStates();
    Shell(std::string("xdotool keyup ") + name);
    EXPECT_NE(held, 0);
    EXPECT_NE(held, 1);
    EXPECT_EQ(held & 1, lamp_while_held ? 1 : 0) << "bit 0 is still the lock";
    EXPECT_EQ(key == 'n' ? lamps.saved_num : lamps.saved_scroll, held);

    const bool released = Lamp(key);
    EXPECT_EQ(lamps.KeyState(key), released ? 1 : 0);
    lamps.RestoreLockLEDs();  // a state saved while held never equals a released key's
    EXPECT_EQ(Lamp(key), !released);
  }
}

TEST_F(X11Keyboard, ScrollLockLampFollowsTheCallsWithoutKeyEventsToTheFocusedWindow) {
  testing::KeyPressProbe focused(display_);
  ASSERT_TRUE(focused.ok());
  focused.TakeFocus();
  X11KeyboardLamps lamps;
  for (int call = 0; call < 6; ++call) {
    const bool on = call % 2 == 0;
    lamps.SetLockKey('s', on ? 1 : 0);
    EXPECT_EQ(Lamp('s'), on) << "call " << call;
    EXPECT_EQ(lamps.KeyState('s'), on ? 1 : 0);
  }
  EXPECT_EQ(focused.Presses(XK_Scroll_Lock), 0) << "Scroll_Lock presses were synthesised";

  // Num Lock still changes through its key, which the window does see.
  const bool num = Lamp('n');
  lamps.SetLockKey('n', num ? 0 : 1);
  EXPECT_EQ(Lamp('n'), !num);
  EXPECT_EQ(focused.Presses(XK_Num_Lock), 1);
  lamps.SetLockKey('n', num ? 1 : 0);
}

// A keyboard map that takes Num Lock's modifier away leaves the key pressing nothing a lamp shows:
// no press is sent for it.
TEST_F(X11Keyboard, ALockKeyThatDrivesNoLampIsNeverPressed) {
  testing::KeyPressProbe focused(display_);
  ASSERT_TRUE(focused.ok());
  focused.TakeFocus();
  const bool was = Lamp('n');
  Shell("xmodmap -e 'clear mod2'");
  {
    X11KeyboardLamps lamps;
    for (int call = 0; call < 4; ++call) lamps.SetLockKey('n', call % 2 == 0 ? 1 : 0);
  }
  const int presses = focused.Presses(XK_Num_Lock);
  Shell("xmodmap -e 'add mod2 = Num_Lock'");
  EXPECT_EQ(presses, 0) << "Num_Lock presses that change no lamp were synthesised";
  EXPECT_EQ(Lamp('n'), was);
}

// The hot keys are read without waiting for the server, so a reading is about one call old:
// polled at the engine's pace, a change shows within a call or two.
bool Shows(X11HotKeys& keys, HotKey key, bool down) {
  for (int call = 0; call < 40; ++call) {
    if (keys.IsDown(key) == down) return true;
    usleep(25'000);
  }
  return false;
}

TEST_F(X11Keyboard, HotKeyReaderSeesAHeldChord) {
  X11HotKeys keys;
  ASSERT_TRUE(keys.connected());
  EXPECT_TRUE(Shows(keys, HotKey::kShift, false));
  Shell("xdotool keydown shift+alt+F8");
  EXPECT_TRUE(Shows(keys, HotKey::kF8, true)) << "a held F8 is never seen";
  const bool shift = keys.IsDown(HotKey::kShift), alt = keys.IsDown(HotKey::kAlt);
  const bool f5 = keys.IsDown(HotKey::kF5), f6 = keys.IsDown(HotKey::kF6);
  const bool f7 = keys.IsDown(HotKey::kF7);
  Shell("xdotool keyup shift+alt+F8");
  EXPECT_TRUE(shift && alt);
  EXPECT_FALSE(f5 || f6 || f7);
  EXPECT_TRUE(Shows(keys, HotKey::kF8, false)) << "a released F8 still reads as held";
  EXPECT_FALSE(keys.IsDown(HotKey::kShift) || keys.IsDown(HotKey::kAlt));
}

// The engine reads the hot keys in every pass, so with no modifier key held a pass asks the
// server nothing; and a reading asked for while a chord was held is never taken for the keyboard
// once the modifiers have gone up and one goes down again.
TEST_F(X11Keyboard, HotKeysAskTheServerOnlyWhileAModifierIsHeld) {
  X11HotKeys keys;
  ASSERT_TRUE(keys.connected());
  Shell("xdotool keydown F8");
  for (int pass = 0; pass < 10; ++pass) {
    EXPECT_FALSE(keys.IsDown(HotKey::kShift));
    usleep(25'000);
  }
  Shell("xdotool keyup F8");
  EXPECT_EQ(keys.keymap_queries(), 0u) << "the keymap was read with no modifier held";

  Shell("xdotool keydown shift+alt+F8");
  EXPECT_TRUE(Shows(keys, HotKey::kF8, true)) << "a held chord is never seen";
  Shell("xdotool keyup shift+alt+F8");
  EXPECT_TRUE(Shows(keys, HotKey::kShift, false));
  const auto queries = keys.keymap_queries();
  for (int pass = 0; pass < 10; ++pass) {
    EXPECT_FALSE(keys.IsDown(HotKey::kShift));
    usleep(25'000);
  }
  EXPECT_EQ(keys.keymap_queries(), queries) << "the keymap was read after the modifiers went up";

  Shell("xdotool keydown shift");
  EXPECT_TRUE(Shows(keys, HotKey::kShift, true));
  for (int pass = 0; pass < 10; ++pass) {
    EXPECT_FALSE(keys.IsDown(HotKey::kF8)) << "a reading from when F8 was held, pass " << pass;
    usleep(25'000);
  }
  Shell("xdotool keyup shift");
}

// The engine reads the hot keys in every pass: an X server that stops answering must not stop
// the lights with it.
TEST_F(X11Keyboard, AStalledServerHoldsNoHotKeyReading) {
  X11HotKeys keys;
  ASSERT_TRUE(keys.connected());
  Shell("xdotool keydown shift");
  EXPECT_TRUE(Shows(keys, HotKey::kShift, true));
  ASSERT_EQ(kill(xvfb_, SIGSTOP), 0);
  // One second of passes: a held key read during the stall is let go once the reply is late.
  auto passes = std::async(std::launch::async, [&keys] {
    bool down = true;
    for (int pass = 0; pass < 20; ++pass) {
      down = keys.IsDown(HotKey::kShift);
      usleep(50'000);
    }
    return down;
  });
  const bool returned = passes.wait_for(std::chrono::seconds(3)) == std::future_status::ready;
  kill(xvfb_, SIGCONT);
  EXPECT_TRUE(returned) << "a reading waited for the stalled X server";
  EXPECT_FALSE(passes.get()) << "a key held when the server stalled still reads as held";
  EXPECT_TRUE(Shows(keys, HotKey::kShift, true)) << "readings did not resume";
  Shell("xdotool keyup shift");
  EXPECT_TRUE(Shows(keys, HotKey::kShift, false));
}

}  // namespace
}  // namespace glimmerix
