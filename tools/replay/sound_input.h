// --wav for glimmerix-replay: the spectra of a sound file, pass by pass, as the live capture would
// hear it. Each platform's build gives its own reader (sound_input_linux.cpp: libsndfile and the
// live capture's fetch; sound_input_windows.cpp: none, the Windows build has no libsndfile).
#pragma once

#include <memory>
#include <string>

#include "engine/ports.h"

namespace glimmerix {

class SoundFileInput : public SpectrumSource {
 public:
  // On failure returns false with a message in error.
  virtual bool Open(const std::string& path, std::string& error) = 0;

  enum class Step { kPass, kEnd, kError };
  // Reads as far as the next pass needs and moves to it: kEnd after the last whole pass, kError
  // (with a message in error) when the file cannot be read on.
  virtual Step Next(std::string& error) = 0;
};

// The build's sound-file reader, or null when this build reads no sound files.
std::unique_ptr<SoundFileInput> MakeSoundFileInput();

// The --wav line of the usage text, as this build has it (ending in a newline).
extern const char kWavOptionUsage[];

}  // namespace glimmerix
