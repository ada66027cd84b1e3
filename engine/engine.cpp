#include "engine/engine.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace glimmerix {
namespace {

// First bin of each band; band n runs to the first bin of band n + 1 (the last to 2047).
constexpr std::array<int, kChannels + 1> kBandStart = {
    0, 4, 8, 12, 16, 24, 32, 48, 64, 96, 128, 192, 256, 384, 512, 768, 1024, 1536, 2048};

constexpr double kSilence = 0.01;  // a total at or below this is silence
constexpr double kRndGate = 0.25;  // Rnd lights nothing while the total is at or below this
constexpr int kRndBase = 26;       // Rnd threshold: kRndBase + 0..kRndSpread
constexpr int kRndSpread = 13;
constexpr int kRndRange = 40;  // RND: each random band value lies in 0..kRndRange

// A band value that is not finite counts as 0 wherever it is compared or converted.
double Finite(double v) {
  return std::isfinite(v) ? v : 0.0;
}

// Round half to even into an int without undefined behaviour for any input.
int RoundToInt(double v) {
  v = Finite(v);
  v = std::clamp(v, static_cast<double>(INT_MIN), static_cast<double>(INT_MAX));
  return static_cast<int>(std::nearbyint(v));
}

struct OutputBit {
  int group;  // 0 = C, 1 = B, 2 = D
  int bit;
};
// Output-assignment lists 27..44 in order: the port group and the bit the selected channel sets.
constexpr std::array<OutputBit, kChannels> kOutputBits = {{
    {2, 0},
    {2, 1},
    {2, 2},
    {2, 3},
    {2, 4},
    {2, 5},  // PD0 PD1 PD3 PD5 PD6 PD7
    {1, 5},
    {1, 3},
    {1, 1},
    {1, 0},
    {1, 4},
    {1, 2},  // PB0 PB1 PB2 PB3 PB4 PB5
    {0, 5},
    {0, 4},
    {0, 3},
    {0, 2},
    {0, 0},
    {0, 1},  // PC0 PC1 PC2 PC3 PC4 PC5
}};

}  // namespace

PackedPorts PackPorts(const std::array<int, kChannels + 1>& channel_states,
                      const ControlTable& controls) {
  std::array<int, 3> sums{};
  for (int i = 0; i < kChannels; ++i) {
    const int selected = controls.value(gadget::kFirstOutputList + i);
    if (selected < 0 || selected > kChannels) continue;  // nothing selected: "No"
    sums[kOutputBits[i].group] += channel_states[selected] << kOutputBits[i].bit;
  }
  return {sums[0], 0x40 + sums[1], 0x80 + sums[2]};
}

void ApplyLptShare(int channel, int& lpt_data, int& lpt_control) {
  if (channel >= 4 && channel <= 11) {
    lpt_data += 1 << (channel - 4);
  } else if (channel == 12) {
    lpt_control -= 1;
  } else if (channel == 13) {
    lpt_control -= 2;
  } else if (channel == 14) {
    lpt_control += 4;
  } else if (channel == 15) {
    lpt_control -= 8;
  }
}

Engine::Engine(ControlTable& controls, EngineShared& shared, const EnginePorts& ports)
    : controls_(controls), shared_(shared), ports_(ports) {}

void Engine::RunLoop(std::stop_token stop) {
  while (!stop.stop_requested()) {
    if (ports_.spectrum) ports_.spectrum->Collect();
    RunPass();
    if (!stop.stop_requested()) Sleep(kPassSleepMs);
  }
}

void Engine::RunPass() {
  if (ports_.columns) ports_.columns->PassBegins();
  if (ports_.spectrum) ports_.spectrum->Fetch(spectrum_.data());
  AnalyseBands();
  lpt_data_ = 0;
  lpt_control_ = kLptControlAllOff;
  if (shared_.mode.load() == kModeManual) DecideManual();
  CountAgc();
  if (shared_.mode.load() == kModeAuto) DecideAuto();
  if (shared_.mode.load() == kModeRnd) DecideRnd();
  DecideLeds();
  if (controls_.value(gadget::kKeyCheck) == 1 && ports_.lamps) {
    ports_.lamps->SetLockKey('n', num_lock_lamp_);
    ports_.lamps->SetLockKey('c', caps_lock_lamp_);
    ports_.lamps->SetLockKey('s', scroll_lock_lamp_);
  }
  if (controls_.value(gadget::kInvertCheck) == 1) Invert();
  const PackedPorts packed = PackPorts(channel_states_, controls_);
  group_c_command_ = packed.group_c;
  group_b_command_ = packed.group_b;
  group_d_command_ = packed.group_d;
  if (shared_.closing.load() == 0 && !shared_.output_paused.load()) SendPorts();
  shared_.engine_level_bar.store(controls_.value(gadget::kLevelBar));
  WatchHotKeys();
  if (ports_.columns) ports_.columns->PassEnded();
}

