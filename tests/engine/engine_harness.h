// Recording fakes around one Engine, so a test drives passes one at a time and sees every byte,
// lamp and click the pass produced, in order.
#pragma once

#include <array>
#include <deque>
#include <string>
#include <vector>

#include "engine/engine.h"

namespace glimmerix::testing {

// One thing the engine did to the world, in the order it happened.
struct Event {
  std::string what;  // "usb", "lpt", "led", "down", "up", "sleep"
  int a = 0;
  int b = 0;
  bool operator==(const Event&) const = default;
};

class Harness : public SpectrumSource,
                public UsbPort,
                public ParallelPort,
                public KeyboardLamps,
                public HotKeyState,
                public ClickPoster,
                public RandomSource,
                public Sleeper {
 public:
  Harness() : engine(controls, shared, Ports()) {}

  ControlTable controls;
  EngineShared shared;
  std::array<float, kSpectrumBins> spectrum{};
  std::vector<Event> events;
  std::array<bool, 6> held{};      // indexed by HotKey
  std::deque<int> random_values;   // next results of Uniform(); empty gives 0
  std::vector<int> random_ranges;  // the n of every Uniform(n) call
  Engine engine;

  void Fetch(float* fft) override {
    for (int k = 0; k < kSpectrumBins; ++k) fft[k] = spectrum[k];
  }
  void SendCommand(std::uint8_t c) override { events.push_back({"usb", c, 0}); }
  void WriteRegister(int address, int value) override { events.push_back({"lpt", address, value}); }
  void SetLockKey(char key, int state) override { events.push_back({"led", key, state}); }
  bool IsDown(HotKey key) override { return held[static_cast<int>(key)]; }
  void PostButtonMessage(int g, ButtonMessage m) override {
    events.push_back({m == ButtonMessage::kDown ? "down" : "up", g, 0});
  }
  int Uniform(int n) override {
    random_ranges.push_back(n);
    if (random_values.empty()) return 0;
    const int v = random_values.front();
    random_values.pop_front();
    return v;
  }
  void SleepMs(int ms) override { events.push_back({"sleep", ms, 0}); }

  // Runs one pass and returns what it did.
  std::vector<Event> Pass() {
    events.clear();
    engine.RunPass();
    return events;
  }
  // The USB command bytes of the last pass.
  std::vector<int> Reports() const { return Of("usb", false); }
  // The values written to the parallel port in the last pass.
  std::vector<int> LptValues() const { return Of("lpt", true); }

  // A spectrum whose band n (1..18) sums to values[n-1], placed in the band's first bin.
  void SetBands(const std::array<float, kChannels>& values) {
    static constexpr std::array<int, kChannels> kFirstBin = {
        0, 4, 8, 12, 16, 24, 32, 48, 64, 96, 128, 192, 256, 384, 512, 768, 1024, 1536};
    spectrum.fill(0.0f);
    for (int n = 0; n < kChannels; ++n) spectrum[kFirstBin[n]] = values[n];
  }

 private:
  EnginePorts Ports() {
    EnginePorts p;
    p.spectrum = this;
    p.usb = this;
    p.lpt = this;
    p.lamps = this;
    p.keys = this;
    p.clicks = this;
    p.random = this;
    p.sleeper = this;
    return p;
  }
  std::vector<int> Of(const std::string& what, bool second) const {
    std::vector<int> out;
    for (const Event& e : events)
      if (e.what == what) out.push_back(second ? e.b : e.a);
    return out;
  }
};

}  // namespace glimmerix::testing
