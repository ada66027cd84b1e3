// Real implementations of the engine's clock and dice.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <random>

#include "engine/ports.h"

namespace glimmerix {

// std::mt19937 seeded once; Uniform(n) is gen() % (n + 1). Engine thread only.
class Mt19937Random : public RandomSource {
 public:
  explicit Mt19937Random(std::uint32_t seed) : gen_(seed) {}
  int Uniform(int n) override {
    return static_cast<int>(gen_() % static_cast<std::uint32_t>(n + 1));
  }

 private:
  std::mt19937 gen_;
};

// Sleeps on the steady clock. Interrupt() (any thread) wakes a sleep in progress and makes every
// later sleep return at once, so a stopping engine finishes its pass without waiting.
class InterruptibleSleeper : public Sleeper {
 public:
  void SleepMs(int milliseconds) override;
  void Interrupt();

 private:
  std::mutex mutex_;  // guards interrupted_
  std::condition_variable wake_;
  bool interrupted_ = false;
};

}  // namespace glimmerix
