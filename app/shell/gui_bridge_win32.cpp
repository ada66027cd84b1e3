// The bridge's wake-up on Windows: a message posted to the front-end's window (PostMessageW never
// blocks); its window procedure calls Drain.
#include <windows.h>

#include "app/shell/gui_bridge.h"

namespace glimmerix::shell {

void GuiBridge::OpenSignal() {}
void GuiBridge::CloseSignal() {}
void GuiBridge::ConsumeSignal() {}

void GuiBridge::set_wake_window(void* window, unsigned message) {
  wake_message_.store(message);
  wake_window_.store(window);
  // What was recorded before the window existed is shown once it does.
  if (window != nullptr) {
    wake_pending_.store(true);
    RaiseSignal();
  }
}

void GuiBridge::RaiseSignal() {
  void* window = wake_window_.load();
  // A failed post (the window gone, its queue full) lets the next change try again; the
  // front-end's timer drains meanwhile.
  if (window == nullptr || !PostMessageW(static_cast<HWND>(window), wake_message_.load(), 0, 0))
    wake_pending_.store(false);
}

}  // namespace glimmerix::shell
