#include "tools/replay/sound_file.h"
#include "tools/replay/sound_input.h"

namespace glimmerix {

std::unique_ptr<SoundFileInput> MakeSoundFileInput() {
  return std::make_unique<SoundFileSpectra>();
}

const char kWavOptionUsage[] =
    R"(  --wav FILE       a sound file (WAV, FLAC, Ogg, MP3 where libsndfile has it) analysed exactly
                   as the live capture would hear it, one pass per 50 ms of sound
)";

}  // namespace glimmerix
