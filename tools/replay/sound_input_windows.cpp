#include "tools/replay/sound_input.h"

namespace glimmerix {

// libsndfile and the live capture are not built for Windows.
std::unique_ptr<SoundFileInput> MakeSoundFileInput() {
  return nullptr;
}

const char kWavOptionUsage[] =
    R"(  --wav FILE       not in the Windows build, which reads no sound files (the Linux build
                   analyses WAV, FLAC, Ogg and MP3 files with libsndfile)
)";

}  // namespace glimmerix
