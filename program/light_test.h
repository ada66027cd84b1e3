// The controller dialog's light test and output order, Qt-free.
//
// The light test lights each of the 18 channels alone in turn, then all of them, then none,
// through the controller (packed by the output-assignment lists, as a pass packs them) and the
// parallel port (when "LPT" is ticked), while the engine's passes send nothing.
//
// Threads: a LightTest belongs to the main thread. It shares with the engine thread only
// EngineShared (atomics); the ports are thread-safe on their own.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "engine/controls.h"
#include "engine/engine.h"
#include "engine/ports.h"

namespace glimmerix {

// What one step of the light test sends.
struct LightFrame {
  std::array<std::uint8_t, 3> usb{};            // the C, B and D command bytes, in that order
  int lpt_data = 0;                             // register 0x378
  int lpt_control = Engine::kLptControlAllOff;  // register 0x37A
  bool operator==(const LightFrame&) const = default;
};

// Time between the test's steps.
inline constexpr int kLightTestStepMs = 300;

// Channel 1 alone, ..., channel 18 alone, all 18, none: 20 frames, by the output lists as they
// stand.
std::vector<LightFrame> LightTestFrames(const ControlTable& controls);

class LightTest {
 public:
  // All references must outlive the test; lpt may be null (no port).
  LightTest(const ControlTable& controls, EngineShared& shared, UsbPort& usb, ParallelPort* lpt);
  ~LightTest();  // a test still running ends as Finish() ends it
  LightTest(const LightTest&) = delete;
  LightTest& operator=(const LightTest&) = delete;

  // Pauses the engine's output and takes the frames from the output lists as they stand now
  // (starting again from the first frame when a test is running).
  void Start();
  // Sends the next frame; after the last one, ends the test. Returns whether frames remain.
  // Does nothing (false) when no test is running.
  bool Step();
  // Ends the test: the outputs are the engine's again and its next pass sends Bright and Step.
  void Finish();
  bool running() const { return running_; }

 private:
  const ControlTable& controls_;
  EngineShared& shared_;
  UsbPort& usb_;
  ParallelPort* lpt_;
  std::vector<LightFrame> frames_;
  std::size_t next_ = 0;
  bool running_ = false;
};

// Output-assignment lists 27..44 so that output n follows channel n.
void AssignOutputsInOrder(ControlTable& controls);

}  // namespace glimmerix
