// One whole engine pass (analysis, decisions, 18 column pictures, packing, sending) with recording
// fakes for the outputs.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cmath>

#include "engine/engine.h"
#include "engine/realtime.h"

namespace glimmerix {
namespace {

// Sixteen precomputed music-like frames played in a loop, so the fetch costs a copy only.
class MusicLikeSpectrum : public SpectrumSource {
 public:
  MusicLikeSpectrum() {
    for (int f = 0; f < kFrames; ++f)
      for (int k = 0; k < kSpectrumBins; ++k)
        frames_[f][k] = 0.02f / (1 + k) * (1.0f + 0.5f * std::sin(0.1f * k + 0.3f * f));
  }
  void Fetch(float* fft) override {
    std::copy(frames_[frame_].begin(), frames_[frame_].end(), fft);
    frame_ = (frame_ + 1) % kFrames;
  }

 private:
  static constexpr int kFrames = 16;
  std::array<std::array<float, kSpectrumBins>, kFrames> frames_{};
  int frame_ = 0;
};

class CountingUsb : public UsbPort {
 public:
  void SendCommand(std::uint8_t c) override {
    last = c;
    ++count;
  }
  std::uint8_t last = 0;
  long count = 0;
};

class CountingLpt : public ParallelPort {
 public:
  void WriteRegister(int, int v) override { last = v; }
  int last = 0;
};

class NoLamps : public KeyboardLamps {
 public:
  void SetLockKey(char, int state) override { last = state; }
  int last = 0;
};

void BM_EnginePass(benchmark::State& state) {
  ControlTable controls;
  EngineShared shared;
  shared.mode = static_cast<int>(state.range(0));
  for (int g = gadget::kFirstOutputList; g <= gadget::kLastOutputList; ++g)
    controls.set_value(g, g - gadget::kFirstOutputList + 1);
  MusicLikeSpectrum spectrum;
  CountingUsb usb;
  CountingLpt lpt;
  NoLamps lamps;
  Mt19937Random random(1);
  EnginePorts ports;
  ports.spectrum = &spectrum;
  ports.usb = &usb;
  ports.lpt = &lpt;
  ports.lamps = &lamps;
  ports.random = &random;
  Engine engine(controls, shared, ports);
  for (auto _ : state) {
    engine.RunPass();
    benchmark::DoNotOptimize(usb.last);
  }
}
BENCHMARK(BM_EnginePass)->Arg(1)->Arg(2)->Arg(3)->ArgName("mode");

}  // namespace
}  // namespace glimmerix
