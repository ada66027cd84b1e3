// The engine-to-window bridge's wake-up on Windows: messages posted to a window of the test's own
// thread, counted as the front-end's message loop would receive them.
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "app/shell/gui_bridge.h"

namespace glimmerix::shell {
namespace {

constexpr UINT kWake = WM_APP + 7;

struct Recorder : GuiBridge::Consumer {
  std::vector<int> controls, columns, clicks;
  void ControlChanged(int g) override { controls.push_back(g); }
  void ColumnChanged(int column, float, int) override { columns.push_back(column); }
  void ButtonClicked(int g) override { clicks.push_back(g); }
};

// A message-only window of this thread, and the wake-ups waiting for it.
class WakeWindow {
 public:
  WakeWindow() {
    window_ =
        CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  }
  ~WakeWindow() { DestroyWindow(window_); }
  HWND get() const { return window_; }
  int TakeWakes() {
    int count = 0;
    MSG message;
    while (PeekMessageW(&message, window_, kWake, kWake, PM_REMOVE)) ++count;
    return count;
  }

 private:
  HWND window_;
};

TEST(GuiBridgeWindows, OneMessagePerBatchAndWhatChangedBeforeTheWindowExistedIsShown) {
  GuiBridge bridge;
  WakeWindow window;
  ASSERT_NE(window.get(), nullptr);
  // Recorded while there is no window to wake: nothing is posted, nothing is lost.
  bridge.OnControlChanged(gadget::kBrightBar);
  bridge.set_wake_window(window.get(), kWake);
  EXPECT_EQ(window.TakeWakes(), 1);
  Recorder recorder;
  bridge.Drain(recorder);
  EXPECT_EQ(recorder.controls, std::vector<int>{gadget::kBrightBar});

  // Many changes before the drain: one message.
  bridge.OnControlChanged(gadget::kStepBar);
  bridge.OnControlChanged(gadget::kLevelBar);
  bridge.PostButtonMessage(gadget::kAutoButton, ButtonMessage::kUp);
  EXPECT_EQ(window.TakeWakes(), 1);
  bridge.Drain(recorder);
  EXPECT_EQ(recorder.clicks, std::vector<int>{gadget::kAutoButton});
  // After the drain the next change wakes again.
  bridge.OnControlChanged(gadget::kAgcBar);
  EXPECT_EQ(window.TakeWakes(), 1);
}

TEST(GuiBridgeWindows, AnEnginePassPostsOnceAtItsEnd) {
  GuiBridge bridge;
  WakeWindow window;
  bridge.set_wake_window(window.get(), kWake);
  window.TakeWakes();
  Recorder recorder;
  bridge.Drain(recorder);

  bridge.PassBegins();
  ColumnPicture picture;
  for (int column = 0; column < kChannels; ++column)
    bridge.ColumnDrawn(column, 1.0f + column, 0, picture);
  bridge.OnControlChanged(gadget::kStatusText);
  EXPECT_EQ(window.TakeWakes(), 0);
  bridge.PassEnded();
  EXPECT_EQ(window.TakeWakes(), 1);
  bridge.Drain(recorder);
  EXPECT_EQ(recorder.columns.size(), static_cast<std::size_t>(kChannels));
  EXPECT_EQ(recorder.controls, std::vector<int>{gadget::kStatusText});
}

}  // namespace
}  // namespace glimmerix::shell
