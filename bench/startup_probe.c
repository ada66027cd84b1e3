// Start-up time of the program: from exec to its tray icon in place (a window of class
// "glimmerix" carrying _XEMBED_INFO, reparented away from the root and viewable). Starts the
// program in FOLDER (as ./glimmerix, the folder its current folder), polls the display every
// millisecond, prints the milliseconds and leaves the program running; its pid on the second
// line. Exit status 1 when no icon showed within 10 s.
//   glimmerix-startup-probe FOLDER
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static double Now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

static int IsProgram(Display* d, Window w) {
  XClassHint hint = {0};
  int yes = 0;
  if (XGetClassHint(d, w, &hint)) {
    yes = hint.res_name && strcmp(hint.res_name, "glimmerix") == 0;
    if (hint.res_name) XFree(hint.res_name);
    if (hint.res_class) XFree(hint.res_class);
  }
  return yes;
}

static int IsTrayIcon(Display* d, Window w, Atom xembed) {
  Window root, parent, *kids = NULL;
  unsigned n = 0;
  if (!XQueryTree(d, w, &root, &parent, &kids, &n)) return 0;
  if (kids) XFree(kids);
  if (parent == root) return 0;
  Atom type;
  int format;
  unsigned long items, after;
  unsigned char* data = NULL;
  int embedded = XGetWindowProperty(d, w, xembed, 0, 2, False, AnyPropertyType, &type, &format,
                                    &items, &after, &data) == Success &&
                 items > 0;
  if (data) XFree(data);
  XWindowAttributes a;
  return embedded && XGetWindowAttributes(d, w, &a) && a.map_state == IsViewable;
}

// Depth-first search below w for the program's tray icon.
static int Find(Display* d, Window w, Atom xembed) {
  if (IsProgram(d, w) && IsTrayIcon(d, w, xembed)) return 1;
  Window root, parent, *kids = NULL;
  unsigned n = 0;
  if (!XQueryTree(d, w, &root, &parent, &kids, &n)) return 0;
  int found = 0;
  for (unsigned i = 0; i < n && !found; ++i) found = Find(d, kids[i], xembed);
  if (kids) XFree(kids);
  return found;
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
    return 2;
  }
  Display* d = XOpenDisplay(NULL);
  if (!d) {
    fprintf(stderr, "no display\n");
    return 2;
  }
  const Atom xembed = XInternAtom(d, "_XEMBED_INFO", False);
  const double start = Now();
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(argv[1]) != 0) _exit(127);
    // The program's output goes to FOLDER/program.log, not to whoever reads ours.
    if (!freopen("program.log", "a", stdout) || dup2(fileno(stdout), 2) < 0) _exit(127);
    execl("./glimmerix", "./glimmerix", (char*)NULL);
    _exit(127);
  }
  while (Now() - start < 10000) {
    if (Find(d, DefaultRootWindow(d), xembed)) {
      printf("%.1f\n%d\n", Now() - start, (int)pid);
      return 0;
    }
    usleep(1000);
  }
  printf("timeout\n%d\n", (int)pid);
  return 1;
}
