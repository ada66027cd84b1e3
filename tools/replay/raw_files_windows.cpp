#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include "tools/replay/raw_files.h"

namespace glimmerix {

int OpenRawForReading(const std::string& path) {
  return ::_open(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
}

int CreateRawForWriting(const std::string& path) {
  return ::_open(path.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY | _O_NOINHERIT,
                 _S_IREAD | _S_IWRITE);
}

void PrepareStandardDescriptors() {
  // The C runtime opens 0-2 in text mode, which would turn every "\n" of the JSON into "\r\n"
  // and end reading spectra at the first 0x1A byte.
  for (int fd = 0; fd <= 2; ++fd) ::_setmode(fd, _O_BINARY);
}

}  // namespace glimmerix
