#include "engine/capture/pulse_event_loop.h"

#include <pulse/rtclock.h>
#include <pulse/timeval.h>
#include <sys/time.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <iterator>

namespace glimmerix {
namespace {

// libpulse marks a timeval on the monotonic clock (rather than the wall clock) with this bit in
// tv_usec.
constexpr suseconds_t kMonotonicMark = suseconds_t{1} << 30;

short ToPoll(pa_io_event_flags_t flags) {
  return static_cast<short>(
      ((flags & PA_IO_EVENT_INPUT) ? POLLIN : 0) | ((flags & PA_IO_EVENT_OUTPUT) ? POLLOUT : 0) |
      ((flags & PA_IO_EVENT_HANGUP) ? POLLHUP : 0) | ((flags & PA_IO_EVENT_ERROR) ? POLLERR : 0));
}

pa_io_event_flags_t FromPoll(short revents) {
  return static_cast<pa_io_event_flags_t>(
      ((revents & POLLIN) ? PA_IO_EVENT_INPUT : 0) |
      ((revents & POLLOUT) ? PA_IO_EVENT_OUTPUT : 0) |
      ((revents & POLLHUP) ? PA_IO_EVENT_HANGUP : 0) |
      ((revents & (POLLERR | POLLNVAL)) ? PA_IO_EVENT_ERROR : 0));
}

// A libpulse timeval as a time on pa_rtclock_now()'s clock, in µs.
pa_usec_t MonotonicDeadline(const timeval& tv) {
  timeval plain = tv;
  if (plain.tv_usec & kMonotonicMark) {
    plain.tv_usec &= ~kMonotonicMark;
    return pa_timeval_load(&plain);
  }
  timeval wall_now{};
  gettimeofday(&wall_now, nullptr);
  const pa_usec_t now = pa_rtclock_now();
  const pa_usec_t at = pa_timeval_load(&plain);
  const pa_usec_t wall = pa_timeval_load(&wall_now);
  if (at >= wall) return now + (at - wall);
  return now > wall - at ? now - (wall - at) : 0;
}

// What the three kinds of event share. Handle is libpulse's opaque name for the event: the
// pointer handed out is this part of the event.
template <typename HandleType, typename CallbackType, typename DestroyType>
struct EventCommon {
  using Common = EventCommon;
  using Handle = HandleType;
  using Destroy = DestroyType;
  PulseEventLoop* loop;
  CallbackType callback;
  void* user;
  Destroy destroy = nullptr;
  bool dead = false;
  Handle* handle() { return reinterpret_cast<Handle*>(this); }
};

}  // namespace

struct PulseEventLoop::IoEvent
    : EventCommon<pa_io_event, pa_io_event_cb_t, pa_io_event_destroy_cb_t> {
  int fd;
  pa_io_event_flags_t flags;
};

struct PulseEventLoop::TimeEvent
    : EventCommon<pa_time_event, pa_time_event_cb_t, pa_time_event_destroy_cb_t> {
  bool on = false;
  timeval asked{};         // as libpulse gave it, handed back to the callback
  pa_usec_t deadline = 0;  // on pa_rtclock_now()'s clock
};

struct PulseEventLoop::DeferEvent
    : EventCommon<pa_defer_event, pa_defer_event_cb_t, pa_defer_event_destroy_cb_t> {
  bool on = true;
};

struct PulseEventLoop::Api {
  static PulseEventLoop* Loop(pa_mainloop_api* api) {
    return static_cast<PulseEventLoop*>(api->userdata);
  }
  template <typename Event>
  static Event* Of(typename Event::Handle* handle) {
    return static_cast<Event*>(reinterpret_cast<typename Event::Common*>(handle));
  }
  template <typename Event>
  static typename Event::Handle* Add(std::vector<std::unique_ptr<Event>>& events, Event event) {
    events.push_back(std::make_unique<Event>(std::move(event)));
    return events.back()->handle();
  }
  template <typename Event>
  static void Free(typename Event::Handle* handle) {
    Event* e = Of<Event>(handle);
    e->dead = true;
    ++e->loop->dead_;
  }
  template <typename Event>
  static void SetDestroy(typename Event::Handle* handle, typename Event::Destroy destroy) {
    Of<Event>(handle)->destroy = destroy;
  }

  static pa_io_event* IoNew(pa_mainloop_api* api, int fd, pa_io_event_flags_t flags,
                            pa_io_event_cb_t callback, void* user) {
    PulseEventLoop* loop = Loop(api);
    return Add(loop->io_, IoEvent{{loop, callback, user}, fd, flags});
  }
  static void IoEnable(pa_io_event* e, pa_io_event_flags_t flags) { Of<IoEvent>(e)->flags = flags; }

  static void Set(TimeEvent* timer, const timeval* tv) {
    timer->on = tv != nullptr;
    if (tv) {
      timer->asked = *tv;
      timer->deadline = MonotonicDeadline(*tv);
    }
  }
  static pa_time_event* TimeNew(pa_mainloop_api* api, const timeval* tv,
                                pa_time_event_cb_t callback, void* user) {
    PulseEventLoop* loop = Loop(api);
    TimeEvent timer{{loop, callback, user}};
    Set(&timer, tv);
    return Add(loop->timers_, timer);
  }
  static void TimeRestart(pa_time_event* e, const timeval* tv) { Set(Of<TimeEvent>(e), tv); }

