// Where the main window's outer frame goes when it is shown: at the saved corner, unless that
// leaves its title bar where the user cannot grab it. Qt-free, any thread.
#pragma once

#include <span>

namespace glimmerix {

struct ScreenRect {
  int x = 0, y = 0, width = 0, height = 0;  // screen pixels, the virtual desktop's coordinates
  bool operator==(const ScreenRect&) const = default;
};

struct FramePoint {
  int x = 0, y = 0;
  bool operator==(const FramePoint&) const = default;
};

// The height of title bar assumed where the window manager has not said yet (openbox's, and about
// the usual one), and how much of it, across, must lie on one screen for the user to grab it.
inline constexpr int kTitleBarHeight = 20;
inline constexpr int kFrameBorder = 1;  // likewise, each side's border
inline constexpr int kTitleBarGrip = 40;

// The frame's corner to use for a frame of this size whose saved corner is `saved`. The saved
// corner stays when the title bar (the frame's top kTitleBarHeight pixels) lies with its whole
// height and at least kTitleBarGrip pixels across (the whole width of a narrower frame) on one
// screen. Otherwise the frame moves onto the screen nearest to it, as little as it can: whole on
// that screen where it fits, else with its top-left corner on the screen. No screens: `saved`.
FramePoint PlaceFrame(FramePoint saved, int frame_width, int frame_height,
                      std::span<const ScreenRect> screens);

}  // namespace glimmerix