void Engine::AnalyseBands() {
  for (int n = 0; n < kChannels; ++n) {
    float sum = 0.0f;
    for (int k = kBandStart[n]; k < kBandStart[n + 1]; ++k) sum = sum + spectrum_[k];
    band_values_[n] = sum;
  }
  float total = 0.0f;
  for (int n = 0; n < 8; ++n) total = total + band_values_[n];
  num_lamp_level_ = static_cast<float>(static_cast<double>(total) / 8);
  for (int n = 8; n < 13; ++n) total = total + band_values_[n];
  caps_lamp_level_ = static_cast<float>((static_cast<double>(total) - num_lamp_level_) / 5);
  for (int n = 13; n < 18; ++n) total = total + band_values_[n];
  scroll_lamp_level_ =
      static_cast<float>((static_cast<double>(total) - num_lamp_level_ - caps_lamp_level_) / 5);
  band_values_[18] = total;

  if (Finite(band_values_[18]) > kSilence) {
    gain_ = RoundToInt(static_cast<double>(kMaster) / band_values_[18]);
    gain_ = RoundToInt(std::sqrt(static_cast<double>(gain_)));
    const int mode = shared_.mode.load();
    const double qwerty = shared_.engine_level_bar.load();
    for (int b = 0; b < kChannels; ++b) {
      band_values_[b] = static_cast<float>(static_cast<double>(band_values_[b]) * gain_);
      if (mode == kModeManual) {
        band_values_[b] =
            static_cast<float>(std::sqrt(static_cast<double>(band_values_[b])) * qwerty);
      } else if (mode == kModeAuto) {
        band_values_[b] = static_cast<float>(static_cast<double>(band_values_[b]) * qwerty * 2.2);
      }
    }
    band_values_[18] = static_cast<float>(std::sqrt(static_cast<double>(band_values_[18])));
    num_lamp_level_ =
        static_cast<float>(std::sqrt(static_cast<double>(num_lamp_level_) * gain_) * qwerty);
    caps_lamp_level_ =
        static_cast<float>(std::sqrt(static_cast<double>(caps_lamp_level_) * gain_) * qwerty);
    scroll_lamp_level_ =
        static_cast<float>(std::sqrt(static_cast<double>(scroll_lamp_level_) * gain_) * qwerty);
  } else {
    std::fill(band_values_.begin(), band_values_.begin() + 19, 0.0f);
    num_lamp_level_ = caps_lamp_level_ = scroll_lamp_level_ = 0.0f;
    num_lamp_peak_ = caps_lamp_peak_ = scroll_lamp_peak_ = 0;
  }
}

void Engine::DecideManual() {
  for (int n = 1; n <= kChannels; ++n)
    ChannelDecided(n, Finite(band_values_[n - 1]) > controls_.band_bar(n));
}

void Engine::CountAgc() {
  const int agc = controls_.value(gadget::kAgcBar);
  shared_.engine_agc_bar.store(agc);
  ++agc_pass_count_;
  if (agc_pass_count_ >= agc) agc_pass_count_ = 0;
  agc_release_step_ = 1;
}

void Engine::DecideAuto() {
  for (int n = 1; n <= kChannels; ++n) {
    const double v = Finite(band_values_[n - 1]);
    const int bar = gadget::kFirstBandBar + n - 1;
    if (v > controls_.value(bar)) {
      controls_.set_value(bar, RoundToInt(v));
      ChannelDecided(n, true);
    } else {
      if (agc_pass_count_ == 0) controls_.set_value(bar, RoundToInt(v + agc_release_step_));
      ChannelDecided(n, false);
    }
  }
}

