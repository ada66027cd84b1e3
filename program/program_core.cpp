#include "program/program_core.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "program/startup.h"
#include "program/tray_tool_tip.h"
#include "settings/settings_store.h"

namespace glimmerix {
namespace {

std::atomic<ProgramCore*> g_running{nullptr};  // the started program, for AtProcessExit

}  // namespace

ProgramCore::ProgramCore(std::string program_folder, FrontEnd& front_end, FrontEndLinks links,
                         SystemOutputs outputs, std::unique_ptr<Recording> recording,
                         std::unique_ptr<RandomSource> random, std::string files_folder)
    : program_folder_(std::move(program_folder)),
      front_end_(front_end),
      links_(links),
      presets_(table_, shared_, flag_wr_, std::move(files_folder)),
      outputs_(std::move(outputs)),
      recording_(std::move(recording)),
      random_(std::move(random)),
      main_thread_(std::this_thread::get_id()) {}

ProgramCore::~ProgramCore() {
  ProgramCore* self = this;
  g_running.compare_exchange_strong(self, nullptr);
  if (!finished_.exchange(true) && engine_thread_.joinable()) SwitchOffOutputs();
  if (recording_) recording_->Stop();
  table_.set_observer(nullptr);
}

bool ProgramCore::Start() {
  RemoveLeftoversOfKilledSaves();
  ReadSettingsBeforeWindow();
  ReadDmxSettings();
  if (!LoadParallelPortLibrary()) return false;
  CreateWindowAndTray();
  FillPresetListFromProgramFolder();
  ApplySavedControlsAndPresetInForce();
  SaveLockStatesAndAskForBrightAndStep();
  ChooseSavedInput();
  StartRecording();
  StartControllerSearch();
  StartEngine();
  ShowOnlyTheTrayIcon();
  return true;
}

void ProgramCore::RemoveLeftoversOfKilledSaves() {
  RemoveStaleSaveFiles(presets_.folder());
}

void ProgramCore::ReadSettingsBeforeWindow() {
  saved_at_start_ = ReadStartupSettings(presets_.folder());
  usb_.USB_PID.store(saved_at_start_.controller_product_id);
  usb_.USB_VID.store(saved_at_start_.controller_vendor_id);
}

namespace {

DmxKeys KeysOf(const DmxSettings& s) {
  return {true, s.enabled ? 1 : 0, s.universe, s.start, s.level, static_cast<int>(s.mapping)};
}

}  // namespace

void ProgramCore::ReadDmxSettings() {
  if (!outputs_.dmx) return;
  const DmxKeys keys = ReadDmxKeys(presets_.folder());
  save_dmx_keys_ = keys.found;
  const CheckedDmxSettings checked = CheckDmxSettings(
      keys.enabled, keys.universe, keys.start_address, keys.on_level, keys.level_mapping);
  if (!checked.problem.empty())
    std::fprintf(stderr, "glimmerix: %s: %s\n", kSettingsFile, checked.problem.c_str());
  outputs_.dmx->Apply(checked.settings);
}

std::string ProgramCore::ApplyDmxSettings(const DmxSettings& settings) {
  if (!outputs_.dmx) return "This system has no DMX output.";
  if (finished_) return {};
  const CheckedDmxSettings checked =
      CheckDmxSettings(settings.enabled ? 1 : 0, settings.universe, settings.start, settings.level,
                       static_cast<int>(settings.mapping));
  if (!checked.problem.empty()) return checked.problem;
  outputs_.dmx->Apply(checked.settings);
  save_dmx_keys_ = true;
  SaveDmxKeys(KeysOf(checked.settings), presets_.folder());
  return {};
}

DmxSettings ProgramCore::dmx_settings() const {
  return outputs_.dmx ? outputs_.dmx->settings() : DmxSettings{};
}

std::string ProgramCore::dmx_status() const {
  if (!outputs_.dmx) return "This system has no DMX output.";
  const std::string status = outputs_.dmx->status();
  if (!outputs_.dmx->settings().enabled) return "DMX output is off.";
  return status.empty() ? "Connecting to OLA..." : status;
}

bool ProgramCore::LoadParallelPortLibrary() {
  if (outputs_.parallel_port->LoadLibrary(program_folder_)) return true;
  front_end_.ShowFileMissing("For program to work file is required:\n\r " +
                             outputs_.parallel_port->LibraryFileName());
  return false;
}

void ProgramCore::CreateWindowAndTray() {
  table_.set_observer(links_.controls);
  front_end_.CreateWindowAndTray(saved_at_start_.window_frame_x, saved_at_start_.window_frame_y);
}

void ProgramCore::FillPresetListFromProgramFolder() {
  FillPresetList(presets_, program_folder_, saved_at_start_);
}

void ProgramCore::ApplySavedControlsAndPresetInForce() {
  ApplySavedControlsAndPreset(presets_);
  front_end_.ShowMode(shared_.mode.load());
}

void ProgramCore::SaveLockStatesAndAskForBrightAndStep() {
  outputs_.lock_states->Save();
  shared_.send_bright_and_step.store(1);
}

void ProgramCore::ChooseSavedInput() {
  const std::string& saved = saved_at_start_.input_choice;
  if (saved == kDefaultOutputMonitorToken) {
    input_kind_ = InputKind::kDefaultOutputMonitor;
  } else if (!saved.empty() && saved != kDefaultInputToken) {
    input_kind_ = InputKind::kNamedSource;
    input_source_ = saved;
    saved_source_unconfirmed_ = true;
  }
  recording_->ChooseInput(input_kind_, input_source_);
}

void ProgramCore::StartRecording() {
  recording_->Start();
  RefreshInputChoices(/*force=*/true);
}

void ProgramCore::RefreshInputChoices(bool force) {
  const bool server = recording_->server_available();
  const unsigned generation = recording_->sources_generation();
  if (!force && server == shown_server_available_ && generation == shown_generation_) return;
  shown_server_available_ = server;
  shown_generation_ = generation;
  listed_sources_ = server ? recording_->Sources() : std::vector<RecordingSourceInfo>{};
  const auto listed = [this](const std::string& name) {
    return std::any_of(listed_sources_.begin(), listed_sources_.end(),
                       [&](const RecordingSourceInfo& s) { return s.name == name; });
  };
  if (!listed_sources_.empty()) {
    if (saved_source_unconfirmed_) {
      saved_source_unconfirmed_ = false;
      if (!listed(input_source_)) {
        waiting_source_ = input_source_;
        input_kind_ = InputKind::kDefaultInput;
        input_source_.clear();
        recording_->ChooseInput(input_kind_);
      }
    } else if (!waiting_source_.empty() && listed(waiting_source_)) {
      input_kind_ = InputKind::kNamedSource;
      input_source_ = waiting_source_;
      waiting_source_.clear();
      recording_->ChooseInput(input_kind_, input_source_);
    }
  }

  std::vector<InputMenuEntry> entries;
  if (!server) {
    entries.push_back({"Default input", true, false, recording_->why_no_input_choice(), false});
  } else {
    entries.push_back({"Default input", input_kind_ == InputKind::kDefaultInput, true, {}, false});
    entries.push_back({"What this computer plays",
                       input_kind_ == InputKind::kDefaultOutputMonitor,
                       true,
                       {},
                       false});
    for (const RecordingSourceInfo& source : listed_sources_) {
      entries.push_back({source.description.empty() ? source.name : source.description,
                         input_kind_ == InputKind::kNamedSource && source.name == input_source_,
                         true, source.name, &source == &listed_sources_.front()});
    }
  }
  front_end_.ShowInputChoices(entries);
}

void ProgramCore::InputChosen(int entry) {
  if (finished_ || !shown_server_available_ || entry < 0 ||
      entry >= 2 + static_cast<int>(listed_sources_.size()))
    return;
  std::string saved;
  if (entry == 0) {
    input_kind_ = InputKind::kDefaultInput;
    input_source_.clear();
    saved = kDefaultInputToken;
  } else if (entry == 1) {
    input_kind_ = InputKind::kDefaultOutputMonitor;
    input_source_.clear();
    saved = kDefaultOutputMonitorToken;
  } else {
    input_kind_ = InputKind::kNamedSource;
    input_source_ = listed_sources_[entry - 2].name;
    saved = input_source_;
  }
  saved_source_unconfirmed_ = false;
  waiting_source_.clear();
  recording_->ChooseInput(input_kind_, input_source_);
  SaveInputChoice(saved, presets_.folder());
  RefreshInputChoices(/*force=*/true);
}

void ProgramCore::StartControllerSearch() {
  usb_.CheckPresence();
  front_end_.StartTimer(kTimerIntervalMs);
  RefreshTrayToolTip();
}

void ProgramCore::StartEngine() {
  EnginePorts ports;
  ports.spectrum = recording_.get();
  ports.usb = &usb_;
  ports.lpt = outputs_.parallel_port.get();
  ports.lamps = outputs_.lamps.get();
  ports.keys = outputs_.hot_keys.get();
  ports.clicks = links_.clicks;
  ports.random = random_.get();
  ports.sleeper = &sleeper_;
  ports.columns = links_.columns;
  ports.channels = outputs_.dmx.get();
  engine_ = std::make_unique<Engine>(table_, shared_, ports);
  engine_thread_ = std::jthread([this](std::stop_token stop) { engine_->RunLoop(stop); });

  static const bool hooked = std::atexit(&ProgramCore::AtProcessExit) == 0;
  if (hooked) g_running.store(this);
}

void ProgramCore::ShowOnlyTheTrayIcon() {
  front_end_.HideMainWindow();
  // On a desktop without any tray the window is the only way in.
  if (front_end_.HasDesktop() && !front_end_.TrayIconShows()) front_end_.ShowMainWindow();
}

void ProgramCore::GadgetEvent(int g) {
  if (finished_) return;
  switch (g) {
    case gadget::kManualButton:
    case gadget::kAutoButton:
    case gadget::kRndButton:
      OnModeButton(g);
      break;
    case gadget::kKeyCheck:
      if (table_.value(gadget::kKeyCheck) == 1) {
        outputs_.lock_states->Save();
      } else {
        outputs_.lock_states->Restore();
      }
      break;
    case gadget::kLptCheck:
      // Ticked again: a port that could not be opened gets another chance.
      if (table_.value(gadget::kLptCheck) == 1) outputs_.parallel_port->Retry();
      break;
    case gadget::kWidthButton:
      front_end_.ToggleMainWindowWidth();
      break;
    case gadget::kBrightBar:
    case gadget::kStepBar:
      shared_.send_bright_and_step.store(1);
      break;
    case gadget::kPresetList:
      presets_.SelectPreset();
      // The preset's Bright and Step reach the controller with the next pass, not only the bars.
      shared_.send_bright_and_step.store(1);
      break;
    default:
      break;
  }
  front_end_.ShowMode(shared_.mode.load());
}

void ProgramCore::OnModeButton(int g) {
  if (g == gadget::kManualButton) {
    shared_.mode.store(kModeManual);
    if (presets_.RestoreBandLevels()) flag_wr_.store(1);
    return;
  }
  // The user's manual levels are saved before the mode leaves Manual.
  if (flag_wr_.load() == 1) {
    presets_.SaveBandLevels();
    flag_wr_.store(0);
  }
  shared_.mode.store(g == gadget::kAutoButton ? kModeAuto : kModeRnd);
  presets_.ClearBandBars();
}

void ProgramCore::MenuCommandChosen(MenuCommand command) {
  if (finished_) return;
  switch (command) {
    case MenuCommand::kOpen:
      front_end_.ShowMainWindow();
      break;
    case MenuCommand::kHide:
      front_end_.HideMainWindow();
      break;
    case MenuCommand::kController:
      front_end_.OpenControllerDialog();
      break;
    case MenuCommand::kSettingsHelp:
      front_end_.OpenViewer(Document::kSettings);
      break;
    case MenuCommand::kHistoryHelp:
      front_end_.OpenViewer(Document::kHistory);
      break;
    case MenuCommand::kDmx:
      front_end_.OpenDmxDialog();
      break;
    case MenuCommand::kAbout:
      front_end_.OpenViewer(Document::kDevelopers);
      break;
    case MenuCommand::kExit:
      ExitCommand();
      break;
  }
}

void ProgramCore::TrayIconClicked() {
  MenuCommandChosen(MenuCommand::kOpen);
}

void ProgramCore::WindowMinimised() {
  if (!finished_ && front_end_.TrayIconShows()) front_end_.HideMainWindow();
}

void ProgramCore::WindowMoved(int frame_x, int frame_y) {
  if (!finished_) SaveWindowPosition(frame_x, frame_y, presets_.folder());
}

void ProgramCore::TimerTick() {
  if (finished_) return;
  usb_.CheckPresence();
  outputs_.parallel_port->SayProblemOnce();
  RefreshInputChoices(/*force=*/false);
  RefreshTrayToolTip();
}

void ProgramCore::RefreshTrayToolTip() {
  const std::string status = table_.status_text();
  const std::string tip = TrayToolTip({shared_.mode.load(), status, usb_.problem(),
                                       outputs_.parallel_port->problem(), recording_->problem()});
  if (tip == tray_tool_tip_) return;
  tray_tool_tip_ = tip;
  front_end_.SetTrayToolTip(tip);
}

void ProgramCore::UseController(int vendor, int product) {
  if (finished_) return;
  SettingsStore store(presets_.folder());
  store.Open(kSettingsFile);
  store.WriteNumber("VID", vendor);
  store.WriteNumber("PID", product);
  store.Close();
  usb_.LookFor(vendor, product);
}

void ProgramCore::CloseRequest(int frame_x, int frame_y) {
  if (finished_) return;
  shared_.closing.store(1);
  const DmxKeys dmx = KeysOf(dmx_settings());
  SaveOnClose(presets_, frame_x, frame_y, save_dmx_keys_ ? &dmx : nullptr);
  Finish();
}

void ProgramCore::ExitCommand() {
  if (finished_) return;
  shared_.closing.store(1);
  SaveDuringExit();
  Finish();
}

void ProgramCore::SaveDuringExit() {
  const DmxKeys dmx = KeysOf(dmx_settings());
  SaveOnExit(presets_, save_dmx_keys_ ? &dmx : nullptr);
}

void ProgramCore::TerminationSignal() {
  if (finished_) return;
  if (!engine_thread_.joinable()) {
    // Still starting (the "File missing!" box): nothing to save or switch off yet.
    finished_ = true;
    front_end_.Quit();
    return;
  }
  ExitCommand();
}

void ProgramCore::SwitchOffOutputs() {
  shared_.closing.store(1);
  if (std::this_thread::get_id() != engine_thread_.get_id()) StopEngine();
  usb_.SwitchOff();
  outputs_.parallel_port->SwitchOff();
  // Last: the controller's all-off reports are out (or given up on) before the DMX one.
  if (outputs_.dmx) outputs_.dmx->SwitchOff();
}

void ProgramCore::StopEngine() {
  if (!engine_thread_.joinable()) return;
  engine_thread_.request_stop();
  sleeper_.Interrupt();
  engine_thread_.join();
}

void ProgramCore::Finish() {
  finished_ = true;
  SwitchOffOutputs();
  outputs_.lock_states->Restore();
  outputs_.parallel_port->ReleaseLibrary();
  front_end_.Quit();
}

void ProgramCore::AtProcessExit() {
  if (ProgramCore* running = g_running.exchange(nullptr)) running->EmergencyStop();
}

void ProgramCore::EmergencyStop() {
  if (finished_.exchange(true)) return;
  shared_.closing.store(1);
  if (std::this_thread::get_id() == main_thread_) SaveDuringExit();
  SwitchOffOutputs();
}

}  // namespace glimmerix
