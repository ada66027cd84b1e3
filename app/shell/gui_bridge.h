// The hand-off from the engine thread (and any other thread) to the GUI thread.
//
// Producers (any thread, chiefly the engine during its pass) only store into atomics and, at most
// once per batch, write to an eventfd; they never block and never allocate. While the engine is
// in a pass, wake-ups for changed gadgets wait for its end, so one pass wakes the GUI once:
//   - OnControlChanged marks a gadget dirty (the ControlTable's observer);
//   - ColumnDrawn publishes a column's band value and lamp as one 64-bit word, and marks the
//     column only when that word differs from the last one (the same word draws the same picture);
//   - PostButtonMessage queues a click of a mode button on its release (single producer: the
//     engine thread; a full queue drops the click, as a key held on gets clicked again).
// The consumer (the GUI thread) is woken by the platform's signal and calls Drain(), which hands
// out what changed since the last drain: on Linux it watches wake_fd() (an eventfd,
// gui_bridge_eventfd.cpp); on Windows the bridge posts a message to the window named by
// set_wake_window (gui_bridge_win32.cpp). Toolkit-free, so it is tested without a display.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "engine/engine.h"

namespace glimmerix::shell {

class GuiBridge : public ControlObserver, public ColumnSink, public ClickPoster {
 public:
  GuiBridge();
  ~GuiBridge() override;
  GuiBridge(const GuiBridge&) = delete;
  GuiBridge& operator=(const GuiBridge&) = delete;

  // Linux: readable while something waits for Drain(); -1 if the eventfd could not be made (then
  // the consumer has to poll Drain() instead). -1 on Windows.
  int wake_fd() const { return fd_; }
  // Windows: the window (an HWND) posted message when something waits for Drain(); until it is
  // set (and after it is set to nullptr) wake-ups are only recorded. Any thread. Unused on Linux.
  void set_wake_window(void* window, unsigned message);

  // Whether the window is on screen (any thread; starts true). While it is not, changes are
  // still recorded but only clicks wake the GUI, so a program in the tray stays idle; turning it
  // back on wakes the GUI once to bring the widgets up to date.
  void set_window_shown(bool shown);

  void OnControlChanged(int gadget) override;
  void ColumnDrawn(int column, float band_value, int lamp, const ColumnPicture& picture) override;
  void PassBegins() override;
  void PassEnded() override;
  void PostButtonMessage(int gadget, ButtonMessage message) override;

  // What the consumer is told by Drain().
  class Consumer {
   public:
    virtual ~Consumer() = default;
    virtual void ControlChanged(int gadget) = 0;                             // non-column gadgets
    virtual void ColumnChanged(int column, float band_value, int lamp) = 0;  // 0..17
    virtual void ButtonClicked(int gadget) = 0;                              // in the order posted
  };
  // GUI thread. Resets the wake-up first, so anything published while draining wakes again.
  void Drain(Consumer& consumer);

 private:
  static constexpr int kWords = (gadget::kCount + 63) / 64;
  static constexpr int kClickSlots = 64;

  void Wake();           // now, unless a wake-up is outstanding
  void WakeAfterPass();  // at the end of the pass in progress, or now
  // The platform's signal: made, raised (any thread, never blocks), consumed (GUI thread), freed.
  void OpenSignal();
  void RaiseSignal();
  void ConsumeSignal();
  void CloseSignal();

  int fd_ = -1;                              // Linux: the eventfd
  std::atomic<void*> wake_window_{nullptr};  // Windows: the window posted wake_message_
  std::atomic<unsigned> wake_message_{0};
  std::atomic<bool> wake_pending_{false};     // an eventfd write is outstanding
  std::atomic<bool> window_shown_{true};      // see set_window_shown
  std::atomic<bool> in_pass_{false};          // the engine is between PassBegins and PassEnded
  std::atomic<bool> wake_after_pass_{false};  // a wake-up waits for PassEnded
  std::array<std::atomic<std::uint64_t>, kWords> dirty_{};  // one bit per gadget
  // float bits << 32 | lamp; kNeverDrawn (a word no drawing makes) until the first drawing.
  static constexpr std::uint64_t kNeverDrawn = ~std::uint64_t{0};
  std::array<std::atomic<std::uint64_t>, kChannels> columns_;
  // Click queue: single producer (engine), single consumer (GUI); indices grow forever.
  std::array<std::atomic<int>, kClickSlots> clicks_{};
  std::atomic<std::uint32_t> click_head_{0};  // next slot the producer fills
  std::atomic<std::uint32_t> click_tail_{0};  // next slot the consumer reads
};

}  // namespace glimmerix::shell
