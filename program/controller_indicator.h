// What the program shows of the USB controller and how it reacts to its comings and goings: the
// main window's status text (gadget 0) "USBON" or "USBOFF" in its colour, with a tool tip on
// trouble, and Bright and Step sent again to a controller that has returned.
//
// Threads: main thread (the controller reports from its presence checks there). The control
// table and EngineShared are thread-safe.
#pragma once

#include <string>

#include "engine/controls.h"
#include "engine/engine.h"
#include "outputs/usb_controller.h"

namespace glimmerix {

class ControllerIndicator : public ControllerPresenceListener {
 public:
  // Colours of the status text, readable on the window's #EFEFEF background: green 4.6:1,
  // orange 3.7:1, red 3.5:1 (WCAG contrast ratios).
  static constexpr Rgb kOnColour{0, 125, 0};
  static constexpr Rgb kTroubleColour{192, 96, 0};  // present but cannot be opened or driven
  static constexpr Rgb kOffColour{255, 0, 0};

  // Both must outlive the indicator.
  ControllerIndicator(ControlTable& controls, EngineShared& shared)
      : controls_(controls), shared_(shared) {}

  // "USBON" in green.
  void ControllerArrived() override;
  // "USBOFF" in red.
  void ControllerLost() override;
  // The next pass sends Bright and Step.
  void ControllerReturned() override;
  // "USBON" in orange, the tool tip the problem and, on the lines below it, the advice.
  void ControllerInTrouble(Trouble trouble, const std::string& problem,
                           const std::string& advice) override;

 private:
  ControlTable& controls_;
  EngineShared& shared_;
};

}  // namespace glimmerix
