// The program core driven as a front-end drives it, with every device faked but the USB
// controller, which writes to a fake hidraw tree: start-up order, the handling of the window's,
// menu's and tray's events, the close and exit paths and the controller's comings and goings.
#include "program/program_core.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <mutex>
#include <thread>

#include "settings/settings_store.h"
#include "tests/support/fake_hid_tree.h"
#include "tests/support/temp_folder.h"

namespace glimmerix {
namespace {

using testing::FakeHidTree;
using testing::kPid;
using testing::kVid;
using testing::TempFolder;

// What the core asked of the front-end and the devices, one line per request, in order.
class Journal {
 public:
  void Add(std::string line) {
    std::lock_guard lock(mutex_);
    lines_.push_back(std::move(line));
  }
  std::vector<std::string> lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    lines_.clear();
  }
  bool Has(const std::string& line) const {
    const auto all = lines();
    return std::find(all.begin(), all.end(), line) != all.end();
  }

 private:
  mutable std::mutex mutex_;  // guards lines_
  std::vector<std::string> lines_;
};

class FakeFrontEnd : public FrontEnd {
 public:
  explicit FakeFrontEnd(Journal& journal) : journal_(journal) {}
  void CreateWindowAndTray(int x, int y) override {
    journal_.Add("window at " + std::to_string(x) + "," + std::to_string(y));
  }
  void ShowFileMissing(const std::string& text) override { journal_.Add("File missing! " + text); }
  void StartTimer(int ms) override { journal_.Add("timer " + std::to_string(ms)); }
  bool HasDesktop() const override { return desktop; }
  bool TrayIconShows() const override { return tray_shows; }
  void ShowMainWindow() override { journal_.Add("show"); }
  void HideMainWindow() override { journal_.Add("hide"); }
  void ToggleMainWindowWidth() override { journal_.Add("width"); }
  void ShowMode(int mode) override { journal_.Add("mode " + std::to_string(mode)); }
  void OpenViewer(Document d) override { journal_.Add("viewer " + std::to_string(int(d))); }
  void OpenControllerDialog() override { journal_.Add("controller dialog"); }
  void OpenDmxDialog() override { journal_.Add("dmx dialog"); }
  void SetTrayToolTip(const std::string& text) override { journal_.Add("tip " + text); }
  // "input: Default input*, What this computer plays" (* ticked, ~ greyed, | a separator before)
  void ShowInputChoices(const std::vector<InputMenuEntry>& entries) override {
    std::string line = "input:";
    for (const InputMenuEntry& e : entries) {
      line += (&e == &entries.front() ? " " : ", ") + std::string(e.separator_before ? "| " : "") +
              e.text + (e.ticked ? "*" : "") + (e.enabled ? "" : "~");
    }
    journal_.Add(line);
    shown_inputs = entries;
  }
  void Quit() override { journal_.Add("quit"); }

  bool desktop = true;
  bool tray_shows = true;
  std::vector<InputMenuEntry> shown_inputs;

 private:
  Journal& journal_;
};

class FakePort : public ParallelPortOutput {
 public:
  FakePort(Journal& journal, bool loadable) : journal_(journal), loadable_(loadable) {}
  bool LoadLibrary(const std::string&) override {
    journal_.Add("load plug-in");
    return loadable_;
  }
  std::string LibraryFileName() const override { return "libinpout32.so"; }
  void WriteRegister(int, int) override {
    if (off_) journal_.Add("port written after its switch-off");
  }
  void SwitchOff() override {
    journal_.Add("port off");
    off_ = true;
  }
  void ReleaseLibrary() override { journal_.Add("release plug-in"); }
  std::string problem() const override { return {}; }
  void SayProblemOnce() override {}
  void Retry() override { journal_.Add("port retried"); }

 private:
  Journal& journal_;
  const bool loadable_;
  std::atomic<bool> off_{false};
};

class FakeLockStates : public LockKeyStates {
 public:
  explicit FakeLockStates(Journal& journal) : journal_(journal) {}
  void Save() override { journal_.Add("save lock states"); }
  void Restore() override { journal_.Add("restore lock states"); }

