// The program itself, free of any widget toolkit: start-up in its fixed order, the handling of
// every control, menu, tray and timer event, the close and exit paths with their saves, and the
// one routine that switches every output off. A front-end (front_end.h) shows what the control
// table holds and forwards the user's actions here.
//
// Threads: a ProgramCore lives on the main (GUI) thread and is used there only, except
// EmergencyStop. It owns the one engine thread, which it starts last in Start() and stops
// (request_stop, interrupt its sleep, join) on the way out, before the outputs get their all-off
// values. What the two threads share is the ControlTable, EngineShared and the outputs, each
// thread-safe on its own; the engine reaches the front-end only through the FrontEndLinks.
//
// Files: setting.dat and the pattern files are read and written in files_folder (empty: the
// process's current folder); the pattern files are listed from program_folder, where the
// parallel port's plug-in is looked for too.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "engine/capture/recording.h"
#include "engine/controls.h"
#include "engine/engine.h"
#include "engine/realtime.h"
#include "outputs/dmx_output.h"
#include "outputs/system_outputs.h"
#include "outputs/usb_controller.h"
#include "presets/presets.h"
#include "presets/settings_file.h"
#include "program/controller_indicator.h"
#include "program/front_end.h"

namespace glimmerix {

class ProgramCore {
 public:
  // How often TimerTick comes: the controller's presence check and the tray tool tip.
  static constexpr int kTimerIntervalMs = 500;

  // front_end and the links must outlive the core; outputs, recording and random are owned.
  ProgramCore(std::string program_folder, FrontEnd& front_end, FrontEndLinks links,
              SystemOutputs outputs, std::unique_ptr<Recording> recording,
              std::unique_ptr<RandomSource> random, std::string files_folder = {});
  // A core not finished through a way out (an exception, a test) still stops the engine and
  // switches the outputs off.
  ~ProgramCore();
  ProgramCore(const ProgramCore&) = delete;
  ProgramCore& operator=(const ProgramCore&) = delete;

  // Start-up, each step in its order, the engine thread last. False when the program is to end
  // at once (no parallel-port plug-in, after the user dismissed the message): nothing else has
  // started then.
  bool Start();

  // --- events from the front-end (main thread) ---
  // The user (or a hot key's click) acted on a gadget; the table already holds the new state.
  void GadgetEvent(int gadget);
  void MenuCommandChosen(MenuCommand command);
  void TrayIconClicked();  // shows the main window
  void WindowMinimised();  // hidden into the tray, when the tray icon shows
  // A program window moved by the user: its outer frame's corner is saved (the main window's;
  // a viewer's move saves the main window's corner too, given here by the front-end).
  void WindowMoved(int frame_x, int frame_y);
  // The user asked to close a program window: the close path's saves, then the end.
  void CloseRequest(int frame_x, int frame_y);
  // The menu command "Exit", a termination signal after start-up, the end of the session: the
  // exit path's saves, then the end.
  void ExitCommand();
  // SIGTERM, SIGINT, SIGHUP: the exit path; during start-up's message box, the end at once.
  void TerminationSignal();
  // Every kTimerIntervalMs: the controller's presence check, the port's problem said once, the
  // tray tool tip brought up to date.
  void TimerTick();
  // The user chose the controller with these identifiers: saved as "VID" and "PID", and looked
  // for from now on.
  void UseController(int vendor, int product);
  // The user chose entry i of the "Input" submenu last shown: recorded from now on, saved as
  // "Input".
  void InputChosen(int entry);
  // The DMX dialog's settings: checked, then in force at once and saved in setting.dat. Values out
  // of range are refused: nothing changes and the returned text says which and why (empty when
  // applied). False from has_dmx() makes this a refusal too.
  std::string ApplyDmxSettings(const DmxSettings& settings);

  // The process is ending through exit() without either way out having run (Xlib ends the
  // process when the X server goes away, as at logout): the outputs are switched off all the
  // same, and on the main thread the exit path's saves are made first. Any thread. Start()
  // arranges for it to run from atexit().
  void EmergencyStop();

  // --- state, for the front-end ---
  bool finished() const { return finished_.load(); }
  bool engine_started() const { return engine_thread_.joinable(); }
  ControlTable& controls() { return table_; }
  EngineShared& shared() { return shared_; }
  UsbController& controller() { return usb_; }
  ParallelPortOutput& parallel_port() { return *outputs_.parallel_port; }
  const std::string& tray_tool_tip() const { return tray_tool_tip_; }
  // Whether this system has a DMX output; its settings (defaults without one) and status line.
  bool has_dmx() const { return outputs_.dmx != nullptr; }
  DmxSettings dmx_settings() const;
  std::string dmx_status() const;

 private:
  // Start-up's steps.
  void RemoveLeftoversOfKilledSaves();
  void ReadSettingsBeforeWindow();
  void ReadDmxSettings();
  bool LoadParallelPortLibrary();
  void CreateWindowAndTray();
  void FillPresetListFromProgramFolder();
  void ApplySavedControlsAndPresetInForce();
  void SaveLockStatesAndAskForBrightAndStep();
  void ChooseSavedInput();
  void StartRecording();
  void StartControllerSearch();
  void StartEngine();
  void ShowOnlyTheTrayIcon();

  void OnModeButton(int gadget);
  // The "Input" submenu brought up to date when the sound server's sources or the choice changed;
  // a saved source found missing once the list is known waits, the default input recorded
  // meanwhile, and is taken again when it appears.
  void RefreshInputChoices(bool force);
  void RefreshTrayToolTip();
  // Both ways out end here: every output off, the lock lamps given back, the plug-in released,
  // the front-end told to quit.
  void Finish();
  // The one switch-off: closing raised, the engine stopped (unless called on its own thread),
  // the controller's and the port's all-off values sent.
  void SwitchOffOutputs();
  void StopEngine();
  void SaveDuringExit();  // the exit path's saves, with the DMX keys when they are kept
  static void AtProcessExit();

  const std::string program_folder_;
  FrontEnd& front_end_;
  const FrontEndLinks links_;

  ControlTable table_;
  EngineShared shared_;
  std::atomic<int> flag_wr_{0};  // main thread only; atomic because Presets takes it so
  Presets presets_;
  ControllerIndicator indicator_{table_, shared_};
  UsbController usb_{indicator_};
  SystemOutputs outputs_;
  std::unique_ptr<Recording> recording_;
  std::unique_ptr<RandomSource> random_;
  InterruptibleSleeper sleeper_;
  std::unique_ptr<Engine> engine_;
  std::jthread engine_thread_;
  const std::thread::id main_thread_;

  StartupSettings saved_at_start_;  // what setting.dat said before the window existed

  // The input chosen (main thread only): its kind and, for a named source, its name.
  InputKind input_kind_ = InputKind::kDefaultInput;
  std::string input_source_;
  bool saved_source_unconfirmed_ = false;  // chosen from setting.dat, not yet seen listed
  std::string waiting_source_;             // saved source found missing: taken when it appears
  std::vector<RecordingSourceInfo> listed_sources_;  // as the submenu shows them
  unsigned shown_generation_ = 0;
  bool shown_server_available_ = false;
  // The DMX keys are written on the way out once the file held them or the dialog set them, so a
  // user who never uses DMX keeps a setting.dat without them.
  bool save_dmx_keys_ = false;
  std::string tray_tool_tip_;  // what the tray icon's tool tip says now
  // A way out has run: later events come from the toolkit, not the user. Atomic for
  // EmergencyStop.
  std::atomic<bool> finished_{false};
};

}  // namespace glimmerix
