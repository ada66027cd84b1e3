// The tray icon's tool tip: one line that says what the program is doing. Qt-free, any thread.
#pragma once

#include <string>
#include <string_view>

namespace glimmerix {

struct TrayState {
  int mode = 0;                        // the light mode: 1 Manual, 2 Auto, 3 Rnd; others name none
  std::string_view controller_status;  // the status text of the window ("USBON", "USBOFF")
  // Why something does not work as it should, each empty while all is well.
  std::string_view controller_problem;
  std::string_view port_problem;
  std::string_view sound_problem;
};

// "Glimmerix", the mode, the controller's status and then each problem (the port's after
// "parallel port: "), joined by " - ", e.g.
// "Glimmerix - Auto - USBON - no sound from the recording input". Empty parts are left out;
// surrounding white space (a trailing line end) of each part is dropped.
std::string TrayToolTip(const TrayState& state);

}  // namespace glimmerix
