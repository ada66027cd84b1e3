#include "engine/controls.h"

#include <algorithm>
#include <utility>

namespace glimmerix {

ControlKind KindOf(int g) {
  using namespace gadget;
  if (g == kStatusText || g == kCaption) return ControlKind::kText;
  if (g >= kFirstBandBar && g <= kLastBandBar) return ControlKind::kScrollBar;
  if (g == kLevelBar || g == kAgcBar || g == kBrightBar || g == kStepBar)
    return ControlKind::kScrollBar;
  if (g == kManualButton || g == kAutoButton || g == kRndButton || g == kWidthButton)
    return ControlKind::kButton;
  if (g == kKeyCheck || g == kLptCheck || g == kInvertCheck) return ControlKind::kCheckBox;
  if ((g >= kFirstOutputList && g <= kLastOutputList) || g == kPresetList)
    return ControlKind::kList;
  if (g >= kFirstPinLabel && g <= kLastPinLabel) return ControlKind::kText;
  if (g >= kFirstColumn && g <= kLastColumn) return ControlKind::kPicture;
  return ControlKind::kNone;
}

ScrollRange RangeOf(int g) {
  using namespace gadget;
  if (g >= kFirstBandBar && g <= kLastBandBar) return {0, 40, 1};
  switch (g) {
    case kBrightBar:
      return {0, 18, 3};
    case kStepBar:
      return {0, 265, 10};
    case kLevelBar:
      return {0, 70, 10};
    case kAgcBar:
      return {1, 70, 10};
    default:
      return {};
  }
}

int StartValueOf(int g) {
  using namespace gadget;
  if (g >= kFirstBandBar && g <= kLastBandBar) return 15;
  switch (g) {
    case kBrightBar:
      return 11;
    case kStepBar:
      return 40;
    case kLevelBar:
      return 35;
    case kAgcBar:
      return 35;
    case kKeyCheck:
      return 1;
    case kLptCheck:
      return 1;
    case kInvertCheck:
      return 0;
    case kPresetList:
      return -1;
    default:
      break;
  }
  if (g >= kFirstOutputList && g <= kLastOutputList) return -1;
  return 0;
}

ControlTable::ControlTable() {
  for (int g = 0; g < gadget::kCount; ++g) values_[g].store(StartValueOf(g));
}

int ControlTable::value(int g) const {
  if (g < 0 || g >= gadget::kCount) return 0;
  return values_[g].load(std::memory_order_relaxed);
}

int ControlTable::list_size(int g) const {
  if (g >= gadget::kFirstOutputList && g <= gadget::kLastOutputList) return kOutputListEntries;
  if (g == gadget::kPresetList) return preset_count_.load();
  return 0;
}

void ControlTable::set_value(int g, int v) {
  if (g < 0 || g >= gadget::kCount) return;
  switch (KindOf(g)) {
    case ControlKind::kScrollBar: {
      const ScrollRange r = RangeOf(g);
      v = std::clamp(v, r.lowest(), r.highest());
      break;
    }
    case ControlKind::kCheckBox:
      v = v != 0 ? 1 : 0;
      break;
    case ControlKind::kList:
      if (v < 0 || v >= list_size(g)) v = -1;
      break;
    default:
      break;
  }
  if (values_[g].exchange(v, std::memory_order_relaxed) != v) Notify(g);
}

void ControlTable::Notify(int g) {
  if (ControlObserver* o = observer_.load()) o->OnControlChanged(g);
}

void ControlTable::set_preset_entries(std::vector<std::string> entries) {
  {
    std::lock_guard lock(text_mutex_);
    preset_entries_ = std::move(entries);
    preset_count_.store(static_cast<int>(preset_entries_.size()));
  }
  values_[gadget::kPresetList].store(-1);
  Notify(gadget::kPresetList);
}

void ControlTable::add_preset_entry(std::string entry) {
  {
    std::lock_guard lock(text_mutex_);
    preset_entries_.push_back(std::move(entry));
    preset_count_.store(static_cast<int>(preset_entries_.size()));
  }
  Notify(gadget::kPresetList);
}

std::vector<std::string> ControlTable::preset_entries() const {
  std::lock_guard lock(text_mutex_);
  return preset_entries_;
}

std::string ControlTable::preset_text() const {
  std::lock_guard lock(text_mutex_);
  const int selected = values_[gadget::kPresetList].load();
  if (selected < 0 || selected >= static_cast<int>(preset_entries_.size())) return {};
  return preset_entries_[selected];
}

void ControlTable::set_status(std::string text, Rgb colour, std::string tooltip) {
  {
    std::lock_guard lock(text_mutex_);
    status_text_ = std::move(text);
    status_colour_ = colour;
    status_tooltip_ = std::move(tooltip);
  }
  Notify(gadget::kStatusText);
}

std::string ControlTable::status_text() const {
  std::lock_guard lock(text_mutex_);
  return status_text_;
}

Rgb ControlTable::status_colour() const {
  std::lock_guard lock(text_mutex_);
  return status_colour_;
}

std::string ControlTable::status_tooltip() const {
  std::lock_guard lock(text_mutex_);
  return status_tooltip_;
}

}  // namespace glimmerix