  static pa_defer_event* DeferNew(pa_mainloop_api* api, pa_defer_event_cb_t callback, void* user) {
    PulseEventLoop* loop = Loop(api);
    return Add(loop->defers_, DeferEvent{{loop, callback, user}});
  }
  static void DeferEnable(pa_defer_event* e, int on) { Of<DeferEvent>(e)->on = on != 0; }

  // Nothing runs the loop "until quit": its owner decides when to iterate.
  static void Quit(pa_mainloop_api*, int) {}
};

PulseEventLoop::PulseEventLoop() {
  api_.userdata = this;
  api_.io_new = &Api::IoNew;
  api_.io_enable = &Api::IoEnable;
  api_.io_free = &Api::Free<IoEvent>;
  api_.io_set_destroy = &Api::SetDestroy<IoEvent>;
  api_.time_new = &Api::TimeNew;
  api_.time_restart = &Api::TimeRestart;
  api_.time_free = &Api::Free<TimeEvent>;
  api_.time_set_destroy = &Api::SetDestroy<TimeEvent>;
  api_.defer_new = &Api::DeferNew;
  api_.defer_enable = &Api::DeferEnable;
  api_.defer_free = &Api::Free<DeferEvent>;
  api_.defer_set_destroy = &Api::SetDestroy<DeferEvent>;
  api_.quit = &Api::Quit;
}

PulseEventLoop::~PulseEventLoop() {
  // A destroy callback may free (or even create) events; keep going until none is left.
  while (!io_.empty() || !timers_.empty() || !defers_.empty()) {
    for (auto& e : io_) e->dead = true;
    for (auto& e : timers_) e->dead = true;
    for (auto& e : defers_) e->dead = true;
    dead_ = 1;
    Sweep();
  }
}

int PulseEventLoop::Iterate(int timeout_ms) {
  int ran = 0;
  // Indices, not iterators: a callback may add events.
  for (std::size_t i = 0, n = defers_.size(); i < n; ++i) {
    DeferEvent& e = *defers_[i];
    if (e.on && !e.dead) {
      e.callback(&api_, e.handle(), e.user);
      ++ran;
    }
  }
  int timeout = ran > 0 ? 0 : std::max(timeout_ms, 0);
  pa_usec_t now = pa_rtclock_now();
  for (const auto& timer : timers_) {
    if (!timer->on || timer->dead) continue;
    const pa_usec_t left = timer->deadline > now ? timer->deadline - now : 0;
    timeout = static_cast<int>(std::min<pa_usec_t>(timeout, (left + 999) / 1000));
  }

  pollfds_.clear();
  polled_.clear();
  for (const auto& io : io_) {
    // Polled even with no event asked, like pa_mainloop: a hang-up is reported all the same.
    if (io->dead) continue;
    pollfds_.push_back(pollfd{io->fd, ToPoll(io->flags), 0});
    polled_.push_back(io.get());
  }
  const int ready = poll(pollfds_.data(), pollfds_.size(), timeout);
  if (ready < 0 && errno != EINTR) return -1;

  now = pa_rtclock_now();
  for (std::size_t i = 0, n = timers_.size(); i < n; ++i) {
    TimeEvent& e = *timers_[i];
    if (!e.on || e.dead || e.deadline > now) continue;
    e.on = false;  // a timer fires once; its callback may restart it
    const timeval asked = e.asked;
    e.callback(&api_, e.handle(), &asked, e.user);
    ++ran;
  }
  for (std::size_t i = 0; ready > 0 && i < polled_.size(); ++i) {
    IoEvent& e = *polled_[i];
    if (pollfds_[i].revents == 0 || e.dead) continue;
    e.callback(&api_, e.handle(), e.fd, FromPoll(pollfds_[i].revents), e.user);
    ++ran;
  }
  Sweep();
  return ran;
}

void PulseEventLoop::Sweep() {
  if (dead_ == 0) return;
  dead_ = 0;
  // The dead are taken out before any destroy callback runs, which may change the lists.
  auto take_dead = [](auto& events) {
    std::remove_reference_t<decltype(events)> dead;
    auto alive_end =
        std::stable_partition(events.begin(), events.end(), [](const auto& e) { return !e->dead; });
    dead.assign(std::make_move_iterator(alive_end), std::make_move_iterator(events.end()));
    events.erase(alive_end, events.end());
    return dead;
  };
  auto destroy = [this](auto& dead) {
    for (auto& e : dead) {
      if (e->destroy) e->destroy(&api_, e->handle(), e->user);
    }
  };
  auto dead_io = take_dead(io_);
  auto dead_timers = take_dead(timers_);
  auto dead_defers = take_dead(defers_);
  destroy(dead_io);
  destroy(dead_timers);
  destroy(dead_defers);
}

}  // namespace glimmerix
