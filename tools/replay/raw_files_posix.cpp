#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "tools/replay/raw_files.h"

namespace glimmerix {

int OpenRawForReading(const std::string& path) {
  return ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
}

int CreateRawForWriting(const std::string& path) {
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
}

void PrepareStandardDescriptors() {
  // A descriptor 0-2 that was closed at start is taken by /dev/null opened the wrong way round,
  // so no file opened later lands there and reading stdin or writing stdout fails (EBADF), as
  // reading or writing a closed descriptor would, instead of succeeding quietly.
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      const int plug = ::open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY);
      if (plug >= 0 && plug != fd) {
        ::dup2(plug, fd);
        ::close(plug);
      }
    }
  }
}

}  // namespace glimmerix
