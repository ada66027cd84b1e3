// A window of a test's own that counts the key presses reaching it while it has the keyboard focus,
// as the program in front of a user would see them. Include it after Qt and gtest headers: it pulls
// in Xlib, whose macros (None, Bool, Status) clash with theirs.
#pragma once

#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <unistd.h>

#include <string>

namespace glimmerix::testing {

class KeyPressProbe {
 public:
  // Opens its own connection to display_name (empty: $DISPLAY) and maps its window there.
  explicit KeyPressProbe(const std::string& display_name = "")
      : d_(XOpenDisplay(display_name.empty() ? nullptr : display_name.c_str())) {
    if (!d_) return;
    w_ = XCreateSimpleWindow(d_, DefaultRootWindow(d_), 600, 600, 200, 100, 0, 0, 0);
    XStoreName(d_, w_, "probe");
    XSelectInput(d_, w_, KeyPressMask | StructureNotifyMask);
    XMapWindow(d_, w_);
    for (XEvent e; XWindowEvent(d_, w_, StructureNotifyMask, &e), e.type != MapNotify;) {
    }
  }
  ~KeyPressProbe() {
    if (d_) XCloseDisplay(d_);
  }
  KeyPressProbe(const KeyPressProbe&) = delete;
  KeyPressProbe& operator=(const KeyPressProbe&) = delete;

  bool ok() const { return d_ != nullptr; }
  unsigned long window() const { return w_; }

  // Takes the focus directly, as works where no window manager runs.
  void TakeFocus() {
    XSetInputFocus(d_, w_, RevertToParent, CurrentTime);
    XSync(d_, False);
  }
  bool HasFocus() {
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(d_, &focus, &revert);
    return focus == w_;
  }

  // Presses of the key that reached the window so far (events the server sent within 100 ms).
  int Presses(KeySym sym) {
    XSync(d_, False);
    usleep(100'000);
    while (XPending(d_) > 0) {
      XEvent e;
      XNextEvent(d_, &e);
      if (e.type == KeyPress) ++presses_[e.xkey.keycode & 0xff];
    }
    return presses_[XKeysymToKeycode(d_, sym)];
  }

 private:
  Display* d_;
  Window w_ = 0;
  int presses_[256] = {};
};

}  // namespace glimmerix::testing
