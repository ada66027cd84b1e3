// The main window's control states, addressed by gadget number.
//
// Thread safety: every member function may be called from any thread. Values (scroll bar
// positions, check box ticks, selected list indices) are atomics; texts and list entries are
// guarded by a mutex. The engine thread reads and sets values during its pass and never touches
// the texts, so a pass neither blocks nor allocates here.
//
// The window mirrors this table: the user's changes go in through set_value(), and an observer
// (set_observer) hears every change so the GUI thread can bring its widgets up to date.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace glimmerix {

// Gadget numbers of the main window.
namespace gadget {
inline constexpr int kStatusText = 0;    // "USBON"/"USBOFF" indicator
inline constexpr int kFirstBandBar = 1;  // band bars 1..18 (channel n is gadget n)
inline constexpr int kLastBandBar = 18;
inline constexpr int kManualButton = 19;
inline constexpr int kAutoButton = 20;
inline constexpr int kLevelBar = 21;
inline constexpr int kAgcBar = 23;
inline constexpr int kKeyCheck = 24;
inline constexpr int kRndButton = 25;
inline constexpr int kFirstOutputList = 27;  // output-assignment lists 27..44 ("OUT1".."OUT18")
inline constexpr int kLastOutputList = 44;
inline constexpr int kLptCheck = 45;
inline constexpr int kFirstPinLabel = 46;  // pin labels 46..63
inline constexpr int kLastPinLabel = 63;
inline constexpr int kWidthButton = 64;  // "<>"
inline constexpr int kCaption = 65;
inline constexpr int kBrightBar = 66;
inline constexpr int kStepBar = 67;
inline constexpr int kPresetList = 68;
inline constexpr int kInvertCheck = 69;
inline constexpr int kFirstColumn = 303;  // spectrum column pictures 303..320
inline constexpr int kLastColumn = 320;
inline constexpr int kCount = 321;
}  // namespace gadget

inline constexpr int kChannels = 18;
inline constexpr int kOutputListEntries = 19;  // "No", "1".."18"

enum class ControlKind { kNone, kText, kButton, kScrollBar, kCheckBox, kList, kPicture };

// A scroll bar's minimum, maximum and page length; positions run from min to max - page.
struct ScrollRange {
  int min = 0;
  int max = 0;
  int page = 0;
  int lowest() const { return min; }
  int highest() const { return max - page; }
};

ControlKind KindOf(int gadget);
// Range of a scroll bar gadget; {0,0,0} for other gadgets.
ScrollRange RangeOf(int gadget);
// Start value of a gadget's state (bar position, tick, selected index) before any setting.
int StartValueOf(int gadget);

struct Rgb {
  std::uint8_t r = 0, g = 0, b = 0;
  bool operator==(const Rgb&) const = default;
};

// Told of every change of a control's state, on the thread that made it. Must return quickly,
// must not block and must not allocate (the engine thread calls it during its pass).
class ControlObserver {
 public:
  virtual ~ControlObserver() = default;
  virtual void OnControlChanged(int gadget) = 0;
};

class ControlTable {
 public:
  ControlTable();
  ControlTable(const ControlTable&) = delete;
  ControlTable& operator=(const ControlTable&) = delete;

  // The state of a gadget: a scroll bar's position, a check box's tick (0/1), a list's selected
  // index (-1 when none). Other gadgets and numbers outside the table read 0.
  int value(int gadget) const;

  // Sets a state as the window system would take it: a bar's position is brought to the nearest
  // end of its range, a check box takes 1 for any non-zero value, a list given an index outside
  // its entries selects nothing (-1). Numbers outside the table are ignored.
  void set_value(int gadget, int value);

  // Convenience accessors for the channel-numbered controls (n = 1..18).
  int band_bar(int channel) const { return value(gadget::kFirstBandBar + channel - 1); }
  int output_list(int output) const { return value(gadget::kFirstOutputList + output - 1); }

  // Number of entries of a list gadget (19 for the output lists, the preset count for 68).
  int list_size(int gadget) const;

  // The preset list's entries (names as bytes, in list order). Replacing them selects nothing.
  void set_preset_entries(std::vector<std::string> entries);
  void add_preset_entry(std::string entry);
  std::vector<std::string> preset_entries() const;
  // The shown text of the preset list: the selected entry, or empty text when none is selected.
  std::string preset_text() const;

  // The status text (gadget 0), its colour and its tool tip (empty: none).
  void set_status(std::string text, Rgb colour, std::string tooltip = {});
  std::string status_text() const;
  Rgb status_colour() const;
  std::string status_tooltip() const;

  // At most one observer; nullptr removes it. The observer must outlive its registration.
  void set_observer(ControlObserver* observer) { observer_.store(observer); }

 private:
  void Notify(int gadget);

  std::array<std::atomic<int>, gadget::kCount> values_;
  std::atomic<int> preset_count_{0};
  std::atomic<ControlObserver*> observer_{nullptr};

  // guards preset_entries_, status_text_, status_colour_, status_tooltip_
  mutable std::mutex text_mutex_;
  std::vector<std::string> preset_entries_;
  std::string status_text_ = "USBOFF";
  Rgb status_colour_{255, 0, 0};
  std::string status_tooltip_;
};

}  // namespace glimmerix
