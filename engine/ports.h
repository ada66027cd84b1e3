// The small interfaces through which the engine pass reaches the world.
//
// Every method here is called on the engine thread during a pass (the USB port and the parallel
// port also once more by the main thread at shutdown, after the engine has stopped). They must not
// block on the GUI and must not allocate: the pass is real-time code.
#pragma once

#include <cstdint>

namespace glimmerix {

inline constexpr int kSpectrumBins = 2048;

// Fills the engine's spectrum buffer: 2048 magnitudes of a 4096-point spectrum of the newest
// recording, bin k at k * 22050 / 4096 Hz. Writing nothing leaves the previous spectrum in place.
class SpectrumSource {
 public:
  virtual ~SpectrumSource() = default;
  // Engine thread, just before each pass and not part of it: takes in what the recording has
  // delivered since the last call, so that the pass's Fetch() reads it. Never waits; unlike the
  // pass it may allocate (a sound library's own bookkeeping). Most sources have nothing to do.
  virtual void Collect() {}
  virtual void Fetch(float* fft /* kSpectrumBins floats */) = 0;
};

// The USB lighting controller: to send a value means putting its low byte into the report's
// command byte and writing the 2-byte report (report number 0, command byte).
class UsbPort {
 public:
  virtual ~UsbPort() = default;
  virtual void SendCommand(std::uint8_t command) = 0;
};

// The first parallel port: writes the low byte of value to the register at address
// (0x378 data, 0x37A control).
class ParallelPort {
 public:
  virtual ~ParallelPort() = default;
  virtual void WriteRegister(int address, int value) = 0;
};

// Where the pass's 18 light channels go beside the USB controller and the parallel port (a DMX
// universe). Called once per pass that sends, right after the controller's reports. states holds
// channels 1..18 (0 off, 1 on) after Invert; band_values the 18 band values the columns show;
// inverted says whether Invert turned the states. Both arrays are only valid during the call.
class ChannelSink {
 public:
  virtual ~ChannelSink() = default;
  virtual void ChannelsSent(const int* states /* 18 */, const float* band_values /* 18 */,
                            bool inverted) = 0;
};

// The keyboard's lock lamps. key is 'n' (Num Lock), 'c' (Caps Lock) or 's' (Scroll Lock);
// newstate is the wanted key state value (0 off, 1 on).
class KeyboardLamps {
 public:
  virtual ~KeyboardLamps() = default;
  virtual void SetLockKey(char key, int newstate) = 0;
};

// The system-wide held state of the keys behind the mode hot keys.
enum class HotKey { kShift, kAlt, kF5, kF6, kF7, kF8 };
class HotKeyState {
 public:
  virtual ~HotKeyState() = default;
  virtual bool IsDown(HotKey key) = 0;
};

// Posts a simulated button press to a mode button (19 Manual, 20 Auto, 25 Rnd). The press and the
// release arrive at the GUI thread, queued, as an ordinary click; posting never waits for it.
enum class ButtonMessage { kDown, kUp };
class ClickPoster {
 public:
  virtual ~ClickPoster() = default;
  virtual void PostButtonMessage(int gadget, ButtonMessage message) = 0;
};

// A uniform random integer from 0 to n inclusive.
class RandomSource {
 public:
  virtual ~RandomSource() = default;
  virtual int Uniform(int n) = 0;
};

// Sleeps between and inside passes. A real sleeper wakes early when the engine is asked to stop.
class Sleeper {
 public:
  virtual ~Sleeper() = default;
  virtual void SleepMs(int milliseconds) = 0;
};

}  // namespace glimmerix
