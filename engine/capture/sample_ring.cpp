#include "engine/capture/sample_ring.h"

#include <algorithm>
#include <bit>

namespace glimmerix {

SampleRing::SampleRing(std::size_t capacity)
    : slots_(new std::atomic<float>[std::bit_ceil(std::max<std::size_t>(capacity, 1))]),
      mask_(std::bit_ceil(std::max<std::size_t>(capacity, 1)) - 1) {
  for (std::size_t i = 0; i <= mask_; ++i) slots_[i].store(0.0f, std::memory_order_relaxed);
}

void SampleRing::Write(const float* samples, std::size_t count) {
  std::uint64_t at = written_.load(std::memory_order_relaxed);
  for (std::size_t i = 0; i < count; ++i) {
    slots_[(at + i) & mask_].store(samples[i], std::memory_order_relaxed);
  }
  written_.store(at + count, std::memory_order_release);
}

void SampleRing::Restart() {
  start_.store(written_.load(std::memory_order_relaxed), std::memory_order_release);
}

std::size_t SampleRing::ReadNewest(float* out, std::size_t count) const {
  count = std::min(count, capacity());
  const std::uint64_t end = written_.load(std::memory_order_acquire);
  const std::uint64_t start = start_.load(std::memory_order_acquire);
  const std::uint64_t available = end > start ? end - start : 0;
  const std::size_t real = static_cast<std::size_t>(std::min<std::uint64_t>(available, count));
  const std::size_t pad = count - real;
  std::fill(out, out + pad, 0.0f);
  const std::uint64_t first = end - real;
  for (std::size_t i = 0; i < real; ++i) {
    out[pad + i] = slots_[(first + i) & mask_].load(std::memory_order_relaxed);
  }
  return real;
}

}  // namespace glimmerix
