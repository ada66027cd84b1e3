#include "engine/realtime.h"

#include <chrono>

namespace glimmerix {

void InterruptibleSleeper::SleepMs(int milliseconds) {
  std::unique_lock lock(mutex_);
  wake_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return interrupted_; });
}

void InterruptibleSleeper::Interrupt() {
  {
    std::lock_guard lock(mutex_);
    interrupted_ = true;
  }
  wake_.notify_all();
}

}  // namespace glimmerix
