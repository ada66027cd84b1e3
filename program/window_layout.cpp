#include "program/window_layout.h"

#include <array>
#include <vector>

namespace glimmerix::shell {
namespace {

constexpr std::array<std::string_view, kChannels> kBandLabels = {
    "13 Hz",   "16 Hz",   "24 Hz",   "35 Hz",   "53 Hz",   "79 Hz",
    "118 Hz",  "178 Hz",  "267 Hz",  "400 Hz",  "600 Hz",  "900 Hz",
    "1350 Hz", "2024 Hz", "3036 Hz", "4554 Hz", "6830 Hz", "10250 Hz"};

// Output n (1..18) is "OUTn" in setting.dat; 1..9 sit in the left column, 10..18 in the right.
constexpr std::array<std::string_view, kChannels> kPinNames = {
    "PD0", "PD1", "PD3", "PD5", "PD6", "PD7", "PB0", "PB1", "PB2",
    "PB3", "PB4", "PB5", "PC0", "PC1", "PC2", "PC3", "PC4", "PC5"};

ControlDef Def(int g, ControlKind kind, int x, int y, int w, int h, std::string_view caption = {},
               std::string_view tooltip = {}, bool vertical = false, bool centred = false) {
  return ControlDef{g, kind, x, y, w, h, caption, tooltip, vertical, centred};
}

std::vector<ControlDef> Build() {
  using K = ControlKind;
  namespace g = gadget;
  std::vector<ControlDef> c;
  c.push_back(Def(g::kStatusText, K::kText, 105, 228, 50, 16, "USBOFF", "", false, true));
  for (int n = 1; n <= kChannels; ++n)
    c.push_back(Def(n, K::kScrollBar, 10 + 9 * (n - 1), 87, 8, 80, "", kBandLabels[n - 1], true));
  c.push_back(Def(g::kManualButton, K::kButton, 10, 190, 50, 18, "Manual"));
  c.push_back(Def(g::kAutoButton, K::kButton, 120, 190, 50, 18, "Auto"));
  c.push_back(Def(g::kRndButton, K::kButton, 65, 190, 50, 18, "Rnd"));
  c.push_back(Def(g::kBrightBar, K::kScrollBar, 10, 210, 80, 16, "", "Bright"));
  c.push_back(Def(g::kStepBar, K::kScrollBar, 90, 210, 80, 16, "", "Step"));
  c.push_back(Def(g::kLevelBar, K::kScrollBar, 10, 170, 80, 16, "", "Level"));
  c.push_back(Def(g::kAgcBar, K::kScrollBar, 90, 170, 80, 16, "", "AGC"));
  c.push_back(Def(g::kKeyCheck, K::kCheckBox, 10, 225, 50, 20, "Key"));
  c.push_back(Def(g::kLptCheck, K::kCheckBox, 65, 225, 40, 20, "LPT"));
  c.push_back(Def(g::kInvertCheck, K::kCheckBox, 181, 209, 70, 20, "Invert"));
  c.push_back(Def(g::kWidthButton, K::kButton, 156, 228, 14, 14, "<>"));
  c.push_back(Def(g::kCaption, K::kText, 210, 228, 125, 16, "-=Olvex Studio=-"));
  c.push_back(Def(g::kPresetList, K::kList, 181, 190, 134, 18));
  // Pin labels, row by row, left then right.
  for (int row = 0; row < 9; ++row) {
    c.push_back(
        Def(g::kFirstPinLabel + 2 * row, K::kText, 181, 9 + 20 * row, 22, 16, kPinNames[row]));
    c.push_back(Def(g::kFirstPinLabel + 2 * row + 1, K::kText, 251, 9 + 20 * row, 22, 16,
                    kPinNames[9 + row]));
  }
  // Output-assignment lists 27..44: the first nine on the left, the rest on the right.
  for (int out = 1; out <= kChannels; ++out) {
    const int row = (out - 1) % 9;
    const int x = out <= 9 ? 205 : 275;
    c.push_back(Def(g::kFirstOutputList + out - 1, K::kList, x, 5 + 20 * row, 40, 18));
  }
  for (int i = 0; i < kChannels; ++i)
    c.push_back(Def(g::kFirstColumn + i, K::kPicture, 10 + 9 * i, 5, 8, 80));
  return c;
}

const std::vector<ControlDef>& Table() {
  static const std::vector<ControlDef> table = Build();
  return table;
}

}  // namespace

std::span<const ControlDef> MainWindowControls() {
  return Table();
}

const ControlDef* FindControl(int g) {
  for (const ControlDef& def : Table())
    if (def.gadget == g) return &def;
  return nullptr;
}

std::string_view BandLabel(int channel) {
  if (channel < 1 || channel > kChannels) return {};
  return kBandLabels[channel - 1];
}

std::string_view PinName(int output) {
  if (output < 1 || output > kChannels) return {};
  return kPinNames[output - 1];
}

}  // namespace glimmerix::shell
