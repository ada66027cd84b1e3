#include "tests/e2e/window_frame.h"

#include <X11/Xlib.h>

namespace glimmerix::e2e {

QPoint FrameCorner(unsigned long w) {
  ::Display* d = XOpenDisplay(nullptr);
  if (d == nullptr) return {};
  Window frame = w;
  while (true) {
    Window root = 0, parent = 0, *children = nullptr;
    unsigned n = 0;
    if (!XQueryTree(d, frame, &root, &parent, &children, &n)) break;
    if (children) XFree(children);
    if (parent == root || parent == 0) break;
    frame = parent;
  }
  XWindowAttributes a{};
  const bool ok = XGetWindowAttributes(d, frame, &a) != 0;
  XCloseDisplay(d);
  return ok ? QPoint(a.x, a.y) : QPoint(-1, -1);
}

}  // namespace glimmerix::e2e
