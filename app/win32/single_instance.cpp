#include "app/win32/single_instance.h"

#include <windows.h>

#include "outputs/windows/text.h"

namespace glimmerix::win32 {

SingleInstance::SingleInstance() {
  HANDLE semaphore = CreateSemaphoreW(nullptr, 0, 1, kSemaphoreName);
  const DWORD error = GetLastError();
  if (!semaphore) {
    // An object of that name that is not a semaphore, or one this user may not open: some other
    // program's, so this one runs without the guard rather than not at all.
    state_ = State::kNoLock;
    error_ = "the semaphore \"Glimmerix\" cannot be made: " + SystemErrorText(error);
    return;
  }
  if (error == ERROR_ALREADY_EXISTS) {
    CloseHandle(semaphore);
    state_ = State::kAnotherRuns;
    return;
  }
  semaphore_ = semaphore;
}

SingleInstance::~SingleInstance() {
  if (semaphore_) CloseHandle(static_cast<HANDLE>(semaphore_));
}

}  // namespace glimmerix::win32
