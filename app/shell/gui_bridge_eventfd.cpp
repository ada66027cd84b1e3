// The bridge's wake-up on Linux: an eventfd the GUI's event loop watches.
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "app/shell/gui_bridge.h"

namespace glimmerix::shell {

void GuiBridge::OpenSignal() {
  fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

void GuiBridge::CloseSignal() {
  if (fd_ >= 0) close(fd_);
}

void GuiBridge::RaiseSignal() {
  // Without an eventfd the consumer polls; the pending flag then stays until its next Drain.
  if (fd_ < 0) return;
  const std::uint64_t one = 1;
  // EAGAIN only when the counter is near overflow, which means a wake is pending anyway.
  while (write(fd_, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void GuiBridge::ConsumeSignal() {
  if (fd_ < 0) return;
  std::uint64_t count;
  while (read(fd_, &count, sizeof count) < 0 && errno == EINTR) {
  }
}

void GuiBridge::set_wake_window(void*, unsigned) {}

}  // namespace glimmerix::shell
