// The program core's part of the DMX output: its keys read at start-up (out-of-range values
// clamped and said), kept out of setting.dat until used, saved on the way out; the dialog's
// command and its refusals; the all-zero frame after the controller's all-off reports. The daemon
// is a recording connection here (the real one is tested in tests/outputs and tests/e2e).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <mutex>
#include <thread>

#include "program/program_core.h"
#include "settings/settings_store.h"
#include "tests/program/quiet_front_end.h"
#include "tests/support/fake_hid_tree.h"
#include "tests/support/temp_folder.h"

namespace glimmerix {
namespace {

using testing::FakeHidTree;
using testing::kPid;
using testing::kVid;
using testing::QuietFrontEnd;
using testing::TempFolder;

struct NoPort : ParallelPortOutput {
  bool LoadLibrary(const std::string&) override { return true; }
  std::string LibraryFileName() const override { return "libinpout32.so"; }
  void WriteRegister(int, int) override {}
  void SwitchOff() override {}
  void ReleaseLibrary() override {}
  std::string problem() const override { return {}; }
  void SayProblemOnce() override {}
  void Retry() override {}
};
struct NoLockStates : LockKeyStates {
  void Save() override {}
  void Restore() override {}
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
struct Silence : Recording {
  void Start() override {}
  void Stop() override {}
  std::string problem() const override { return {}; }
  void Fetch(float* fft) override { std::fill(fft, fft + kSpectrumBins, 0.0f); }
  void ChooseInput(InputKind, std::string) override {}
  std::vector<RecordingSourceInfo> Sources() const override { return {}; }
  unsigned sources_generation() const override { return 0; }
  std::string source_in_use() const override { return {}; }
  bool server_available() const override { return false; }
  std::string why_no_input_choice() const override { return {}; }
};

// One frame as the daemon would have taken it, with what the controller had received by then.
struct SentFrame {
  int universe = 0;
  DmxFrame frame{};
  std::size_t controller_bytes = 0;
};

struct SentFrames {
  std::mutex mutex;  // guards frames
  std::vector<SentFrame> frames;
  std::vector<SentFrame> copy() {
    std::lock_guard lock(mutex);
    return frames;
  }
};

class RecordingConnection : public DmxConnection {
 public:
  RecordingConnection(SentFrames& sent, FakeHidTree& tree) : sent_(sent), tree_(tree) {}
  bool Connect(std::string&) override { return true; }
  bool Send(int universe, const DmxFrame& frame, std::string&) override {
    std::lock_guard lock(sent_.mutex);
    sent_.frames.push_back({universe, frame, tree_.Received(0).size()});
    return true;
  }

