// The event loop libpulse runs on (its pa_mainloop_api), driven entirely by its owner's calls.
//
// libpulse's own pa_mainloop writes to a wake-up pipe whenever an event is switched on or off, in
// case another thread is blocked in its poll; reading one block from the server switches the
// socket's events twice per read, so that pipe costs four or more system calls per block. Here
// nobody ever waits in the loop but the thread that changes it, so nothing needs waking, and one
// poll() serves all of an iteration's descriptors.
//
// Threads: one thread at a time (the owner serialises its threads' calls); every callback runs on
// the thread calling Iterate() or the destructor. Timers run on the monotonic clock; a libpulse
// timeval on the wall clock is converted when it is set.
// Ownership: events belong to the loop until libpulse frees them; the destructor frees those left,
// calling their destroy callbacks, as pa_mainloop_free does.
#pragma once

#include <poll.h>
#include <pulse/mainloop-api.h>

#include <memory>
#include <vector>

namespace glimmerix {

class PulseEventLoop {
 public:
  PulseEventLoop();
  ~PulseEventLoop();
  PulseEventLoop(const PulseEventLoop&) = delete;
  PulseEventLoop& operator=(const PulseEventLoop&) = delete;

  // The interface handed to libpulse (pa_context_new...). Valid as long as the loop.
  pa_mainloop_api* api() { return &api_; }

  // Runs the deferred events that are on, then waits at most timeout_ms (0: not at all; never
  // when a deferred event ran or a timer is due) for a descriptor or a timer, and runs what became
  // due. Returns the number of callbacks run, or -1 when poll() failed other than by a signal.
  int Iterate(int timeout_ms);

  // Live events of each kind (those freed are gone after the Iterate() that freed them).
  std::size_t io_count() const { return io_.size(); }
  std::size_t time_count() const { return timers_.size(); }
  std::size_t defer_count() const { return defers_.size(); }

 private:
  struct IoEvent;
  struct TimeEvent;
  struct DeferEvent;
  struct Api;  // the static functions behind api_

  // Frees the events marked dead, calling their destroy callbacks.
  void Sweep();

  pa_mainloop_api api_{};
  std::vector<std::unique_ptr<IoEvent>> io_;
  std::vector<std::unique_ptr<TimeEvent>> timers_;
  std::vector<std::unique_ptr<DeferEvent>> defers_;
  int dead_ = 0;  // events freed by libpulse and not yet swept
  // Reused by every Iterate(): the descriptors polled and the event each belongs to.
  std::vector<pollfd> pollfds_;
  std::vector<IoEvent*> polled_;
};

}  // namespace glimmerix
