#include "outputs/keyboard.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <cctype>
#include <cstdlib>
#include <mutex>

namespace glimmerix {

X11Connection::X11Connection() {
  // The engine thread and the main thread each talk to the server on their own connection.
  static std::once_flag threads;
  std::call_once(threads, [] { XInitThreads(); });
  const char* name = std::getenv("DISPLAY");
  if (name && *name) display_ = XOpenDisplay(name);
}

X11Connection::~X11Connection() {
  if (display_) XCloseDisplay(display_);
}

X11KeyboardLamps::X11KeyboardLamps() {
  Display* d = x_.display();
  if (!d) return;
  int event_base, error_base, major, minor;
  xtest_ = XTestQueryExtension(d, &event_base, &error_base, &major, &minor);
  // A keymap without the lamp's indicator gets no toggles for that key: with no lamp to read, a
  // wanted "on" would toggle the lock on every pass.
  auto key = [d](KeySym sym, const char* indicator) {
    const Atom name = XInternAtom(d, indicator, False);
    Bool lit = False;
    int index = 0;
    const bool has_lamp = XkbGetNamedIndicator(d, name, &index, &lit, nullptr, nullptr);
    return Key{has_lamp ? XKeysymToKeycode(d, sym) : KeyCode{0}, has_lamp ? name : None};
  };
  num_ = key(XK_Num_Lock, "Num Lock");
  caps_ = key(XK_Caps_Lock, "Caps Lock");
  scroll_ = key(XK_Scroll_Lock, "Scroll Lock");
}

X11KeyboardLamps::~X11KeyboardLamps() = default;

bool X11KeyboardLamps::connected() const {
  return x_.display() != nullptr;
}

const X11KeyboardLamps::Key* X11KeyboardLamps::Find(char key) const {
  switch (std::tolower(static_cast<unsigned char>(key))) {
    case 'c':
      return &caps_;
    case 'n':
      return &num_;
    case 's':
      return &scroll_;
    default:
      return nullptr;
  }
}

int X11KeyboardLamps::KeyState(char key) {
  Display* d = x_.display();
  const Key* k = Find(key);
  if (!d || !k) return 0;
  Bool lit = False;
  int index = 0;
  if (k->indicator != None &&
      !XkbGetNamedIndicator(d, k->indicator, &index, &lit, nullptr, nullptr)) {
    lit = False;
  }
  int state = lit ? 1 : 0;
  if (k->keycode != 0) {
    char keys[32];
    XQueryKeymap(d, keys);
    if (keys[k->keycode / 8] & (1 << (k->keycode % 8))) state |= -128;  // held: high bit set
  }
  return state;
}

void X11KeyboardLamps::SetLEDKey(char key, int newstate) {
  Display* d = x_.display();
  const Key* k = Find(key);
  if (!d || !k || k->keycode == 0 || !xtest_) return;
  if (KeyState(key) == newstate) return;
  XTestFakeKeyEvent(d, k->keycode, True, CurrentTime);
  XTestFakeKeyEvent(d, k->keycode, False, CurrentTime);
  XSync(d, False);
}

void X11KeyboardLamps::SaveLockStates() {
  oldstate1 = KeyState('c');
  oldstate2 = KeyState('n');
  oldstate3 = KeyState('s');
}

void X11KeyboardLamps::RestoreLockLEDs() {
  SetLEDKey('n', oldstate2);
  SetLEDKey('c', oldstate1);
  SetLEDKey('s', oldstate3);
}

X11HotKeys::X11HotKeys() {
  Display* d = x_.display();
  if (!d) return;
  auto code = [d](KeySym sym) { return static_cast<unsigned>(XKeysymToKeycode(d, sym)); };
  const KeySym syms[6][2] = {{XK_Shift_L, XK_Shift_R}, {XK_Alt_L, XK_Alt_R}, {XK_F5, NoSymbol},
                             {XK_F6, NoSymbol},        {XK_F7, NoSymbol},    {XK_F8, NoSymbol}};
  for (int i = 0; i < 6; ++i)
    for (int j = 0; j < 2; ++j)
      if (syms[i][j] != NoSymbol) keycodes_[i][j] = code(syms[i][j]);
}

X11HotKeys::~X11HotKeys() = default;

bool X11HotKeys::connected() const {
  return x_.display() != nullptr;
}

bool X11HotKeys::IsDown(HotKey key) {
  Display* d = x_.display();
  const int i = static_cast<int>(key);
  if (!d || i < 0 || i >= 6) return false;
  char keys[32];
  XQueryKeymap(d, keys);
  for (unsigned keycode : keycodes_[i]) {
    if (keycode != 0 && keycode < 256 && (keys[keycode / 8] & (1 << (keycode % 8)))) return true;
  }
  return false;
}

}  // namespace glimmerix
