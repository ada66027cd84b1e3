/* Sends a window the close request a window manager sends when the user clicks its close box:
 * a WM_PROTOCOLS ClientMessage carrying WM_DELETE_WINDOW.
 *   glimmerix-close-request WINDOW_ID   (decimal or 0x-hex) */
#include <X11/Xlib.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s WINDOW_ID\n", argv[0]);
    return 2;
  }
  Display* d = XOpenDisplay(NULL);
  if (d == NULL) {
    fprintf(stderr, "%s: cannot open display\n", argv[0]);
    return 1;
  }
  const Window w = (Window)strtoul(argv[1], NULL, 0);
  XEvent e = {0};
  e.xclient.type = ClientMessage;
  e.xclient.window = w;
  e.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
  e.xclient.format = 32;
  e.xclient.data.l[0] = (long)XInternAtom(d, "WM_DELETE_WINDOW", False);
  e.xclient.data.l[1] = CurrentTime;
  const Status ok = XSendEvent(d, w, False, NoEventMask, &e);
  XSync(d, False);
  XCloseDisplay(d);
  return ok ? 0 : 1;
}
