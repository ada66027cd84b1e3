#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>
#include <string>
#include <vector>

#include "tools/replay/fd_stream.h"
#include "tools/replay/replay.h"

int main(int argc, char** argv) {
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
  glimmerix::FdInBuf stdin_buf(STDIN_FILENO, "standard input");
  glimmerix::FdOutBuf stdout_buf(STDOUT_FILENO, "standard output");
  std::istream in(&stdin_buf);
  std::ostream out(&stdout_buf);
  std::vector<std::string> args(argv + 1, argv + argc);
  return glimmerix::ReplayMain(args, in, out, std::cerr);
}
