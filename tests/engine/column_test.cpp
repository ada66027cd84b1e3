#include <gtest/gtest.h>

#include "engine/column_picture.h"
#include "tests/engine/engine_harness.h"

namespace glimmerix {
namespace {

using namespace column_colour;

bool IsGridRow(int y) {
  return y <= 4 || (y >= 15 && y <= 19) || (y >= 20 && (80 - y) % 3 == 0);
}

// The whole expected picture for a band value whose bar reaches from row top to 79.
void ExpectPicture(const ColumnPicture& p, int bar_top, int lamp) {
  for (int y = 0; y < 80; ++y) {
    Rgb want;
    if (IsGridRow(y))
      want = kGrid;
    else if (y < 15)
      want = lamp ? kLampOn : kLampOff;
    else
      want = y >= bar_top ? kBar : kBackground;
    for (int x = 0; x < 8; ++x) {
      ASSERT_EQ(p.at(x, y), want) << "x " << x << " y " << y;
    }
  }
}

TEST(Column, BandValueZeroTenAndThirty) {
  ColumnPicture p;
  DrawColumn(p, 0.0f, 0);
  ExpectPicture(p, 80, 0);
  DrawColumn(p, 10.0f, 1);
  ExpectPicture(p, 60, 1);
  EXPECT_EQ(p.at(3, 62), kGrid);
  EXPECT_EQ(p.at(3, 61), kBar);
  DrawColumn(p, 30.0f, 0);
  ExpectPicture(p, 20, 0);
  DrawColumn(p, 1e30f, 1);  // far taller than the picture: clipped
  ExpectPicture(p, 20, 1);
}

TEST(Column, NonFiniteAndNegativeValuesDrawNoBar) {
  ColumnPicture p;
  DrawColumn(p, std::numeric_limits<float>::quiet_NaN(), 0);
  ExpectPicture(p, 80, 0);
  DrawColumn(p, -5.0f, 0);
  ExpectPicture(p, 80, 0);
}

TEST(Column, TheEngineDrawsEveryColumnItDecides) {
  testing::Harness h;
  h.shared.mode = kModeRnd;
  h.spectrum[50] = 1.0f;
  h.random_values = {0, 40};  // threshold 26; channel 1 draws 40
  for (int n = 2; n <= 18; ++n) h.random_values.push_back(10);
  h.Pass();
  ExpectPicture(h.engine.column(0), 20, 1);
  ExpectPicture(h.engine.column(17), 60, 0);
}

// The column sink hears every column of a pass between that pass's begin and end, so it can pass
// one pass's pictures on together.
TEST(Column, EachPassTellsItsColumnsBetweenItsBeginAndEnd) {
  struct Sink : ColumnSink {
    std::vector<int> heard;  // -1 begin, -2 end, else the column
    void ColumnDrawn(int column, float, int, const ColumnPicture&) override {
      heard.push_back(column);
    }
    void PassBegins() override { heard.push_back(-1); }
    void PassEnded() override { heard.push_back(-2); }
  } sink;
  ControlTable controls;
  EngineShared shared;
  EnginePorts ports;
  ports.columns = &sink;
  Engine engine(controls, shared, ports);
  for (int mode : {kModeManual, kModeAuto, kModeRnd}) {
    shared.mode = mode;
    sink.heard.clear();
    engine.RunPass();
    std::vector<int> expected{-1};
    for (int c = 0; c < kChannels; ++c) expected.push_back(c);
    expected.push_back(-2);
    EXPECT_EQ(sink.heard, expected) << "mode " << mode;
  }
}

}  // namespace
}  // namespace glimmerix
