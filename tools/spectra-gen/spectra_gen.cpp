// glimmerix-spectra-gen PASSES [SEED]: writes PASSES music-like spectra (raw float32, 2048 values
// a pass) to stdout for glimmerix-replay: a kick drum on the beat, a bass line, a melody, hi-hats,
// pauses of silence and an occasional very loud passage, varying over minutes like a DJ set.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: glimmerix-spectra-gen PASSES [SEED]\n");
    return 2;
  }
  const long long passes = std::atoll(argv[1]);
  std::mt19937 gen(argc > 2 ? static_cast<std::uint32_t>(std::atoll(argv[2])) : 1u);
  std::uniform_real_distribution<float> jitter(0.7f, 1.3f);
  std::vector<float> bins(2048);
  for (long long pass = 0; pass < passes; ++pass) {
    const long long song = pass / 4000;  // a new "song" every ~3 minutes
    const int beat = static_cast<int>(pass % 10);
    const bool pause = pass % 4000 > 3900;  // a few seconds of silence between songs
    const float loudness = song % 7 == 3 ? 40.0f : 1.0f + 0.1f * static_cast<float>(song % 5);
    for (int k = 0; k < 2048; ++k) bins[k] = pause ? 0.0f : 2e-5f * jitter(gen) / (1 + k / 64);
    if (!pause) {
      if (beat < 2) bins[8 + beat] += 0.15f * loudness;
      bins[20 + 4 * static_cast<int>((pass / 20) % 6)] += 0.05f * loudness;
      bins[150 + 30 * static_cast<int>((pass / 10 + song) % 12)] += 0.03f * loudness * jitter(gen);
      if (beat == 5)
        for (int k = 1100; k < 1400; ++k) bins[k] += 2e-4f * loudness;
    }
    std::fwrite(bins.data(), sizeof(float), bins.size(), stdout);
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}
