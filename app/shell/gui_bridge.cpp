#include "app/shell/gui_bridge.h"

#include <bit>

namespace glimmerix::shell {

GuiBridge::GuiBridge() {
  for (auto& word : columns_) word.store(kNeverDrawn, std::memory_order_relaxed);
  OpenSignal();
}

GuiBridge::~GuiBridge() {
  CloseSignal();
}

void GuiBridge::Wake() {
  if (wake_pending_.exchange(true, std::memory_order_acq_rel)) return;
  RaiseSignal();
}

// Sequentially consistent on purpose: a producer that still sees the pass running after leaving
// its note is ordered before PassEnded's store, so PassEnded finds the note.
void GuiBridge::WakeAfterPass() {
  if (in_pass_.load()) {
    wake_after_pass_.store(true);
    if (in_pass_.load()) return;
  }
  Wake();
}

void GuiBridge::PassBegins() {
  in_pass_.store(true);
}

void GuiBridge::PassEnded() {
  in_pass_.store(false);
  if (wake_after_pass_.exchange(false)) Wake();
}

void GuiBridge::OnControlChanged(int g) {
  if (g < 0 || g >= gadget::kCount) return;
  dirty_[g / 64].fetch_or(std::uint64_t{1} << (g % 64), std::memory_order_release);
  if (window_shown_.load(std::memory_order_relaxed)) WakeAfterPass();
}

void GuiBridge::ColumnDrawn(int column, float band_value, int lamp, const ColumnPicture&) {
  if (column < 0 || column >= kChannels) return;
  const std::uint64_t word =
      (std::uint64_t{std::bit_cast<std::uint32_t>(band_value)} << 32) | (lamp == 1 ? 1u : 0u);
  // The same word draws the same picture: passes over unchanged sound (silence, or no new
  // samples since the last pass) leave the GUI asleep.
  if (columns_[column].exchange(word, std::memory_order_relaxed) == word) return;
  OnControlChanged(gadget::kFirstColumn + column);
}

void GuiBridge::set_window_shown(bool shown) {
  if (!window_shown_.exchange(shown) && shown) Wake();
}

void GuiBridge::PostButtonMessage(int g, ButtonMessage message) {
  // A press alone does nothing; the release completes the click.
  if (message != ButtonMessage::kUp) return;
  const std::uint32_t head = click_head_.load(std::memory_order_relaxed);
  if (head - click_tail_.load(std::memory_order_acquire) >= kClickSlots) return;
  clicks_[head % kClickSlots].store(g, std::memory_order_relaxed);
  click_head_.store(head + 1, std::memory_order_release);
  Wake();
}

void GuiBridge::Drain(Consumer& consumer) {
  ConsumeSignal();
  wake_pending_.store(false, std::memory_order_release);

  for (int w = 0; w < kWords; ++w) {
    std::uint64_t bits = dirty_[w].exchange(0, std::memory_order_acquire);
    while (bits != 0) {
      const int bit = std::countr_zero(bits);
      bits &= bits - 1;
      const int g = w * 64 + bit;
      if (g >= gadget::kFirstColumn && g <= gadget::kLastColumn) {
        const int column = g - gadget::kFirstColumn;
        const std::uint64_t word = columns_[column].load(std::memory_order_relaxed);
        consumer.ColumnChanged(column, std::bit_cast<float>(static_cast<std::uint32_t>(word >> 32)),
                               static_cast<int>(word & 1));
      } else {
        consumer.ControlChanged(g);
      }
    }
  }

  const std::uint32_t head = click_head_.load(std::memory_order_acquire);
  std::uint32_t tail = click_tail_.load(std::memory_order_relaxed);
  while (tail != head) {
    const int g = clicks_[tail % kClickSlots].load(std::memory_order_relaxed);
    ++tail;
    click_tail_.store(tail, std::memory_order_release);
    consumer.ButtonClicked(g);
  }
}

}  // namespace glimmerix::shell
