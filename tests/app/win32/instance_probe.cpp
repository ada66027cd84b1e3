// Takes the single instance and tells how it went by its exit code: 0 first, 1 another instance
// runs, 2 no lock. With an argument N it then holds the instance N milliseconds before exiting.
#include <windows.h>

#include <cstdlib>

#include "app/win32/single_instance.h"

int main(int argc, char** argv) {
  glimmerix::win32::SingleInstance instance;
  if (argc > 1) Sleep(static_cast<DWORD>(std::atoi(argv[1])));
  switch (instance.state()) {
    case glimmerix::win32::SingleInstance::State::kFirst:
      return 0;
    case glimmerix::win32::SingleInstance::State::kAnotherRuns:
      return 1;
    case glimmerix::win32::SingleInstance::State::kNoLock:
      break;
  }
  return 2;
}
