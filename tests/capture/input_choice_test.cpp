// Choosing what is recorded, for real, through the private sound server of
// scripts/with-test-services with a second null sink beside its own: what this computer plays
// follows the default output, the default input follows the default source, a chosen source that
// goes away is silence until it comes back, and the list of sources follows the server.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "engine/capture/audio_capture.h"
#include "tests/support/sound_server.h"

namespace glimmerix {
namespace {

using namespace std::chrono_literals;
using InputKind = AudioCapture::InputKind;
using testing::LoadNullSink;
using testing::Pactl;
using testing::Player;
using testing::RunsOnPipeWire;
using testing::WaitFor;

// The two tones sit on bins of their own: 1 kHz on bin 186, ~2 kHz on bin 372.
constexpr double kFirstHz = 1000.0;
constexpr double kSecondHz = 372 * 22050.0 / 4096;
constexpr int kFirstBin = 186;
constexpr int kSecondBin = 372;
constexpr float kHeard = 0.3f;  // a full-scale tone reads ~0.48 on its bin
constexpr float kAbsent = 0.05f;

constexpr const char* kFirstSink = "test_sink";  // the test services' own, the default
constexpr const char* kSecondSink = "glimmerix_second";
constexpr const char* kSecondDescription = "GlimmerixSecondOutput";

class InputChoice : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::TestServicesPresent()) GTEST_SKIP() << "needs scripts/with-test-services";
    second_module_ = LoadNullSink(kSecondSink, kSecondDescription);
    ASSERT_GE(second_module_, 0) << "the second null sink does not load";
  }
  // Leaves the server as the other tests expect it, whatever failed.
  void TearDown() override {
    capture.Stop();
    first_player.reset();
    second_player.reset();
    Pactl(std::string("set-default-sink ") + kFirstSink);
    Pactl(std::string("set-default-source ") + kFirstSink + ".monitor");
    if (second_module_ >= 0) Pactl("unload-module " + std::to_string(second_module_));
  }

  // Both tones, each into its own sink, for the whole test; a freshly loaded null sink renders
  // ahead of real time for its first ~2 s, so the second is given time to settle.
  void PlayBothTones() {
    PlayFirstTone();
    PlaySecondTone();
    std::this_thread::sleep_for(3s);
  }
  void PlayFirstTone() {
    first_player.reset();
    first_player =
        std::make_unique<Player>(testing::SineSamples(kFirstHz, 1.0, 60.0), 10, kFirstSink);
  }
  void PlaySecondTone() {
    second_player.reset();
    second_player = std::make_unique<Player>(testing::SineSamples(kSecondHz, 1.0, 60.0), 10,
                                             std::string(kSecondSink));
  }
  // The server moves the streams playing on the old default sink to the new one, named sink or
  // not: both tones are started again, each into its own sink.
  // Returns when the switch was asked for.
  std::chrono::steady_clock::time_point SwitchDefaultSink(const std::string& sink) {
    const auto asked = std::chrono::steady_clock::now();
    EXPECT_TRUE(Pactl("set-default-sink " + sink));
    PlayFirstTone();
    PlaySecondTone();
    return asked;
  }
  float Bin(int bin) {
    capture.Fetch(fft.data());
    return fft[bin];
  }
  bool Hears(int bin, int other) { return Bin(bin) > kHeard && fft[other] < kAbsent; }
  bool Silent() {
    capture.Fetch(fft.data());
    return std::all_of(fft.begin(), fft.end(), [](float v) { return v == 0.0f; });
  }
  // How long the recording takes (from `since`, or from now) to hear `bin` and not `other`,
  // printed with `what`.
  std::chrono::milliseconds TimeToHear(int bin, int other, const char* what,
                                       std::chrono::steady_clock::time_point since = {}) {
    const auto waited = WaitFor([&] { return Hears(bin, other); }, 5s);
    const auto took = since == std::chrono::steady_clock::time_point()
                          ? waited
                          : std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now() - since);
    std::printf("%s (%s): %lld ms\n", what, RunsOnPipeWire() ? "PipeWire" : "PulseAudio",
                static_cast<long long>(took.count()));
    return took;
  }

  AudioCapture capture;
  std::vector<float> fft = std::vector<float>(kSpectrumBins);
  std::unique_ptr<Player> first_player, second_player;
  int second_module_ = -1;
};

