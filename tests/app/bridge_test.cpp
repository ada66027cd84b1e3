#include <poll.h>

#include <thread>
#include <vector>

#include "app/shell/gui_bridge.h"
#include "gtest/gtest.h"

namespace glimmerix::shell {
namespace {

struct Recorder : GuiBridge::Consumer {
  std::vector<int> controls;
  std::vector<std::tuple<int, float, int>> columns;
  std::vector<int> clicks;
  void ControlChanged(int g) override { controls.push_back(g); }
  void ColumnChanged(int c, float v, int lamp) override { columns.emplace_back(c, v, lamp); }
  void ButtonClicked(int g) override { clicks.push_back(g); }
};

bool Readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, 0) == 1;
}

TEST(GuiBridge, WakesOnceAndDeliversEachChangedGadgetOnceWithTheLatestColumn) {
  GuiBridge bridge;
  ASSERT_GE(bridge.wake_fd(), 0);
  EXPECT_FALSE(Readable(bridge.wake_fd()));

  bridge.OnControlChanged(5);
  bridge.OnControlChanged(5);
  bridge.OnControlChanged(gadget::kStatusText);
  ColumnPicture unused;
  bridge.ColumnDrawn(3, 1.5f, 0, unused);
  bridge.ColumnDrawn(3, 7.25f, 1, unused);
  bridge.OnControlChanged(gadget::kCount);  // not a gadget: ignored
  bridge.ColumnDrawn(kChannels, 1.0f, 1, unused);
  EXPECT_TRUE(Readable(bridge.wake_fd()));

  Recorder r;
  bridge.Drain(r);
  EXPECT_EQ(r.controls, (std::vector<int>{gadget::kStatusText, 5}));
  ASSERT_EQ(r.columns.size(), 1u);
  EXPECT_EQ(r.columns[0], std::make_tuple(3, 7.25f, 1));
  EXPECT_FALSE(Readable(bridge.wake_fd()));

  // Nothing new: nothing delivered.
  Recorder again;
  bridge.Drain(again);
  EXPECT_TRUE(again.controls.empty() && again.columns.empty() && again.clicks.empty());
}

TEST(GuiBridge, AColumnDrawnAgainUnchangedNeitherWakesNorIsDeliveredAgain) {
  GuiBridge bridge;
  ColumnPicture unused;
  // The first drawing always reaches the GUI, silence included: the columns start black.
  bridge.ColumnDrawn(2, 0.0f, 0, unused);
  EXPECT_TRUE(Readable(bridge.wake_fd()));
  Recorder first;
  bridge.Drain(first);
  EXPECT_EQ(first.columns, (std::vector<std::tuple<int, float, int>>{{2, 0.0f, 0}}));

  for (int pass = 0; pass < 3; ++pass) bridge.ColumnDrawn(2, 0.0f, 0, unused);
  EXPECT_FALSE(Readable(bridge.wake_fd()));
  Recorder quiet;
  bridge.Drain(quiet);
  EXPECT_TRUE(quiet.columns.empty());

  // Any change of value or lamp is delivered, and so is going back before a drain.
  bridge.ColumnDrawn(2, 0.0f, 1, unused);
  bridge.ColumnDrawn(2, 0.0f, 0, unused);
  EXPECT_TRUE(Readable(bridge.wake_fd()));
  Recorder changed;
  bridge.Drain(changed);
  EXPECT_EQ(changed.columns, (std::vector<std::tuple<int, float, int>>{{2, 0.0f, 0}}));
}

TEST(GuiBridge, WhileTheWindowIsHiddenOnlyClicksWakeAndShowingItDeliversTheLatest) {
  GuiBridge bridge;
  ColumnPicture unused;
  bridge.set_window_shown(false);
  bridge.ColumnDrawn(0, 2.0f, 0, unused);
  bridge.ColumnDrawn(0, 3.0f, 1, unused);
  bridge.OnControlChanged(7);
  EXPECT_FALSE(Readable(bridge.wake_fd()));
  bridge.PostButtonMessage(gadget::kAutoButton, ButtonMessage::kUp);  // hot keys work hidden
  EXPECT_TRUE(Readable(bridge.wake_fd()));
  Recorder r;
  bridge.Drain(r);
  EXPECT_EQ(r.clicks, std::vector<int>{gadget::kAutoButton});
  bridge.ColumnDrawn(1, 4.0f, 0, unused);
  EXPECT_FALSE(Readable(bridge.wake_fd()));
  bridge.set_window_shown(true);
  EXPECT_TRUE(Readable(bridge.wake_fd()));
  Recorder shown;
  bridge.Drain(shown);
  EXPECT_EQ(shown.columns, (std::vector<std::tuple<int, float, int>>{{1, 4.0f, 0}}));
}

