// glimmerix-replay: the engine run headless over recorded spectra or a sound file, one JSON line
// per pass. ReplayUsage() is the command line (printed by --help); the exit codes:
//   0 success, 1 the output (standard output, the picture) could not be written,
//   2 bad usage, or the input could not be read (message on stderr).
// A --wav file is read block by block: memory does not grow with the file's length, and with
// --passes N only what N passes need is read.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "engine/engine.h"

namespace glimmerix {

struct ReplayOptions {
  std::string spectra_path;  // "-" for stdin
  std::string wav_path;      // --wav instead of --spectra
  std::string png_path;      // --png: empty for no picture
  bool quiet = false;        // --quiet: no pass lines
  bool help = false;         // --help: print ReplayUsage(), nothing else
  bool dmx = false;          // --dmx: each pass line ends with the DMX output's 18 values
  std::optional<long long> passes;
  std::uint32_t seed = 1;
  std::optional<std::string> settings_dir;  // --settings: applied before the settings below
  // Control settings, applied in the order given on the command line.
  std::vector<std::function<void(ControlTable&, EngineShared&)>> settings;
};

// The usage text of this build (--help).
std::string ReplayUsage();

// Parses the command line; on error returns false with a message in error.
bool ParseReplayArgs(const std::vector<std::string>& args, ReplayOptions& options,
                     std::string& error);

// Writes one pass as its JSON line (without the newline).
struct PassRecord {
  long long pass = 0;
  int mode = 0;
  std::vector<std::uint8_t> reports;
  std::vector<int> lpt;
  std::optional<std::array<std::uint8_t, 18>> dmx;  // --dmx: slots start..start+17 of the frame
};
void WritePassJson(std::ostream& out, const PassRecord& record, const Engine& engine,
                   const ControlTable& controls, const EngineShared& shared);

// The whole tool: returns the process exit code. Read and write failures of in and out are
// reported with the reason when their buffers are FdInBuf/FdOutBuf (tools/replay/fd_stream.h).
int ReplayMain(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
               std::ostream& err);

}  // namespace glimmerix
