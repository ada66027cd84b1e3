// A fixed reference load for the whole-program CPU figures: how dear a wake-up is on this machine
// right now. Every 250 ms a timer thread wakes a worker thread through an eventfd (as the engine
// wakes the GUI), and the worker runs a fixed loop of about 20 us. bench/figures.py reads the
// worker's CPU time per wake-up from /proc/PID/task/TID/schedstat over the same interval as the
// program's CPU: the loop costs the same every time, so what changes from one interval to the
// next is what the kernel and the hypervisor charge for waking up. Four wake-ups a second add
// little to what is measured. Runs until killed; prints the worker's thread id on its first line.
#define _GNU_SOURCE
#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

static int wake_fd;
static volatile double result;

static void* Worker(void* unused) {
  (void)unused;
  printf("%d\n", (int)gettid());
  fflush(stdout);
  for (;;) {
    uint64_t count;
    if (read(wake_fd, &count, sizeof count) != sizeof count) continue;
    double sum = 0;
    for (int i = 0; i < 20000; ++i) sum += i * 1e-9;
    result = sum;
  }
  return NULL;
}

int main(void) {
  wake_fd = eventfd(0, EFD_CLOEXEC);
  pthread_t worker;
  if (wake_fd < 0 || pthread_create(&worker, NULL, Worker, NULL) != 0) return 1;
  const struct timespec period = {0, 250 * 1000 * 1000};
  for (;;) {
    nanosleep(&period, NULL);
    const uint64_t one = 1;
    if (write(wake_fd, &one, sizeof one) != sizeof one) return 1;
  }
}
