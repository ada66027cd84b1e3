// Preloaded into the program by the stuck-controller tests: a write() to the node named by
// GLIMMERIX_SLOW_NODE lasts GLIMMERIX_SLOW_WRITE_MS milliseconds, or never returns when that is
// "never", as a hung device's hidraw write does whatever O_NONBLOCK says. Other writes go
// straight to the kernel.
#define _GNU_SOURCE
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

static int IsSlowNode(int fd) {
  const char* node = getenv("GLIMMERIX_SLOW_NODE");
  struct stat wanted, st;
  return node != NULL && fd > 2 && stat(node, &wanted) == 0 && fstat(fd, &st) == 0 &&
         st.st_ino == wanted.st_ino && st.st_dev == wanted.st_dev;
}

ssize_t write(int fd, const void* buffer, size_t length) {
  if (IsSlowNode(fd)) {
    const char* ms = getenv("GLIMMERIX_SLOW_WRITE_MS");
    if (ms != NULL && strcmp(ms, "never") == 0) {
      for (;;) pause();
    }
    const long total = ms != NULL ? atol(ms) : 0;
    struct timespec left = {total / 1000, (total % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
  }
  return syscall(SYS_write, fd, buffer, length);
}
