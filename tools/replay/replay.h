// glimmerix-replay: the engine run headless over recorded spectra, one JSON line per pass.
//
//   glimmerix-replay --spectra FILE | --wav FILE [options]
//     --spectra FILE   raw little-endian float32, 2048 values per pass; "-" reads stdin
//     --wav FILE       a sound file (WAV, FLAC, Ogg, ...) analysed as the live capture hears it:
//                      one pass per whole 50 ms of sound
//     --png FILE       also draw the light show: a pixel column per pass, a row band per channel
//     --mode N         EFFECT_ZMU, set as a preset sets it
//     --level N --agc N --bright N --step N     the Level, AGC, Bright and Step bars
//     --bars a,b,...   the 18 band-bar positions  --outputs a,b,...  the 18 output selections
//     --invert 0|1 --lpt 0|1 --key 0|1           the three check boxes
//     --seed N         seed of the random generator (default 1)   --passes N  stop after N passes
//     --settings DIR   start the controls and mode as the program's start-up leaves them with DIR
//                      as its folder (setting.dat, pattern files); read only. The options above
//                      are applied after it, wherever they stand.
//
// Exit codes: 0 success, 2 bad usage or bad input (message on stderr).
#pragma once

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
  std::optional<long long> passes;
  std::uint32_t seed = 1;
  std::optional<std::string> settings_dir;  // --settings: applied before the settings below
  // Control settings, applied in the order given on the command line.
  std::vector<std::function<void(ControlTable&, EngineShared&)>> settings;
};

// Parses the command line; on error returns false with a message in error.
bool ParseReplayArgs(const std::vector<std::string>& args, ReplayOptions& options,
                     std::string& error);

// Writes one pass as its JSON line (without the newline).
struct PassRecord {
  long long pass = 0;
  int mode = 0;
  std::vector<std::uint8_t> reports;
  std::vector<int> lpt;
};
void WritePassJson(std::ostream& out, const PassRecord& record, const Engine& engine,
                   const ControlTable& controls, const EngineShared& shared);

// The whole tool: returns the process exit code.
int ReplayMain(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
               std::ostream& err);

}  // namespace glimmerix
