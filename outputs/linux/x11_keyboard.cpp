#include "outputs/linux/x11_keyboard.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <mutex>

// xcb's XKB header is C and names a field "explicit"; renamed while it is read, as Qt does.
#define explicit xkb_explicit
#include <xcb/xkb.h>
#undef explicit

namespace glimmerix {
namespace {

// Follows XKB's state events (xkb_event: their response type, 0 when none were selected).
void TakeModifierEvent(const xcb_generic_event_t* event, unsigned char xkb_event,
                       bool& modifier_held) {
  if (xkb_event == 0 || (event->response_type & 0x7f) != xkb_event) return;
  const auto* state = reinterpret_cast<const xcb_xkb_state_notify_event_t*>(event);
  if (state->xkbType == XCB_XKB_STATE_NOTIFY) modifier_held = state->baseMods != 0;
}

// Whether one press of the key locks a modifier that the lamp shows, so that a synthesised press
// and release toggles the lamp.
bool LockKeyDrivesLamp(XkbDescPtr map, unsigned keycode, const XkbIndicatorMapRec& lamp) {
  if (!map || !map->server || !map->map || keycode < map->min_key_code ||
      keycode > map->max_key_code)
    return false;
  if (lamp.mods.mask == 0 ||
      (lamp.which_mods & (XkbIM_UseLocked | XkbIM_UseEffective | XkbIM_UseCompat)) == 0)
    return false;
  const XkbAction* action = XkbKeyAction(map, keycode, 0);
  if (!action || action->type != XkbSA_LockMods) return false;
  const unsigned locked =
      (action->mods.flags & XkbSA_UseModMapMods) ? map->map->modmap[keycode] : action->mods.mask;
  return (locked & lamp.mods.mask) != 0;
}

}  // namespace

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
  const bool xtest = XTestQueryExtension(d, &event_base, &error_base, &major, &minor);
  XkbDescPtr map = XkbGetMap(
      d, XkbKeyTypesMask | XkbKeySymsMask | XkbKeyActionsMask | XkbModifierMapMask, XkbUseCoreKbd);
  // A keymap without the lamp's indicator gets no toggles for that key: with no lamp to read, a
  // wanted "on" would toggle the lock on every pass.
  auto key = [&](KeySym sym, const char* indicator, bool indicator_first) {
    const Atom name = XInternAtom(d, indicator, False);
    XkbIndicatorMapRec lamp{};
    Bool lit = False;
    int index = 0;
    if (!XkbGetNamedIndicator(d, name, &index, &lit, &lamp, nullptr)) return Key{};
    Key k{XKeysymToKeycode(d, sym), name, Means::kNone};
    const bool by_key = xtest && LockKeyDrivesLamp(map, k.keycode, lamp);
    const bool by_indicator = (lamp.flags & XkbIM_NoExplicit) == 0;
    if (by_indicator && (indicator_first || !by_key))
      k.means = Means::kIndicator;
    else if (by_key)
      k.means = Means::kLockKey;
    return k;
  };
  num_ = key(XK_Num_Lock, "Num Lock", false);
  caps_ = key(XK_Caps_Lock, "Caps Lock", false);
  scroll_ = key(XK_Scroll_Lock, "Scroll Lock", true);
  if (map) XkbFreeKeyboard(map, 0, True);
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

void X11KeyboardLamps::SetLockKey(char key, int newstate) {
  Display* d = x_.display();
  const Key* k = Find(key);
  if (!d || !k || k->means == Means::kNone) return;
  const int state = KeyState(key);
  if (state == newstate) return;
  if (k->means == Means::kLockKey) {
    XTestFakeKeyEvent(d, k->keycode, True, CurrentTime);
    XTestFakeKeyEvent(d, k->keycode, False, CurrentTime);
  } else {
    XkbSetNamedIndicator(d, k->indicator, True, (state & 1) == 0, False, nullptr);
  }
  XSync(d, False);
}

void X11KeyboardLamps::SaveLockStates() {
  saved_caps = KeyState('c');
  saved_num = KeyState('n');
  saved_scroll = KeyState('s');
}

void X11KeyboardLamps::RestoreLockLEDs() {
  SetLockKey('n', saved_num);
  SetLockKey('c', saved_caps);
  SetLockKey('s', saved_scroll);
}

X11HotKeys::X11HotKeys() {
  const char* name = std::getenv("DISPLAY");
  if (!name || !*name) return;
  connection_ = xcb_connect(name, nullptr);
  if (xcb_connection_has_error(connection_)) {
    xcb_disconnect(connection_);
    connection_ = nullptr;
    return;
  }
  // Keysym to keycode as Xlib's XKeysymToKeycode does it: the first keycode carrying the keysym,
  // looking through the keymap's first column, then its second, and so on.
  const xcb_setup_t* setup = xcb_get_setup(connection_);
  const int first = setup->min_keycode, count = setup->max_keycode - setup->min_keycode + 1;
  xcb_get_keyboard_mapping_reply_t* mapping = xcb_get_keyboard_mapping_reply(
      connection_, xcb_get_keyboard_mapping(connection_, setup->min_keycode, count), nullptr);
  if (!mapping) return;
  const xcb_keysym_t* keysyms = xcb_get_keyboard_mapping_keysyms(mapping);
  const int columns = mapping->keysyms_per_keycode;
  const int listed = xcb_get_keyboard_mapping_keysyms_length(mapping);
  auto code = [&](xcb_keysym_t sym) -> unsigned {
    for (int column = 0; column < columns; ++column)
      for (int k = 0; k < count && k * columns + column < listed; ++k)
        if (keysyms[k * columns + column] == sym) return static_cast<unsigned>(first + k);
    return 0;
  };
  const xcb_keysym_t syms[6][2] = {{XK_Shift_L, XK_Shift_R},
                                   {XK_Alt_L, XK_Alt_R},
                                   {XK_F5, 0},
                                   {XK_F6, 0},
                                   {XK_F7, 0},
                                   {XK_F8, 0}};
  for (int i = 0; i < 6; ++i)
    for (int j = 0; j < 2; ++j)
      if (syms[i][j] != 0) keycodes_[i][j] = code(syms[i][j]);
  std::free(mapping);
  WatchModifiers();
}

void X11HotKeys::WatchModifiers() {
  const xcb_query_extension_reply_t* xkb = xcb_get_extension_data(connection_, &xcb_xkb_id);
  if (!xkb || !xkb->present) return;
  xcb_xkb_use_extension_reply_t* use = xcb_xkb_use_extension_reply(
      connection_, xcb_xkb_use_extension(connection_, XCB_XKB_MAJOR_VERSION, XCB_XKB_MINOR_VERSION),
      nullptr);
  const bool supported = use && use->supported;
  std::free(use);
  if (!supported) return;
  xcb_xkb_select_events_details_t details{};
  details.affectState = XCB_XKB_STATE_PART_MODIFIER_BASE;
  details.stateDetails = XCB_XKB_STATE_PART_MODIFIER_BASE;
  xcb_generic_error_t* error = xcb_request_check(
      connection_,
      xcb_xkb_select_events_aux_checked(connection_, XCB_XKB_ID_USE_CORE_KBD,
                                        XCB_XKB_EVENT_TYPE_STATE_NOTIFY, 0, 0, 0, 0, &details));
  if (error) {
    std::free(error);
    return;
  }
  const xcb_xkb_get_state_cookie_t asked = xcb_xkb_get_state(connection_, XCB_XKB_ID_USE_CORE_KBD);
  xcb_xkb_get_state_reply_t* state = xcb_xkb_get_state_reply(connection_, asked, nullptr);
  if (!state) return;
  modifier_held_ = state->baseMods != 0;
  std::free(state);
  xkb_event_ = xkb->first_event;
  // Events already read came before the reply on the wire; those the server sent before it
  // read the state are older than the state just taken.
  while (xcb_generic_event_t* event = xcb_poll_for_queued_event(connection_)) {
    if (event->full_sequence >= asked.sequence)
      TakeModifierEvent(event, xkb_event_, modifier_held_);
    std::free(event);
  }
}

X11HotKeys::~X11HotKeys() {
  if (connection_) xcb_disconnect(connection_);
}

bool X11HotKeys::connected() const {
  return connection_ != nullptr;
}

void X11HotKeys::Refresh() {
  if (!connection_) return;
  if (xcb_connection_has_error(connection_)) {
    std::memset(keymap_, 0, sizeof keymap_);
    return;
  }
  while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
    TakeModifierEvent(event, xkb_event_, modifier_held_);
    std::free(event);
  }
  if (!modifier_held_) {
    // No chord can be held, and a reading asked for before the modifiers went up must not be
    // taken for the keyboard as it is when one goes down again.
    if (query_pending_) xcb_discard_reply(connection_, query_sequence_);
    query_pending_ = false;
    std::memset(keymap_, 0, sizeof keymap_);
    return;
  }
  const auto now = std::chrono::steady_clock::now();
  // The calls of one pass come microseconds apart: they answer from one reading.
  if (query_pending_ && now - query_sent_ < kSameReading) return;
  if (query_pending_) {
    void* reply = nullptr;
    xcb_generic_error_t* error = nullptr;
    if (!xcb_poll_for_reply(connection_, query_sequence_, &reply, &error)) {
      if (now - query_sent_ > kReplyLate) {
        std::memset(keymap_, 0, sizeof keymap_);
      }
      return;
    }
    query_pending_ = false;
    if (reply) {
      std::memcpy(keymap_, static_cast<xcb_query_keymap_reply_t*>(reply)->keys, sizeof keymap_);
    }
    std::free(reply);
    std::free(error);
  }
  query_sequence_ = xcb_query_keymap(connection_).sequence;
  ++keymap_queries_;
  query_sent_ = now;
  query_pending_ = true;
  xcb_flush(connection_);
}

bool X11HotKeys::IsDown(HotKey key) {
  const int i = static_cast<int>(key);
  if (!connection_ || i < 0 || i >= 6) return false;
  Refresh();
  for (unsigned keycode : keycodes_[i]) {
    if (keycode != 0 && keycode < 256 && (keymap_[keycode / 8] & (1 << (keycode % 8)))) return true;
  }
  return false;
}

}  // namespace glimmerix
