#include "program/window_placement.h"

#include <gtest/gtest.h>

#include <vector>

namespace glimmerix {
namespace {

// The main window's frame under openbox: 180 x 243 inside, 1 px borders, a 20 px title bar.
constexpr int kW = 182, kH = 264;
const std::vector<ScreenRect> kOne = {{0, 0, 1280, 1024}};

TEST(PlaceFrame, ASavedCornerWithAGrabbableTitleBarStays) {
  for (FramePoint p : {FramePoint{0, 0}, FramePoint{100, 120}, FramePoint{1100, 760},
                       FramePoint{-140, 50}, FramePoint{1240, 1004}, FramePoint{500, 1004}})
    EXPECT_EQ(PlaceFrame(p, kW, kH, kOne), p) << p.x << "," << p.y;
}

TEST(PlaceFrame, ATitleBarOffEveryScreenComesBackAsLittleAsItCan) {
  // Right of a 1280 px screen, saved on a wider one: the whole frame back at the right edge.
  EXPECT_EQ(PlaceFrame({3000, 300}, kW, kH, kOne), (FramePoint{1280 - kW, 300}));
  // Only a sliver across, or the title bar cut at the top or bottom.
  EXPECT_EQ(PlaceFrame({1250, 300}, kW, kH, kOne), (FramePoint{1280 - kW, 300}));
  EXPECT_EQ(PlaceFrame({-150, 40}, kW, kH, kOne), (FramePoint{0, 40}));
  EXPECT_EQ(PlaceFrame({200, -5}, kW, kH, kOne), (FramePoint{200, 0}));
  EXPECT_EQ(PlaceFrame({200, 1010}, kW, kH, kOne), (FramePoint{200, 1024 - kH}));
  EXPECT_EQ(PlaceFrame({-32000, -32000}, kW, kH, kOne), (FramePoint{0, 0}));
}

TEST(PlaceFrame, SeveralScreensCountEachAndTheNearestTakesAStrayFrame) {
  const std::vector<ScreenRect> two = {{0, 0, 1280, 1024}, {1280, 200, 800, 600}};
  EXPECT_EQ(PlaceFrame({1500, 300}, kW, kH, two), (FramePoint{1500, 300}));
  // Above the second screen, beside the first one's right half: the second is nearer.
  EXPECT_EQ(PlaceFrame({1600, 100}, kW, kH, two), (FramePoint{1600, 200}));
  EXPECT_EQ(PlaceFrame({2500, 900}, kW, kH, two), (FramePoint{2080 - kW, 800 - kH}));
  // A frame larger than its screen keeps its corner on it.
  EXPECT_EQ(PlaceFrame({5000, 5000}, 900, 700, two), (FramePoint{1280, 200}));
  EXPECT_EQ(PlaceFrame({5000, 5000}, kW, kH, {}), (FramePoint{5000, 5000}));
}

}  // namespace
}  // namespace glimmerix
