#include "program/controller_indicator.h"

namespace glimmerix {

void ControllerIndicator::ControllerArrived() {
  controls_.set_status("USBON", kOnColour);
}

void ControllerIndicator::ControllerLost() {
  controls_.set_status("USBOFF", kOffColour);
}

void ControllerIndicator::ControllerReturned() {
  shared_.send_bright_and_step.store(1);
}

void ControllerIndicator::ControllerInTrouble(Trouble, const std::string& problem,
                                              const std::string& advice) {
  controls_.set_status("USBON", kTroubleColour, problem + "\n" + advice);
}

}  // namespace glimmerix