TEST_F(InputChoice, WhatThisComputerPlaysFollowsTheDefaultOutput) {
  PlayBothTones();
  capture.ChooseInput(InputKind::kDefaultOutputMonitor);
  capture.Start();
  ASSERT_LT(TimeToHear(kFirstBin, kSecondBin, "first output heard"), 5s);
  EXPECT_EQ(capture.source_in_use(), std::string(kFirstSink) + ".monitor");

  // The default input stays on the first sink's monitor: only the output's monitor is followed.
  auto switched = SwitchDefaultSink(kSecondSink);
  EXPECT_LE(
      TimeToHear(kSecondBin, kFirstBin, "default output switched, new output heard", switched), 2s);
  EXPECT_EQ(capture.source_in_use(), std::string(kSecondSink) + ".monitor");
  // And it stays there (a gap in a test player's short buffer may spoil a reading or two).
  int second_heard = 0, first_heard = 0;
  for (int i = 0; i < 20; ++i) {
    second_heard += Bin(kSecondBin) > kHeard;
    first_heard += fft[kFirstBin] > kHeard;
    std::this_thread::sleep_for(50ms);
  }
  EXPECT_GE(second_heard, 15);
  EXPECT_EQ(first_heard, 0);

  switched = SwitchDefaultSink(kFirstSink);
  EXPECT_LE(TimeToHear(kFirstBin, kSecondBin, "default output switched back", switched), 2s);
}

TEST_F(InputChoice, DefaultInputFollowsTheDefaultSourceAndAnotherChoiceTakesOverAtOnce) {
  PlayBothTones();
  // An engine collects the recording meanwhile, as in the program, while it is moved around.
  std::jthread engine([&](std::stop_token stop) {
    while (!stop.stop_requested()) {
      capture.Collect();
      std::this_thread::sleep_for(10ms);
    }
  });
  capture.Start();
  ASSERT_LT(TimeToHear(kFirstBin, kSecondBin, "default input heard"), 5s);
  const auto switched = std::chrono::steady_clock::now();
  ASSERT_TRUE(Pactl(std::string("set-default-source ") + kSecondSink + ".monitor"));
  EXPECT_LE(TimeToHear(kSecondBin, kFirstBin, "default input switched, new input heard", switched),
            2s);

  // A choice made while recording: the first sink's monitor by name, whatever the default.
  capture.ChooseInput(InputKind::kNamedSource, std::string(kFirstSink) + ".monitor");
  EXPECT_LE(TimeToHear(kFirstBin, kSecondBin, "named source chosen"), 1s);
  capture.ChooseInput(InputKind::kDefaultInput);
  EXPECT_LE(TimeToHear(kSecondBin, kFirstBin, "default input chosen again"), 1s);
  engine.request_stop();
  engine.join();
}

TEST_F(InputChoice, ChosenSourceThatGoesAwayIsSilenceUntilItComesBack) {
  PlayBothTones();
  const std::string source = std::string(kSecondSink) + ".monitor";
  capture.ChooseInput(InputKind::kNamedSource, source);
  capture.Start();
  ASSERT_LT(TimeToHear(kSecondBin, kFirstBin, "named source heard"), 5s);

  // The player of the second tone is moved to the first sink by the server; the recording must
  // not be.
  ASSERT_TRUE(Pactl("unload-module " + std::to_string(second_module_)));
  second_module_ = -1;
  EXPECT_LT(WaitFor([&] { return Silent(); }, 2s), 1s) << "no silence while the source is gone";
  EXPECT_LT(WaitFor([&] { return capture.problem() == "the chosen input is not there"; }, 3s), 3s);
  EXPECT_EQ(capture.source_in_use(), "");
  for (int i = 0; i < 20; ++i) {
    EXPECT_TRUE(Silent()) << "something recorded while the chosen source is gone";
    std::this_thread::sleep_for(50ms);
  }

  second_module_ = LoadNullSink(kSecondSink, kSecondDescription);
  ASSERT_GE(second_module_, 0);
  PlaySecondTone();
  // Heard once the fresh sink has caught up with real time (up to ~2 s).
  EXPECT_LE(TimeToHear(kSecondBin, kFirstBin, "named source back"), 4s);
  EXPECT_EQ(capture.source_in_use(), source);
  std::this_thread::sleep_for(2 * AudioCapture::kWatchInterval);
  EXPECT_EQ(capture.problem(), "");
}

