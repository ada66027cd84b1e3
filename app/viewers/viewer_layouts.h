// The document viewers' fixed data, shared by the Qt and the Windows front-ends (no toolkit).
#pragma once

#include <array>

#include "program/front_end.h"

namespace glimmerix {

// Each document (program/front_end.h) has one viewer window; the enum's value is the window's
// number (its object name is Window_1 .. Window_3).

// A viewer's fixed data: document, title, file, inner size, and its two gadgets.
struct ViewerLayout {
  Document document;
  const char* title;  // window title
  const char* file;   // bare file name
  int width;          // inner size, pixels
  int height;
  int area_gadget;  // document area at 2, 2, 496, height - 30
  int ok_gadget;    // "OK" at 210, height - 27, 80, 24
};

inline constexpr std::array<ViewerLayout, 3> kViewerLayouts = {{
    {Document::kDevelopers, "Developers", "about.rtf", 500, 400, 70, 71},
    {Document::kSettings, "Settings", "help.rtf", 500, 300, 72, 73},
    {Document::kHistory, "History", "history.rtf", 500, 400, 74, 75},
}};

}  // namespace glimmerix
