#include "engine/capture/pulse_event_loop.h"

#include <gtest/gtest.h>
#include <pulse/context.h>
#include <pulse/rtclock.h>
#include <pulse/timeval.h>
#include <unistd.h>

#include <vector>

namespace glimmerix {
namespace {

struct Pipe {
  int fds[2] = {-1, -1};
  Pipe() { EXPECT_EQ(pipe(fds), 0); }
  ~Pipe() {
    for (int fd : fds) {
      if (fd >= 0) close(fd);
    }
  }
  void CloseWriter() {
    close(fds[1]);
    fds[1] = -1;
  }
};

struct IoSeen {
  std::vector<pa_io_event_flags_t> calls;
  int destroyed = 0;
  bool free_itself = false;
};

void OnIo(pa_mainloop_api* api, pa_io_event* e, int, pa_io_event_flags_t flags, void* user) {
  auto* seen = static_cast<IoSeen*>(user);
  seen->calls.push_back(flags);
  if (seen->free_itself) api->io_free(e);
}

void OnIoDestroyed(pa_mainloop_api*, pa_io_event*, void* user) {
  ++static_cast<IoSeen*>(user)->destroyed;
}

TEST(PulseEventLoop, DescriptorsAreReportedAsAskedAndAHangUpAlways) {
  PulseEventLoop loop;
  pa_mainloop_api* api = loop.api();
  Pipe pipe;
  IoSeen seen;
  pa_io_event* e = api->io_new(api, pipe.fds[0], PA_IO_EVENT_INPUT, &OnIo, &seen);

  EXPECT_EQ(loop.Iterate(0), 0);  // nothing to read: no call, no wait
  ASSERT_EQ(write(pipe.fds[1], "x", 1), 1);
  EXPECT_EQ(loop.Iterate(0), 1);
  ASSERT_EQ(seen.calls.size(), 1u);
  EXPECT_EQ(seen.calls[0], PA_IO_EVENT_INPUT);

  // Switched off, readable data no longer calls; a hang-up still does (libpulse relies on it).
  api->io_enable(e, PA_IO_EVENT_NULL);
  EXPECT_EQ(loop.Iterate(0), 0);
  pipe.CloseWriter();
  EXPECT_EQ(loop.Iterate(0), 1);
  ASSERT_EQ(seen.calls.size(), 2u);
  EXPECT_TRUE(seen.calls[1] & PA_IO_EVENT_HANGUP);
  EXPECT_FALSE(seen.calls[1] & PA_IO_EVENT_INPUT);
}

TEST(PulseEventLoop, AnEventFreedInItsOwnCallbackIsDestroyedOnceAfterwards) {
  Pipe pipe;
  IoSeen freed, kept;
  {
    PulseEventLoop loop;
    pa_mainloop_api* api = loop.api();
    freed.free_itself = true;
    api->io_set_destroy(api->io_new(api, pipe.fds[0], PA_IO_EVENT_INPUT, &OnIo, &freed),
                        &OnIoDestroyed);
    api->io_set_destroy(api->io_new(api, pipe.fds[0], PA_IO_EVENT_INPUT, &OnIo, &kept),
                        &OnIoDestroyed);
    ASSERT_EQ(write(pipe.fds[1], "x", 1), 1);
    EXPECT_EQ(loop.Iterate(0), 2);
    EXPECT_EQ(freed.destroyed, 1);
    EXPECT_EQ(loop.io_count(), 1u);
    EXPECT_EQ(loop.Iterate(0), 1);  // the freed one is never called again
    EXPECT_EQ(freed.calls.size(), 1u);
    EXPECT_EQ(kept.destroyed, 0);
  }
  // The loop's end destroys what libpulse left, as pa_mainloop_free does.
  EXPECT_EQ(kept.destroyed, 1);
  EXPECT_EQ(freed.destroyed, 1);
}

struct TimerSeen {
  int calls = 0;
  pa_usec_t called_at = 0;
};

void OnTimer(pa_mainloop_api*, pa_time_event*, const timeval*, void* user) {
  auto* seen = static_cast<TimerSeen*>(user);
  ++seen->calls;
  seen->called_at = pa_rtclock_now();
}

TEST(PulseEventLoop, TimersWaitForTheirTimeFireOnceAndCanBeRestarted) {
  PulseEventLoop loop;
  pa_mainloop_api* api = loop.api();
  // libpulse's own timers, as the connection's time-outs use them (on a loop not its own they come
  // as wall-clock times).
  pa_context* context = pa_context_new(api, "timer test");
  ASSERT_NE(context, nullptr);
  TimerSeen libpulse;
  const pa_usec_t due = pa_rtclock_now() + 30 * PA_USEC_PER_MSEC;
  pa_time_event* e = pa_context_rttime_new(context, due, &OnTimer, &libpulse);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(loop.Iterate(0), 0);
  while (libpulse.calls == 0 && pa_rtclock_now() < due + 2 * PA_USEC_PER_SEC) loop.Iterate(1000);
  EXPECT_EQ(libpulse.calls, 1);
  // Not early (the two clocks are read a moment apart), and no full-second wait either.
  EXPECT_GE(libpulse.called_at + PA_USEC_PER_MSEC, due);
  EXPECT_LT(libpulse.called_at, due + PA_USEC_PER_SEC / 2);
  EXPECT_EQ(loop.Iterate(0), 0);  // once only
  pa_context_rttime_restart(context, e, pa_rtclock_now());
  EXPECT_EQ(loop.Iterate(0), 1);
  EXPECT_EQ(libpulse.calls, 2);

  // A time on the monotonic clock, marked so in tv_usec as libpulse marks it, and a timer given no
  // time (off).
  TimerSeen monotonic, off;
  const pa_usec_t monotonic_due = pa_rtclock_now() + 30 * PA_USEC_PER_MSEC;
  timeval at{};
  pa_timeval_store(&at, monotonic_due);
  at.tv_usec |= suseconds_t{1} << 30;
  api->time_new(api, &at, &OnTimer, &monotonic);
  api->time_new(api, nullptr, &OnTimer, &off);
  EXPECT_EQ(loop.Iterate(0), 0);
  while (monotonic.calls == 0 && pa_rtclock_now() < monotonic_due + 2 * PA_USEC_PER_SEC) {
    loop.Iterate(1000);
  }
  EXPECT_EQ(monotonic.calls, 1);
  EXPECT_GE(monotonic.called_at, monotonic_due);
  EXPECT_LT(monotonic.called_at, monotonic_due + PA_USEC_PER_SEC / 2);
  EXPECT_EQ(off.calls, 0);
  pa_context_unref(context);
}

void CountDeferred(pa_mainloop_api*, pa_defer_event*, void* user) {
  ++*static_cast<int*>(user);
}

TEST(PulseEventLoop, DeferredEventsRunEachIterationWhileOnWithoutWaiting) {
  PulseEventLoop loop;
  pa_mainloop_api* api = loop.api();
  int runs = 0;
  pa_defer_event* e = api->defer_new(api, &CountDeferred, &runs);
  const pa_usec_t before = pa_rtclock_now();
  EXPECT_EQ(loop.Iterate(5000), 1);  // work is pending: the poll does not wait
  EXPECT_LT(pa_rtclock_now() - before, 4 * PA_USEC_PER_SEC);
  EXPECT_EQ(loop.Iterate(0), 1);
  api->defer_enable(e, 0);
  EXPECT_EQ(loop.Iterate(0), 0);
  EXPECT_EQ(runs, 2);
  api->defer_free(e);
  loop.Iterate(0);
  EXPECT_EQ(loop.defer_count(), 0u);
}

}  // namespace
}  // namespace glimmerix
