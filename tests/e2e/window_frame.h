// The window manager's frame around a program window, read from the X server.
#pragma once

#include <QPoint>

namespace glimmerix::e2e {

// The screen position of the outermost ancestor of window w below the root (the frame a window
// manager put around it), or of w itself when nothing reparented it.
QPoint FrameCorner(unsigned long w);

}  // namespace glimmerix::e2e