 private:
  Journal& journal_;
};

// A sound server's sources as the test sets them; the choice is journalled.
class FakeRecording : public Recording {
 public:
  explicit FakeRecording(Journal& journal) : journal_(journal) {}
  void Start() override { journal_.Add("record"); }
  void Stop() override {}
  std::string problem() const override { return {}; }
  void Fetch(float* fft) override { std::fill(fft, fft + kSpectrumBins, 0.0f); }
  void ChooseInput(InputKind kind, std::string name) override {
    journal_.Add("record from " + std::string(kind == InputKind::kDefaultInput ? "default input"
                                              : kind == InputKind::kDefaultOutputMonitor
                                                  ? "default output's monitor"
                                                  : name));
  }
  std::vector<RecordingSourceInfo> Sources() const override {
    std::lock_guard lock(mutex_);
    return sources_;
  }
  unsigned sources_generation() const override { return generation_.load(); }
  std::string source_in_use() const override { return {}; }
  bool server_available() const override { return server_.load(); }
  std::string why_no_input_choice() const override { return "no sound server in this test"; }

  void SetSources(bool server, std::vector<RecordingSourceInfo> sources) {
    {
      std::lock_guard lock(mutex_);
      sources_ = std::move(sources);
    }
    server_ = server;
    ++generation_;
  }

