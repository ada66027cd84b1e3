#include <iostream>
#include <string>
#include <vector>

#include "tools/replay/fd_stream.h"
#include "tools/replay/raw_files.h"
#include "tools/replay/replay.h"

int main(int argc, char** argv) {
  glimmerix::PrepareStandardDescriptors();
  glimmerix::FdInBuf stdin_buf(0, "standard input");
  glimmerix::FdOutBuf stdout_buf(1, "standard output");
  std::istream in(&stdin_buf);
  std::ostream out(&stdout_buf);
  std::vector<std::string> args(argv + 1, argv + argc);
  return glimmerix::ReplayMain(args, in, out, std::cerr);
}
