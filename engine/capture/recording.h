// The recording the spectrum comes from, as the program starts and stops it.
//
// Threads: Start, Stop and problem on the main thread; Collect and Fetch (SpectrumSource) on the
// engine thread.
#pragma once

#include <string>

#include "engine/ports.h"

namespace glimmerix {

class Recording : public SpectrumSource {
 public:
  // Starts recording in the background and returns at once; does nothing if running.
  virtual void Start() = 0;
  // Ends the recording, promptly whatever the sound system does; safe to call more than once.
  virtual void Stop() = 0;
  // Why the recording brings no sound, as a short lower-case phrase; empty while sound arrives.
  virtual std::string problem() const = 0;
};

}  // namespace glimmerix