TEST(GuiBridge, AChangeMadeWhileDrainingWakesAgain) {
  GuiBridge bridge;
  struct Reentrant : Recorder {
    GuiBridge* b = nullptr;
    void ControlChanged(int g) override {
      Recorder::ControlChanged(g);
      if (g == 1) b->OnControlChanged(2);  // e.g. a click handler that moves a bar
    }
  } r;
  r.b = &bridge;
  bridge.OnControlChanged(1);
  bridge.Drain(r);
  EXPECT_TRUE(Readable(bridge.wake_fd()));
  bridge.Drain(r);
  EXPECT_EQ(r.controls, (std::vector<int>{1, 2}));
}

TEST(GuiBridge, ClicksArriveOnReleaseInOrderAndAFullQueueDropsTheRest) {
  GuiBridge bridge;
  bridge.PostButtonMessage(gadget::kManualButton, ButtonMessage::kDown);
  Recorder none;
  bridge.Drain(none);
  EXPECT_TRUE(none.clicks.empty());

  bridge.PostButtonMessage(gadget::kManualButton, ButtonMessage::kUp);
  bridge.PostButtonMessage(gadget::kRndButton, ButtonMessage::kDown);
  bridge.PostButtonMessage(gadget::kRndButton, ButtonMessage::kUp);
  bridge.PostButtonMessage(gadget::kAutoButton, ButtonMessage::kUp);
  Recorder r;
  bridge.Drain(r);
  EXPECT_EQ(r.clicks,
            (std::vector<int>{gadget::kManualButton, gadget::kRndButton, gadget::kAutoButton}));

  for (int i = 0; i < 200; ++i) bridge.PostButtonMessage(20, ButtonMessage::kUp);
  Recorder full;
  bridge.Drain(full);
  EXPECT_EQ(full.clicks.size(), 64u);
  // The queue works again once drained.
  bridge.PostButtonMessage(19, ButtonMessage::kUp);
  Recorder after;
  bridge.Drain(after);
  EXPECT_EQ(after.clicks, std::vector<int>{19});
}

TEST(GuiBridge, AnEngineThreadPublishingWhileTheGuiDrainsLosesNoFinalState) {
  GuiBridge bridge;
  constexpr int kPasses = 5000;
  std::thread engine([&] {
    ColumnPicture unused;
    for (int pass = 1; pass <= kPasses; ++pass) {
      for (int c = 0; c < kChannels; ++c)
        bridge.ColumnDrawn(c, static_cast<float>(pass), 1, unused);
      if (pass % 100 == 0) bridge.PostButtonMessage(19, ButtonMessage::kUp);
    }
  });
  Recorder r;
  std::array<float, kChannels> last{};
  auto drain = [&] {
    r.columns.clear();
    bridge.Drain(r);
    for (auto& [c, v, lamp] : r.columns) {
      EXPECT_GE(v, last[c]);  // never goes back to an older pass
      last[c] = v;
    }
  };
  while (last[kChannels - 1] < kPasses) {
    pollfd p{bridge.wake_fd(), POLLIN, 0};
    poll(&p, 1, 100);
    drain();
  }
  engine.join();
  drain();
  for (float v : last) EXPECT_EQ(v, kPasses);
  EXPECT_EQ(r.clicks.size(), static_cast<size_t>(kPasses / 100));
}

// One pass wakes the GUI once, at its end, however many gadgets it changed; a click still wakes it
// at once.
TEST(GuiBridge, APassWakesTheGuiOnceAtItsEndButAClickAtOnce) {
  GuiBridge bridge;
  ColumnPicture unused;
  bridge.PassBegins();
  bridge.OnControlChanged(5);
  for (int c = 0; c < kChannels; ++c) bridge.ColumnDrawn(c, 1.0f, 0, unused);
  EXPECT_FALSE(Readable(bridge.wake_fd())) << "woken in the middle of a pass";
  bridge.PostButtonMessage(19, ButtonMessage::kUp);
  EXPECT_TRUE(Readable(bridge.wake_fd()));
  Recorder r;
  bridge.Drain(r);
  EXPECT_EQ(r.clicks, std::vector<int>{19});
  bridge.ColumnDrawn(0, 2.0f, 1, unused);
  EXPECT_FALSE(Readable(bridge.wake_fd()));
  bridge.PassEnded();
  EXPECT_TRUE(Readable(bridge.wake_fd()));
  Recorder after;
  bridge.Drain(after);
  ASSERT_EQ(after.columns.size(), 1u);
  EXPECT_EQ(after.columns[0], std::make_tuple(0, 2.0f, 1));
  bridge.PassBegins();
  bridge.PassEnded();
  EXPECT_FALSE(Readable(bridge.wake_fd())) << "a pass that changed nothing woke the GUI";
}

// A change from another thread that meets the end of a pass is never left without a wake-up.
TEST(GuiBridge, AChangeRacingTheEndOfAPassStillWakes) {
  for (int round = 0; round < 2000; ++round) {
    GuiBridge bridge;
    std::thread engine([&] {
      bridge.PassBegins();
      bridge.PassEnded();
    });
    std::thread other([&] { bridge.OnControlChanged(5); });
    engine.join();
    other.join();
    ASSERT_TRUE(Readable(bridge.wake_fd())) << "round " << round;
  }
}

}  // namespace
}  // namespace glimmerix::shell
