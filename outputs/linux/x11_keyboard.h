// The keyboard's lock lamps and the hot keys' key states, on X11.
//
// Each lamp is switched by one of two means, chosen when the object is made from the server's
// keyboard map:
// - its lock key: when the key's state differs from the wanted one, one press and release of the
//   key is synthesised (XTest), which toggles the lock and with it the lamp. Used for Num Lock and
//   Caps Lock, whose keys lock the modifier their lamp shows on every stock map: the user's lock
//   states really change while this output runs (typing is affected), and the synthesised events
//   reach the focused window.
// - its XKB indicator, set directly (XkbSetNamedIndicator): no key event, no lock state changed.
//   Used for Scroll Lock, whose key drives no lamp on a stock map (a press there would only send
//   the focused program a key event), and for Num Lock or Caps Lock where their key does not lock
//   the lamp's modifier but the indicator accepts explicit changes.
// A lamp that neither means can change is left alone: no key press is ever sent that would not
// change a lamp. Either way a "toggle" turns the lamp to the opposite of what it shows, so the key
// state values below behave the same whatever the means.
//
// Threads: X connections are not shared. Each object opens its own connection when it is made
// and must then be used by one thread at a time (it may be made on one thread and handed to
// another). The engine thread and the main thread therefore each have their own object.
//
// Without an X display (a Wayland-only session, a headless machine) every call does nothing and
// every key reads as up and unlocked, silently.
#pragma once

#include <chrono>
#include <cstdint>

#include "engine/ports.h"

// Xlib's Display and xcb's connection, without pulling Xlib's macros into every user of this
// header.
struct _XDisplay;
struct xcb_connection_t;

namespace glimmerix {

// One Xlib connection to $DISPLAY (nullptr when there is none).
class X11Connection {
 public:
  X11Connection();
  ~X11Connection();
  X11Connection(const X11Connection&) = delete;
  X11Connection& operator=(const X11Connection&) = delete;

  _XDisplay* display() const { return display_; }

 private:
  _XDisplay* display_ = nullptr;
};

class X11KeyboardLamps : public KeyboardLamps {
 public:
  X11KeyboardLamps();
  ~X11KeyboardLamps() override;

  bool connected() const;

  // The key state value of a lock key ('n' Num Lock, 'c' Caps Lock, 's' Scroll Lock; upper case
  // too) as GetKeyState gives it: bit 0 is the lock, and while the key is held down the value is
  // negative (-128 unlocked, -127 locked), so neither 0 nor 1. Any other letter reads 0.
  int KeyState(char key);

  // Toggles the lamp once (by its means) when the key's state value differs from newstate (whole
  // values compared).
  void SetLockKey(char key, int newstate) override;

  // Records the three lock states into saved_caps, saved_num and saved_scroll.
  void SaveLockStates();
  // Brings Num Lock, then Caps Lock, then Scroll Lock back to the recorded states.
  void RestoreLockLEDs();

  int saved_caps = 0;    // Caps Lock key state when last saved
  int saved_num = 0;     // Num Lock
  int saved_scroll = 0;  // Scroll Lock

 private:
  enum class Means { kNone, kLockKey, kIndicator };
  struct Key {
    unsigned keycode = 0;         // 0: the keyboard has no such key
    unsigned long indicator = 0;  // atom of the lamp's XKB indicator name; 0: no such lamp
    Means means = Means::kNone;   // how SetLockKey toggles the lamp
  };
  const Key* Find(char key) const;

  X11Connection x_;
  Key num_, caps_, scroll_;
};

// Shift, Alt and F5..F8 held (either Shift or Alt key counts), from the X server's keymap.
//
// The server tells this connection (through XKB) whenever a modifier key goes down or up. While
// none is held no chord can be: every key reads as up and the server is asked nothing, so a call
// costs one read of the connection and wakes no other process. While one is held the keymap is
// read, and no call waits for the server: a call takes the reply to the keymap query an earlier
// call sent, if it has come, and sends the next, so the answer is the keyboard as it was about one
// engine pass (50 ms) earlier. Calls less than kSameReading after a query went out (the several
// keys one pass asks about) answer from the same reading without asking again. A stalled or lost
// server never holds up the caller: while a reply is more than kReplyLate overdue, and once the
// connection is lost, every key reads as up (a chord held when the server stalled must not act on
// every pass).
class X11HotKeys : public HotKeyState {
 public:
  X11HotKeys();
  ~X11HotKeys() override;
  X11HotKeys(const X11HotKeys&) = delete;
  X11HotKeys& operator=(const X11HotKeys&) = delete;

  static constexpr std::chrono::milliseconds kReplyLate{500};
  static constexpr std::chrono::milliseconds kSameReading{10};

  bool connected() const;
  bool IsDown(HotKey key) override;
  // Keymap queries sent since construction.
  std::uint64_t keymap_queries() const { return keymap_queries_; }

 private:
  void Refresh();
  // Selects XKB's modifier events and reads the modifiers once; without XKB the keymap is queried
  // whatever the modifiers.
  void WatchModifiers();

  xcb_connection_t* connection_ = nullptr;  // own connection to $DISPLAY; nullptr without one
  unsigned char xkb_event_ = 0;             // response type of XKB's events; 0 unwatched
  bool modifier_held_ = true;               // a modifier key is down (always, without XKB)
  std::uint64_t keymap_queries_ = 0;
  bool query_pending_ = false;
  unsigned query_sequence_ = 0;  // of the pending keymap query
  std::chrono::steady_clock::time_point query_sent_{};
  unsigned char keymap_[32] = {};  // bit per keycode, as last reported: set while held
  // Keycodes per HotKey (two for Shift and Alt: left and right); 0 where the keymap has none.
  unsigned keycodes_[6][2] = {};
};

}  // namespace glimmerix
