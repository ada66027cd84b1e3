#include "outputs/lpt_port.h"

namespace glimmerix {

void LptPort::WriteRegister(int address, int value) {
  std::lock_guard lock(mutex_);
  if (closed_ || !out32_) return;
  out32_(static_cast<short>(address), static_cast<short>(value));
}

void LptPort::SwitchOff() {
  std::lock_guard lock(mutex_);
  if (closed_) return;
  if (out32_) {
    out32_(static_cast<short>(kData), 0);
    out32_(static_cast<short>(kControl), static_cast<short>(kControlAllOff));
  }
  closed_ = true;
}

std::string LptPort::problem() const {
  if (!problem_) return {};
  char text[512];
  if (problem_(text, sizeof text) <= 0) return {};
  text[sizeof text - 1] = '\0';
  return text;
}

void LptPort::SayProblemOnce(std::FILE* to) {
  if (problem_said_) return;
  const std::string text = problem();
  if (text.empty()) return;
  std::fprintf(to, "glimmerix: the parallel port cannot be written: %s\n", text.c_str());
  std::fflush(to);
  problem_said_ = true;
}

void LptPort::Retry() {
  if (retry_) retry_();
  problem_said_ = false;
}

}  // namespace glimmerix