 private:
  SentFrames& sent_;
  FakeHidTree& tree_;
};

class ProgramDmxTest : public ::testing::Test {
 protected:
  void WriteSettings(const std::string& text) {
    std::ofstream(folder / "setting.dat", std::ios::binary) << text;
  }
  std::vector<std::string> Keys() {
    SettingsStore store(folder.path());
    store.Open(kSettingsFile);
    std::vector<std::string> keys;
    for (const auto& line : SettingsDocument::Parse(folder.Take("setting.dat")).lines())
      if (line.kind == SettingsDocument::Kind::kData) keys.push_back(line.key + "=" + line.text);
    return keys;
  }
  void StartCore() {
    tree.Add(0, kVid, kPid);
    SystemOutputs outputs;
    outputs.parallel_port = std::make_unique<NoPort>();
    outputs.lock_states = std::make_unique<NoLockStates>();
    outputs.lamps = std::make_unique<NoLamps>();
    outputs.hot_keys = std::make_unique<NoKeys>();
    outputs.dmx = std::make_unique<DmxOutput>(std::make_unique<RecordingConnection>(sent, tree));
    core = std::make_unique<ProgramCore>(folder.path(), front_end, FrontEndLinks{},
                                         std::move(outputs), std::make_unique<Silence>(),
                                         std::make_unique<FirstNumber>(), folder.path());
    ::testing::internal::CaptureStderr();
    ASSERT_TRUE(core->Start());
    said = ::testing::internal::GetCapturedStderr();
  }
  bool WaitForFrames(std::size_t n) {
    for (int i = 0; i < 300 && sent.copy().size() < n; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return sent.copy().size() >= n;
  }

  TempFolder folder;
  FakeHidTree tree;
  QuietFrontEnd front_end;
  SentFrames sent;
  std::unique_ptr<ProgramCore> core;
  std::string said;
};

const std::string kVidPid =
    "VID = " + std::to_string(kVid) + "\r\nPID = " + std::to_string(kPid) + "\r\n";

TEST_F(ProgramDmxTest, KeysFromTheFileAreClampedSaidAndSavedBackAfterTheOthersOnExit) {
  WriteSettings(kVidPid + "DMX = 1\r\nDMX_UNIVERSE = 0\r\nDMX_START = abc\r\nDMX_LEVEL = 300\r\n");
  StartCore();
  EXPECT_NE(said.find("setting.dat: DMX universe 0 is outside 1..63999; using 1."),
            std::string::npos)
      << said;
  EXPECT_NE(said.find("DMX start address 0"), std::string::npos) << said;
  EXPECT_NE(said.find("DMX level 300"), std::string::npos) << said;
  EXPECT_EQ(core->dmx_settings(), (DmxSettings{true, 1, 1, 255, DmxMapping::kOnOff}));
  ASSERT_TRUE(WaitForFrames(1)) << "the keep-alive sends the dark universe";
  EXPECT_EQ(sent.copy()[0].universe, 1);

  core->ExitCommand();
  // The keys the file held keep their places with the values in force; the one it lacked is new
  // and goes at the end.
  const auto keys = Keys();
  ASSERT_GE(keys.size(), 8u);
  EXPECT_EQ(std::vector<std::string>(keys.begin(), keys.begin() + 6),
            (std::vector<std::string>{"VID=" + std::to_string(kVid), "PID=" + std::to_string(kPid),
                                      "DMX=1", "DMX_UNIVERSE=1", "DMX_START=1", "DMX_LEVEL=255"}));
  EXPECT_EQ(std::vector<std::string>(keys.end() - 2, keys.end()),
            (std::vector<std::string>{"Preset=", "DMX_MAPPING=0"}));
}

TEST_F(ProgramDmxTest, AUserWhoNeverUsesDmxGetsNoDmxKeysAndNoFrames) {
  WriteSettings(kVidPid);
  StartCore();
  EXPECT_EQ(said, "");
  EXPECT_FALSE(core->dmx_settings().enabled);
  core->CloseRequest(10, 20);
  for (const std::string& k : Keys()) EXPECT_EQ(k.rfind("DMX", 0), std::string::npos) << k;
  EXPECT_TRUE(sent.copy().empty());
}

TEST_F(ProgramDmxTest, TheDialogsSettingsAreRefusedOutOfRangeElseAppliedAndSavedAtOnce) {
  WriteSettings(kVidPid);
  StartCore();
  core->MenuCommandChosen(MenuCommand::kDmx);
  EXPECT_EQ(front_end.dmx_dialogs, 1);

  const std::string refused = core->ApplyDmxSettings({true, 1, 500, 255, DmxMapping::kOnOff});
  EXPECT_EQ(refused, "DMX start address 500 is outside 1..495; using 495.");
  EXPECT_FALSE(core->dmx_settings().enabled) << "a refusal changes nothing";
  EXPECT_EQ(core->dmx_status(), "DMX output is off.");

  EXPECT_EQ(core->ApplyDmxSettings({true, 7, 100, 128, DmxMapping::kLevel}), "");
  EXPECT_EQ(core->dmx_settings(), (DmxSettings{true, 7, 100, 128, DmxMapping::kLevel}));
  const auto keys = Keys();
  EXPECT_EQ(std::vector<std::string>(keys.end() - 5, keys.end()),
            (std::vector<std::string>{"DMX=1", "DMX_UNIVERSE=7", "DMX_START=100", "DMX_LEVEL=128",
                                      "DMX_MAPPING=1"}));
  ASSERT_TRUE(WaitForFrames(1));
  EXPECT_EQ(sent.copy().back().universe, 7);
}

TEST_F(ProgramDmxTest, TheLastFrameIsAllZeroAndFollowsTheControllersAllOffReports) {
  WriteSettings(kVidPid + "DMX = 1\r\nDMX_START = 10\r\n");
  StartCore();
  core->controls().set_value(gadget::kInvertCheck, 1);  // every channel on while running
  ASSERT_TRUE(WaitForFrames(1));
  for (int i = 0; i < 300 && sent.copy().back().frame[9] != 255; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(sent.copy().back().frame[9], 255) << "channel 1 lit at slot 10";
  core->ExitCommand();
  const auto frames = sent.copy();
  const SentFrame& last = frames.back();
  EXPECT_EQ(last.frame, DmxFrame{});
  const auto reports = tree.Received(0);
  const testing::Bytes off = {0, 0x00, 0, 0x40, 0, 0x80};
  ASSERT_GE(reports.size(), off.size());
  EXPECT_TRUE(std::equal(off.begin(), off.end(), reports.end() - 6));
  EXPECT_EQ(last.controller_bytes, reports.size())
      << "the controller had all its reports, the all-off ones last, before the DMX frame";
  // Passes after the way out send nothing more.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(sent.copy().size(), frames.size());
}

}  // namespace
}  // namespace glimmerix