TEST_F(InputChoice, SourcesListFollowsTheServer) {
  const unsigned before_start = capture.sources_generation();
  EXPECT_FALSE(capture.server_available());
  capture.Start();
  ASSERT_LT(WaitFor([&] { return capture.server_available(); }, 5s), 5s);
  EXPECT_NE(capture.sources_generation(), before_start);
  const auto find = [&](const std::string& name) {
    const auto sources = capture.Sources();
    const auto it = std::find_if(sources.begin(), sources.end(),
                                 [&](const RecordingSourceInfo& s) { return s.name == name; });
    return it == sources.end() ? std::optional<RecordingSourceInfo>() : *it;
  };
  const std::string second = std::string(kSecondSink) + ".monitor";
  const auto first_monitor = find(std::string(kFirstSink) + ".monitor");
  ASSERT_TRUE(first_monitor);
  EXPECT_TRUE(first_monitor->is_monitor);
  EXPECT_FALSE(first_monitor->description.empty());
  const auto second_monitor = find(second);
  ASSERT_TRUE(second_monitor);
  EXPECT_TRUE(second_monitor->is_monitor);
  EXPECT_NE(second_monitor->description.find(kSecondDescription), std::string::npos)
      << second_monitor->description;

  // A sink unloaded and another loaded: each told within a watch or two.
  unsigned generation = capture.sources_generation();
  ASSERT_TRUE(Pactl("unload-module " + std::to_string(second_module_)));
  second_module_ = -1;
  EXPECT_LT(WaitFor([&] { return !find(second); }, 2s), 2s);
  EXPECT_NE(capture.sources_generation(), generation);
  generation = capture.sources_generation();
  second_module_ = LoadNullSink(kSecondSink, "AnotherDescription");
  ASSERT_GE(second_module_, 0);
  EXPECT_LT(WaitFor([&] { return find(second).has_value(); }, 2s), 2s);
  EXPECT_NE(capture.sources_generation(), generation);
  EXPECT_NE(find(second)->description.find("AnotherDescription"), std::string::npos);

  // Nothing changes while nothing changes.
  generation = capture.sources_generation();
  std::this_thread::sleep_for(4 * AudioCapture::kWatchInterval);
  EXPECT_EQ(capture.sources_generation(), generation);
  capture.Stop();
  EXPECT_FALSE(capture.server_available());
}

// Without a sound server there is nothing to choose from: whatever was chosen, the default device
// records through the fallback, and nothing claims a server or a source. (ALSA reads its
// configuration once per process: ctest runs each test in a process of its own.)
TEST(InputChoiceWithoutSoundServer, TheDefaultDeviceRecordsWhateverWasChosen) {
  const std::string tone = testing::WriteRawSamples(testing::SineSamples(kFirstHz, 1.0, 30.0));
  const testing::AlsaHome home(
      "pcm.!default { type file slave.pcm null file \"/dev/null\" infile \"" + tone +
      "\" format raw }\n");
  setenv("PULSE_SERVER", "unix:/nonexistent/glimmerix-test/native", 1);
  AudioCapture capture;
  std::vector<float> fft(kSpectrumBins);
  // Read from a file rather than a pipe, ALSA's file plug-in puts the tone a bin or two lower.
  const auto tone_heard = [&] {
    capture.Fetch(fft.data());
    return *std::max_element(fft.begin() + kFirstBin - 4, fft.begin() + kFirstBin + 4) > kHeard;
  };
  capture.ChooseInput(InputKind::kDefaultOutputMonitor);
  capture.Start();
  EXPECT_LT(WaitFor([&] { return capture.streaming(); }, 5s), 5s) << "nothing opened";
  EXPECT_EQ(capture.backend(), AudioCapture::Backend::kPortAudio);
  EXPECT_LT(WaitFor(tone_heard, 2s), 2s) << "the default device is not heard";
  capture.ChooseInput(InputKind::kNamedSource, "nowhere.monitor");
  std::this_thread::sleep_for(4 * AudioCapture::kWatchInterval);
  EXPECT_EQ(capture.backend(), AudioCapture::Backend::kPortAudio);
  EXPECT_TRUE(tone_heard()) << "a choice under the fallback stopped the recording";
  EXPECT_FALSE(capture.server_available());
  EXPECT_TRUE(capture.Sources().empty());
  EXPECT_EQ(capture.source_in_use(), "");
  EXPECT_EQ(capture.problem(), "");
  capture.Stop();
  unsetenv("PULSE_SERVER");
  std::remove(tone.c_str());
}

}  // namespace
}  // namespace glimmerix