void Engine::DecideRnd() {
  auto uniform = [this](int n) { return ports_.random ? ports_.random->Uniform(n) : 0; };
  rnd_threshold_ = kRndBase + uniform(kRndSpread);
  if (Finite(band_values_[18]) > kRndGate) {
    for (int n = 1; n <= kChannels; ++n) {
      band_values_[n - 1] = static_cast<float>(uniform(kRndRange));
      ChannelDecided(n, band_values_[n - 1] > rnd_threshold_);
    }
  } else {
    for (int n = 1; n <= kChannels; ++n) {
      band_values_[n - 1] = 0.0f;
      ChannelDecided(n, false);
    }
  }
}

void Engine::DecideLeds() {
  auto step = [](float level, int& peak, int& state) {
    const double l = Finite(level);
    if (l > peak) {
      peak = RoundToInt(l);
      state = 1;
    } else {
      state = 0;
      if (peak > INT_MIN) --peak;
    }
  };
  step(num_lamp_level_, num_lamp_peak_, num_lock_lamp_);
  step(caps_lamp_level_, caps_lamp_peak_, caps_lock_lamp_);
  step(scroll_lamp_level_, scroll_lamp_peak_, scroll_lock_lamp_);
}

void Engine::Invert() {
  for (int n = 1; n <= kChannels; ++n) channel_states_[n] = channel_states_[n] == 0 ? 1 : 0;
}

void Engine::Send(int value) {
  if (ports_.usb) ports_.usb->SendCommand(static_cast<std::uint8_t>(value & 0xFF));
}

void Engine::SendPorts() {
  Send(group_c_command_);
  Send(group_b_command_);
  Send(group_d_command_);
  if (ports_.channels) {
    ports_.channels->ChannelsSent(channel_states_.data() + 1, band_values_.data(),
                                  controls_.value(gadget::kInvertCheck) == 1);
  }
  // Taking the request before reading the bars means a change that arrives while the commands
  // go out raises it again and is sent with the next pass rather than lost.
  if (shared_.send_bright_and_step.exchange(0) == 1) {
    Send(0xC0 + controls_.value(gadget::kBrightBar));
    const int sn = controls_.value(gadget::kStepBar) >> 4;
    const int mn = controls_.value(gadget::kStepBar) & 15;
    Send(0xD0 + mn);
    Send(0xE0 + sn);
  }
  if (ports_.lpt) {
    if (controls_.value(gadget::kLptCheck) == 1) {
      ports_.lpt->WriteRegister(kLptData, lpt_data_);
      ports_.lpt->WriteRegister(kLptControl, lpt_control_);
    } else {
      ports_.lpt->WriteRegister(kLptData, 0);
      ports_.lpt->WriteRegister(kLptControl, kLptControlAllOff);
    }
  }
}

void Engine::ChannelDecided(int channel, bool on) {
  channel_states_[channel] = on ? 1 : 0;
  if (on) ApplyLptShare(channel, lpt_data_, lpt_control_);
  DrawChannelColumn(channel - 1, on ? 1 : 0);
}

void Engine::DrawChannelColumn(int column, int lamp) {
  DrawColumn(pictures_[column], band_values_[column], lamp);
  column_lamps_[column] = lamp;
  if (ports_.columns)
    ports_.columns->ColumnDrawn(column, band_values_[column], lamp, pictures_[column]);
}

void Engine::Click(int gadget, bool with_gaps) {
  if (!ports_.clicks) return;
  ports_.clicks->PostButtonMessage(gadget, ButtonMessage::kDown);
  if (with_gaps) Sleep(50);
  ports_.clicks->PostButtonMessage(gadget, ButtonMessage::kUp);
  if (with_gaps) Sleep(50);
}

void Engine::WatchHotKeys() {
  HotKeyState* keys = ports_.keys;
  if (!keys || !keys->IsDown(HotKey::kShift) || !keys->IsDown(HotKey::kAlt)) return;
  if (keys->IsDown(HotKey::kF5)) Click(gadget::kManualButton, false);
  if (keys->IsDown(HotKey::kF6)) Click(gadget::kRndButton, false);
  if (keys->IsDown(HotKey::kF7)) Click(gadget::kAutoButton, false);
  if (keys->IsDown(HotKey::kF8)) {
    switch (shared_.mode.load()) {
      case kModeManual:
        Click(gadget::kRndButton, true);
        break;
      case kModeRnd:
        Click(gadget::kAutoButton, true);
        break;
      case kModeAuto:
        Click(gadget::kManualButton, true);
        break;
      default:
        break;
    }
  }
}

void Engine::Sleep(int ms) {
  if (ports_.sleeper) ports_.sleeper->SleepMs(ms);
}

}  // namespace glimmerix
