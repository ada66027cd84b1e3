// A stand-in for the parallel-port plug-in, for tests: every Out32 call appends one line
// "0xAAA 0xVV" (address, value; hex, 16-bit) to the file named by GLIMMERIX_LPT_RECORD. Without
// that variable the call does nothing. Each line is appended with one write(), so lines from
// concurrent callers never interleave.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

extern "C" __attribute__((visibility("default"))) void Out32(short address, short value) {
  const char* path = std::getenv("GLIMMERIX_LPT_RECORD");
  if (!path || !*path) return;
  char line[32];
  const int length =
      std::snprintf(line, sizeof line, "0x%03X 0x%02X\n", static_cast<unsigned short>(address),
                    static_cast<unsigned short>(value));
  const int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  if (write(fd, line, static_cast<size_t>(length)) < 0) {
    // Nothing to report to: the test reading the record sees the line missing.
  }
  close(fd);
}
