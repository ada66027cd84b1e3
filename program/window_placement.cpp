#include "program/window_placement.h"

#include <algorithm>
#include <climits>

namespace glimmerix {
namespace {

long long Overlap(long long a0, long long a1, long long b0, long long b1) {
  return std::max(0LL, std::min(a1, b1) - std::max(a0, b0));
}

bool TitleBarOn(const ScreenRect& s, FramePoint p, int width) {
  const long long grip = std::min(width, kTitleBarGrip);
  const bool whole_height = p.y >= s.y && static_cast<long long>(p.y) + kTitleBarHeight <=
                                              static_cast<long long>(s.y) + s.height;
  return whole_height && Overlap(p.x, static_cast<long long>(p.x) + width, s.x,
                                 static_cast<long long>(s.x) + s.width) >= grip;
}

// Squared distance from the frame to the screen: 0 where they overlap.
long long Distance(const ScreenRect& s, FramePoint p, int width, int height) {
  auto gap = [](long long a0, long long a1, long long b0, long long b1) {
    return a1 < b0 ? b0 - a1 : b1 < a0 ? a0 - b1 : 0;
  };
  const long long dx =
      gap(p.x, static_cast<long long>(p.x) + width, s.x, static_cast<long long>(s.x) + s.width);
  const long long dy =
      gap(p.y, static_cast<long long>(p.y) + height, s.y, static_cast<long long>(s.y) + s.height);
  return dx * dx + dy * dy;
}

int Clamp(int v, int low, int room) {
  // Inside [low, low + room], or at low when there is no room.
  return room <= 0 ? low : std::clamp(v, low, low + room);
}

}  // namespace

FramePoint PlaceFrame(FramePoint saved, int frame_width, int frame_height,
                      std::span<const ScreenRect> screens) {
  frame_width = std::max(frame_width, 1);
  frame_height = std::max(frame_height, kTitleBarHeight);
  const ScreenRect* nearest = nullptr;
  long long nearest_distance = LLONG_MAX;
  for (const ScreenRect& s : screens) {
    if (s.width <= 0 || s.height <= 0) continue;
    if (TitleBarOn(s, saved, frame_width)) return saved;
    const long long d = Distance(s, saved, frame_width, frame_height);
    if (d < nearest_distance) {
      nearest_distance = d;
      nearest = &s;
    }
  }
  if (nearest == nullptr) return saved;
  return {Clamp(saved.x, nearest->x, nearest->width - frame_width),
          Clamp(saved.y, nearest->y, nearest->height - frame_height)};
}

}  // namespace glimmerix
