// The Windows program's single instance: the named semaphore "Glimmerix", made by the first
// instance and held for as long as the object (and so the process) lives; the system drops it
// when the last process holding it ends, however it ends. A start that finds it made already is
// the second. Main thread.
#pragma once

#include <string>

namespace glimmerix::win32 {

class SingleInstance {
 public:
  static constexpr const wchar_t* kSemaphoreName = L"Glimmerix";

  enum class State { kFirst, kAnotherRuns, kNoLock };
  SingleInstance();
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  State state() const { return state_; }
  // False only when another process holds the semaphore.
  bool first() const { return state_ != State::kAnotherRuns; }
  // Why the semaphore could not be made (kNoLock), else empty.
  const std::string& error() const { return error_; }

 private:
  void* semaphore_ = nullptr;  // HANDLE, held by the first instance
  State state_ = State::kFirst;
  std::string error_;
};

}  // namespace glimmerix::win32
