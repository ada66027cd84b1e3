// The sample format the recording asks waveIn for (and the tests play with waveOut): 16-bit PCM,
// mono, kSampleRate.
#pragma once

#include <windows.h>

#include <mmreg.h>

#include "engine/capture/spectrum_analyzer.h"

namespace glimmerix {

inline WAVEFORMATEX MonoPcm16Format() {
  WAVEFORMATEX format{};
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = 1;
  format.nSamplesPerSec = kSampleRate;
  format.wBitsPerSample = 16;
  format.nBlockAlign = 2;
  format.nAvgBytesPerSec = kSampleRate * 2;
  return format;
}

}  // namespace glimmerix