 private:
  Journal& journal_;
  mutable std::mutex mutex_;  // guards sources_
  std::vector<RecordingSourceInfo> sources_;
  std::atomic<bool> server_{false};
  std::atomic<unsigned> generation_{0};
};

struct NoLamps : KeyboardLamps {
  void SetLockKey(char, int) override {}
};
struct NoKeys : HotKeyState {
  bool IsDown(HotKey) override { return false; }
};
struct FirstNumber : RandomSource {
  int Uniform(int) override { return 0; }
};

class ProgramCoreTest : public ::testing::Test {
 protected:
  void WriteFile(const std::string& name, const std::string& text) {
    std::ofstream(folder / name, std::ios::binary) << text;
  }
  std::string ReadSetting(const std::string& key) {
    SettingsStore store(folder.path());
    store.Open(kSettingsFile);
    return store.ReadText(key, "(none)");
  }
  void MakeCore(bool plug_in_loads = true) {
    SystemOutputs outputs;
    outputs.parallel_port = std::make_unique<FakePort>(journal, plug_in_loads);
    outputs.lock_states = std::make_unique<FakeLockStates>(journal);
    outputs.lamps = std::make_unique<NoLamps>();
    outputs.hot_keys = std::make_unique<NoKeys>();
    auto fake_recording = std::make_unique<FakeRecording>(journal);
    recording = fake_recording.get();
    core = std::make_unique<ProgramCore>(folder.path(), front_end, FrontEndLinks{},
                                         std::move(outputs), std::move(fake_recording),
                                         std::make_unique<FirstNumber>(), folder.path());
  }
  // Waits up to 5 s for the controller's node n to have received the report 0, command, with the
  // front-end's timer ticking meanwhile, faster than its 500 ms (on a loaded machine a first write
  // may count as stuck; the timer's checks then try the device again and have Bright and Step
  // sent again).
  ::testing::AssertionResult NodeReceives(int n, std::uint8_t command) {
    for (int i = 0; i < 500; ++i) {
      if (i % 10 == 9) core->TimerTick();
      const auto bytes = tree.Received(n);
      for (std::size_t k = 0; k + 1 < bytes.size(); k += 2)
        if (bytes[k] == 0 && bytes[k + 1] == command) return ::testing::AssertionSuccess();
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return ::testing::AssertionFailure()
           << "node " << n << " got " << tree.Received(n).size() / 2 << " reports; controller: \""
           << core->controller().problem() << "\", " << core->controller().dropped_reports()
           << " dropped";
  }
  // The all-off reports are the last three the node received.
  bool EndsSwitchedOff(int n) {
    const auto bytes = tree.Received(n);
    const testing::Bytes off = {0, 0x00, 0, 0x40, 0, 0x80};
    return bytes.size() >= off.size() && std::equal(off.begin(), off.end(), bytes.end() - 6);
  }
  // The journal from the first line `first` on, without the tray tool tips.
  std::vector<std::string> JournalFrom(const std::string& first) {
    auto all = journal.lines();
    std::erase_if(all, [](const std::string& line) { return line.rfind("tip ", 0) == 0; });
    auto at = std::find(all.begin(), all.end(), first);
    return {at, all.end()};
  }

  TempFolder folder;
  FakeHidTree tree;
  Journal journal;
  FakeFrontEnd front_end{journal};
  FakeRecording* recording = nullptr;  // owned by core
  std::unique_ptr<ProgramCore> core;
};

TEST_F(ProgramCoreTest, StartsInOrderFromTheSavedSettingsAndThePresetInForce) {
  WriteFile("setting.dat", "X_form = 120\r\nY_form = 80\r\nVID = " + std::to_string(kVid) +
                               "\r\nPID = " + std::to_string(kPid) +
                               "\r\nPreset = Party\r\nfr3 = 7\r\nKEY_LED = 1\r\nOUT1 = 5\r\n");
  WriteFile("Party.patt", "Effect = 2\r\nBright = 15\r\nStep = 40\r\nLevel = 40\r\nARU = 8\r\n");
  WriteFile("Calm.patt", "Effect = 1\r\n");
  tree.Add(0, kVid, kPid);
  MakeCore();
  ASSERT_TRUE(core->Start());

  const std::vector<std::string> expected = {"load plug-in",
                                             "window at 120,80",
                                             "mode 2",
                                             "save lock states",
                                             "record from default input",
                                             "record",
                                             "input: Default input*~",
                                             "timer 500",
                                             "tip Glimmerix - Auto - USBON",
                                             "hide"};
  EXPECT_EQ(journal.lines(), expected);
  ControlTable& controls = core->controls();
  EXPECT_EQ(controls.preset_entries(), (std::vector<std::string>{"Calm", "Party"}));
  EXPECT_EQ(controls.preset_text(), "Party");
  EXPECT_EQ(controls.band_bar(3), 0) << "Auto clears the band bars";
  EXPECT_EQ(controls.value(gadget::kKeyCheck), 1);
  EXPECT_EQ(controls.output_list(1), 5);
  EXPECT_EQ(controls.value(gadget::kBrightBar), 15);
  EXPECT_EQ(controls.status_text(), "USBON");
  // The engine runs, and its first pass sends Bright.
  EXPECT_TRUE(NodeReceives(0, 0xC0 + 15));
}

TEST_F(ProgramCoreTest, WithoutThePlugInTheMessageIsShownAndNothingElseStarts) {
  MakeCore(/*plug_in_loads=*/false);
  EXPECT_FALSE(core->Start());
  EXPECT_EQ(journal.lines(),
            (std::vector<std::string>{"load plug-in",
                                      "File missing! For program to work file is required:\n\r "
                                      "libinpout32.so"}));
  EXPECT_FALSE(core->engine_started());
  // A signal during the message ends the program without a save.
  core->TerminationSignal();
  core->ExitCommand();
  EXPECT_EQ(journal.lines().back(), "quit");
  EXPECT_FALSE(std::filesystem::exists(folder / "setting.dat"));
}

TEST_F(ProgramCoreTest, ModeButtonsKeepTheManualBandLevelsInTheSettingsFile) {
  WriteFile("setting.dat", "fr1 = 10\r\nfr2 = 20\r\n");
  MakeCore();
  ASSERT_TRUE(core->Start());
  ControlTable& controls = core->controls();

  core->GadgetEvent(gadget::kManualButton);
  EXPECT_EQ(core->shared().mode.load(), kModeManual);
  EXPECT_EQ(controls.band_bar(1), 10);
  controls.set_value(gadget::kFirstBandBar, 33);
  core->GadgetEvent(gadget::kFirstBandBar);

  // Leaving Manual saves the levels the user set, once, and clears the bars.
  core->GadgetEvent(gadget::kAutoButton);
  EXPECT_EQ(ReadSetting("fr1"), "33");
  EXPECT_EQ(controls.band_bar(1), 0);
  WriteFile("setting.dat", "fr1 = 5\r\n");
  core->GadgetEvent(gadget::kRndButton);
  EXPECT_EQ(core->shared().mode.load(), kModeRnd);
  EXPECT_EQ(ReadSetting("fr1"), "5") << "the levels are saved only while they came from the file";
  core->GadgetEvent(gadget::kManualButton);
  EXPECT_EQ(controls.band_bar(1), 5);

  // Every event ends with the mode shown.
  const auto after = JournalFrom("hide");
  EXPECT_EQ(std::count(after.begin(), after.end(), "mode 1"), 3);
  EXPECT_EQ(std::count(after.begin(), after.end(), "mode 2"), 1);
  EXPECT_EQ(std::count(after.begin(), after.end(), "mode 3"), 1);
}

TEST_F(ProgramCoreTest, ControlsReachTheirDevicesAndPresetsReachTheController) {
  WriteFile("setting.dat", "VID = " + std::to_string(kVid) + "\r\nPID = " + std::to_string(kPid) +
                               "\r\nPreset = A\r\n");
  WriteFile("A.patt", "Effect = 1\r\nBright = 3\r\n");
  WriteFile("B.patt", "Effect = 3\r\nBright = 12\r\n");
  tree.Add(0, kVid, kPid);
  MakeCore();
  ASSERT_TRUE(core->Start());
  ControlTable& controls = core->controls();
  ASSERT_TRUE(NodeReceives(0, 0xC0 + 3));

  controls.set_value(gadget::kKeyCheck, 0);
  core->GadgetEvent(gadget::kKeyCheck);
  controls.set_value(gadget::kKeyCheck, 1);
  core->GadgetEvent(gadget::kKeyCheck);
  controls.set_value(gadget::kLptCheck, 0);
  core->GadgetEvent(gadget::kLptCheck);
  controls.set_value(gadget::kLptCheck, 1);
  core->GadgetEvent(gadget::kLptCheck);
  core->GadgetEvent(gadget::kWidthButton);
  const auto after = JournalFrom("hide");
  const std::vector<std::string> expected = {"hide",         "restore lock states",
                                             "mode 1",       "save lock states",
                                             "mode 1",       "mode 1",
                                             "port retried", "mode 1",
                                             "width",        "mode 1"};
  EXPECT_EQ(after, expected);

  // A bar moved or a preset chosen sends Bright and Step with the next pass.
  controls.set_value(gadget::kBrightBar, 9);
  core->GadgetEvent(gadget::kBrightBar);
  EXPECT_TRUE(NodeReceives(0, 0xC0 + 9));
  controls.set_value(gadget::kPresetList, 1);  // "B"
  core->GadgetEvent(gadget::kPresetList);
  EXPECT_EQ(core->shared().mode.load(), kModeRnd);
  EXPECT_TRUE(NodeReceives(0, 0xC0 + 12));
}

TEST_F(ProgramCoreTest, MenuTrayAndWindowEvents) {
  front_end.tray_shows = false;  // a desktop without a tray: the window is the way in
  WriteFile("setting.dat", "X_form = 7\r\n");
  MakeCore();
  ASSERT_TRUE(core->Start());
  EXPECT_EQ(journal.lines().back(), "show");

  core->WindowMinimised();  // stays minimised: nothing to bring it back from
  front_end.tray_shows = true;
  core->WindowMinimised();
  for (MenuCommand c : {MenuCommand::kOpen, MenuCommand::kHide, MenuCommand::kController,
                        MenuCommand::kSettingsHelp, MenuCommand::kHistoryHelp, MenuCommand::kAbout})
    core->MenuCommandChosen(c);
  core->TrayIconClicked();
  const std::vector<std::string> expected = {
      "show",     "hide",     "show",     "hide", "controller dialog",
      "viewer 2", "viewer 3", "viewer 1", "show"};
  EXPECT_EQ(JournalFrom("show"), expected);

  core->WindowMoved(300, 40);
  EXPECT_EQ(ReadSetting("X_form"), "300");
  core->WindowMoved(-32000, -32000);  // a minimised window's parked place is not saved
  EXPECT_EQ(ReadSetting("X_form"), "300");
}

TEST_F(ProgramCoreTest, CloseRequestSavesThenSwitchesEverythingOffOnce) {
  WriteFile("setting.dat", "VID = " + std::to_string(kVid) + "\r\nPID = " + std::to_string(kPid) +
                               "\r\nKEY_LED = 1\r\n");
  WriteFile("A.patt", "Effect = 2\r\n");
  tree.Add(0, kVid, kPid);
  MakeCore();
  ASSERT_TRUE(core->Start());
  core->controls().set_value(gadget::kPresetList, 0);
  ASSERT_TRUE(NodeReceives(0, 0x40));  // a pass's port-B report

  core->CloseRequest(210, 95);
  EXPECT_EQ(ReadSetting("X_form"), "210");
  EXPECT_EQ(ReadSetting("Y_form"), "95");
  EXPECT_EQ(ReadSetting("Preset"), "A");
  EXPECT_EQ(ReadSetting("KEY_LED"), "1");
  EXPECT_TRUE(EndsSwitchedOff(0));
  EXPECT_EQ(JournalFrom("port off"), (std::vector<std::string>{"port off", "restore lock states",
                                                               "release plug-in", "quit"}));
  EXPECT_TRUE(core->finished());

  // Nothing after the end: no second save, no event handled, nothing sent.
  const auto journal_then = journal.lines();
  const auto sent_then = tree.Received(0);
  WriteFile("setting.dat", "X_form = 1\r\n");
  core->CloseRequest(5, 5);
  core->ExitCommand();
  core->GadgetEvent(gadget::kAutoButton);
  core->MenuCommandChosen(MenuCommand::kOpen);
  core->TimerTick();
  core->EmergencyStop();
  core.reset();
  EXPECT_EQ(journal.lines(), journal_then);
  EXPECT_EQ(tree.Received(0), sent_then);
  EXPECT_EQ(ReadSetting("X_form"), "1");
  EXPECT_FALSE(journal.Has("port written after its switch-off"));
}

TEST_F(ProgramCoreTest, ExitKeepsTheWindowPlaceAndAnEmergencyStopStillSwitchesOff) {
  WriteFile("setting.dat", "X_form = 44\r\nVID = " + std::to_string(kVid) +
                               "\r\nPID = " + std::to_string(kPid) + "\r\n");
  tree.Add(0, kVid, kPid);
  MakeCore();
  ASSERT_TRUE(core->Start());
  core->MenuCommandChosen(MenuCommand::kExit);
  EXPECT_EQ(ReadSetting("X_form"), "44");
  EXPECT_EQ(ReadSetting("LPT_LED"), "0") << "the exit path saved the controls";
  EXPECT_TRUE(EndsSwitchedOff(0));
  EXPECT_EQ(journal.lines().back(), "quit");

  // The process ending under the program (exit() from a library): saves and all-off, no quit.
  tree.SetNode(0, FakeHidTree::Node::kFile);
  core.reset();
  journal.Clear();
  MakeCore();
  ASSERT_TRUE(core->Start());
  ASSERT_TRUE(NodeReceives(0, 0x40));  // a pass's port-B report
  std::filesystem::remove(folder / "setting.dat");
  core->EmergencyStop();
  EXPECT_EQ(ReadSetting("LPT_LED"), "0");
  EXPECT_TRUE(EndsSwitchedOff(0));
  EXPECT_TRUE(journal.Has("port off"));
  EXPECT_FALSE(journal.Has("quit"));
}

TEST_F(ProgramCoreTest, ControllerComingsAndGoingsShowAndReturningOneGetsItsSettingsAgain) {
  WriteFile("setting.dat",
            "VID = " + std::to_string(kVid) + "\r\nPID = " + std::to_string(kPid) + "\r\n");
  MakeCore();
  ASSERT_TRUE(core->Start());
  ControlTable& controls = core->controls();
  core->controls().set_value(gadget::kBrightBar, 6);
  EXPECT_EQ(controls.status_text(), "USBOFF");
  EXPECT_EQ(controls.status_colour(), ControllerIndicator::kOffColour);

  tree.Add(0, kVid, kPid);
  core->TimerTick();
  EXPECT_EQ(controls.status_text(), "USBON");
  EXPECT_EQ(controls.status_colour(), ControllerIndicator::kOnColour);
  EXPECT_EQ(journal.lines().back(), "tip Glimmerix - USBON");
  ASSERT_TRUE(NodeReceives(0, 0x40));

  tree.Remove(0);
  core->TimerTick();
  EXPECT_EQ(controls.status_text(), "USBOFF");
  EXPECT_EQ(controls.status_colour(), ControllerIndicator::kOffColour);
  EXPECT_EQ(journal.lines().back(), "tip Glimmerix - USBOFF");

  // Back after the loss: its Bright and Step are sent again, without a touch of the bars.
  tree.Add(0, kVid, kPid);
  core->TimerTick();
  EXPECT_EQ(controls.status_text(), "USBON");
  EXPECT_TRUE(NodeReceives(0, 0xC0 + 6));

  // Present but not to be opened: orange, with the reason in the tool tip.
  tree.Add(1, 0x16C0, 0x05DF, 0x0100, FakeHidTree::Node::kFolder);
  core->UseController(0x16C0, 0x05DF);
  EXPECT_EQ(ReadSetting("VID"), std::to_string(0x16C0));
  EXPECT_EQ(ReadSetting("PID"), std::to_string(0x05DF));
  EXPECT_EQ(controls.status_text(), "USBON");
  EXPECT_EQ(controls.status_colour(), ControllerIndicator::kTroubleColour);
  EXPECT_EQ(controls.status_tooltip().rfind("cannot open " + tree.NodePath(1).string(), 0), 0u)
      << controls.status_tooltip();
  core->ExitCommand();
}

TEST_F(ProgramCoreTest, TheInputChoiceIsSavedFollowedAndASavedSourceMissingAtStartWaits) {
  WriteFile("setting.dat", "Input = usb_mic\r\n");
  MakeCore();
  ASSERT_TRUE(core->Start());
  EXPECT_TRUE(journal.Has("record from usb_mic"));
  EXPECT_EQ(front_end.shown_inputs.size(), 1u) << "no server yet: only the default, greyed";
  EXPECT_FALSE(front_end.shown_inputs[0].enabled);
  EXPECT_EQ(front_end.shown_inputs[0].tooltip, "no sound server in this test")
      << "the recording says why nothing can be chosen";
  EXPECT_FALSE(front_end.shown_inputs[0].tooltip.empty());
  core->InputChosen(1);  // not offered: nothing happens
  EXPECT_EQ(ReadSetting("Input"), "usb_mic");

  // The server lists its sources without the saved one: the default input meanwhile.
  const RecordingSourceInfo monitor{"a.monitor", "Monitor of A", true};
  const RecordingSourceInfo mic{"mic", "Microphone", false};
  const RecordingSourceInfo usb_mic{"usb_mic", "", false};
  journal.Clear();
  recording->SetSources(true, {monitor, mic});
  core->TimerTick();
  EXPECT_EQ(journal.lines(),
            (std::vector<std::string>{"record from default input",
                                      "input: Default input*, What this computer plays, | Monitor "
                                      "of A, Microphone"}));
  core->TimerTick();  // nothing changed: the menu stays as it is
  EXPECT_EQ(journal.lines().size(), 2u);
  recording->SetSources(true, {monitor, mic, usb_mic});
  core->TimerTick();
  EXPECT_EQ(journal.lines()[2], "record from usb_mic");
  EXPECT_EQ(journal.lines()[3],
            "input: Default input, What this computer plays, | Monitor of A, Microphone, usb_mic*");

  // Chosen in the menu: recorded and saved at once.
  core->InputChosen(1);
  EXPECT_EQ(journal.lines()[4], "record from default output's monitor");
  EXPECT_EQ(ReadSetting("Input"), "@DEFAULT_MONITOR@");
  core->InputChosen(3);
  EXPECT_EQ(ReadSetting("Input"), "mic");
  // A chosen source going away while the program runs stays chosen (silence until it returns).
  journal.Clear();
  recording->SetSources(true, {monitor, usb_mic});
  core->TimerTick();
  recording->SetSources(true, {monitor, mic, usb_mic});
  core->TimerTick();
  EXPECT_EQ(journal.lines(),
            (std::vector<std::string>{
                "input: Default input, What this computer plays, | Monitor of A, usb_mic",
                "input: Default input, What this computer plays, | Monitor of A, Microphone*, "
                "usb_mic"}));
  core->InputChosen(0);
  EXPECT_EQ(ReadSetting("Input"), "@DEFAULT_SOURCE@");
  core->ExitCommand();

  // The next start takes the saved choice.
  core.reset();
  journal.Clear();
  WriteFile("setting.dat", "Input = @DEFAULT_MONITOR@\r\n");
  MakeCore();
  ASSERT_TRUE(core->Start());
  EXPECT_TRUE(journal.Has("record from default output's monitor"));
}

}  // namespace
}  // namespace glimmerix
