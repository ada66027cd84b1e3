// The main window's numbered controls as data: kind, inner-coordinate geometry, caption, tool tip
// and colour of every gadget, in creation order. The window is built by walking this table.
//
// Pure data, no Qt; safe from any thread.
#pragma once

#include <span>
#include <string_view>

#include "engine/controls.h"

namespace glimmerix::shell {

inline constexpr int kNarrowWidth = 180;  // inner width of the narrow form
inline constexpr int kWideWidth = 320;    // inner width after "<>"
inline constexpr int kInnerHeight = 243;

struct ControlDef {
  int gadget = 0;
  ControlKind kind = ControlKind::kNone;
  int x = 0, y = 0, w = 0, h = 0;
  std::string_view caption;  // button, check box and text captions
  std::string_view tooltip;
  bool vertical = false;  // scroll bars: vertical band bar
  bool centred = false;   // texts: centred instead of left-aligned
};

// Every control of the main window, in creation order (status text first, columns last).
std::span<const ControlDef> MainWindowControls();

// The definition of one gadget, or nullptr for a number that is not a control.
const ControlDef* FindControl(int gadget);

// "13 Hz" ... "10250 Hz" for band bars 1..18.
std::string_view BandLabel(int channel);

// The controller pin named in the window beside output-assignment list 27 + (output - 1).
std::string_view PinName(int output);

}  // namespace glimmerix::shell
