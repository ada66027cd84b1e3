// A lock-free ring of audio samples with one writer and any number of readers.
//
// Threads: Write() and Restart() belong to one writer at a time (the audio callback while a stream
// runs, the opening thread between streams). ReadNewest() may run on any thread at the same time;
// it never blocks the writer and the writer never blocks it. Every slot is a relaxed atomic, so a
// reader racing a wrap-around gets a mix of old and new samples, never undefined behaviour; the
// capacity is far larger than one read, so that takes a reader stalled for most of a second.
//
// No allocation after construction.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace glimmerix {

class SampleRing {
 public:
  // capacity is rounded up to a power of two.
  explicit SampleRing(std::size_t capacity);
  SampleRing(const SampleRing&) = delete;
  SampleRing& operator=(const SampleRing&) = delete;

  std::size_t capacity() const { return mask_ + 1; }

  // Appends samples; beyond the capacity the oldest are overwritten.
  void Write(const float* samples, std::size_t count);

  // From now on readers see only samples written after this call (the writer must be idle).
  void Restart();

  // Copies the newest count samples into out, oldest first; where fewer than count samples have
  // been written since the last Restart(), the front of out is zero-filled. count is at most
  // capacity(). Returns how many real samples were copied.
  std::size_t ReadNewest(float* out, std::size_t count) const;

  // Samples written since construction (not reset by Restart()).
  std::uint64_t written() const { return written_.load(std::memory_order_acquire); }

 private:
  std::unique_ptr<std::atomic<float>[]> slots_;
  std::size_t mask_;
  std::atomic<std::uint64_t> written_{0};  // total samples written; release-published by Write
  std::atomic<std::uint64_t> start_{0};    // value of written_ at the last Restart()
};

}  // namespace glimmerix
