// The recording the spectrum comes from, as the program starts and stops it.
//
// Threads: Start, Stop and problem on the main thread; Collect and Fetch (SpectrumSource) on the
// engine thread; the input choice and what the sound server lists from any thread, never waiting
// for the recording.
#pragma once

#include <string>
#include <vector>

#include "engine/ports.h"

namespace glimmerix {

// What is recorded.
enum class InputKind {
  kDefaultInput,          // the server's default source, followed when it changes (the default)
  kDefaultOutputMonitor,  // the monitor of the server's default sink, followed when that changes
  kNamedSource,           // one source by its server name (an empty name: the default input)
};

// One source the sound server lists.
struct RecordingSourceInfo {
  std::string name;         // the server's name for it, as pactl shows it
  std::string description;  // the name shown to people
  bool is_monitor = false;  // it records what a sink (an output) plays
  bool operator==(const RecordingSourceInfo&) const = default;
};

class Recording : public SpectrumSource {
 public:
  // Starts recording in the background and returns at once; does nothing if running.
  virtual void Start() = 0;
  // Ends the recording, promptly whatever the sound system does; safe to call more than once.
  virtual void Stop() = 0;
  // Why the recording brings no sound, as a short lower-case phrase; empty while sound arrives.
  virtual std::string problem() const = 0;

  // Records from this input from now on (also before Start): a named source that is absent
  // records silence until it appears.
  virtual void ChooseInput(InputKind kind, std::string source_name = {}) = 0;
  // The sources the sound server lists (empty without one).
  virtual std::vector<RecordingSourceInfo> Sources() const = 0;
  // Changes whenever Sources() or source_in_use() changes.
  virtual unsigned sources_generation() const = 0;
  // The server name of the source recorded now; empty when nothing records or no server does.
  virtual std::string source_in_use() const = 0;
  // Whether a sound server records, so that an input can be chosen at all.
  virtual bool server_available() const = 0;
  // While server_available() is false: why no input can be chosen, in a sentence for the user.
  virtual std::string why_no_input_choice() const = 0;
};

}  // namespace glimmerix
