// Choosing what the Windows recording records, for real under Wine, through the private sound
// server of scripts/with-test-services with a second null sink beside its own: the recording
// devices Wine makes of the server's sources are listed by name and the chosen one alone is
// recorded, a chosen device that is not there is silence and told, and "what this computer
// plays" records what the default output plays (where the system refuses loopback capture, as
// Wine 8 does, the default input stands in, said once and tried once).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/capture/windows/wave_in_recording.h"
#include "tests/capture/windows/winmm_sound.h"

namespace glimmerix {
namespace {

using namespace testing;

constexpr float kHeard = 0.3f;  // a full-scale 1 kHz tone reads ~0.48 on bin 186
constexpr float kAbsent = 0.05f;
// Wine names the second sink's monitor after the sink's description.
constexpr const char* kSecondMonitor = "Monitor of GlimmerixSecondOutput";

int Occurrences(const std::string& text, const std::string& part) {
  int count = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

long long Ms(std::chrono::milliseconds duration) {
  return static_cast<long long>(duration.count());
}

class WindowsInputChoice : public ::testing::Test {
 protected:
  // Wine takes the server's devices once per process, at its first use of them: the second sink
  // is loaded before anything here asks.
  void SetUp() override {
    if (!std::getenv("GLIMMERIX_TEST_SERVICES")) GTEST_SKIP() << "needs scripts/with-test-services";
    ASSERT_TRUE(
        RunUnix("pactl load-module module-null-sink sink_name=glimmerix_second "
                "sink_properties=device.description=GlimmerixSecondOutput >/dev/null"));
  }
  void TearDown() override {
    recording_.reset();
    RunUnix(
        "pactl list short modules | awk '/sink_name=glimmerix_second/ {print $1}' | "
        "xargs -r -n1 pactl unload-module");
  }

  WaveInRecording& Make() {
    recording_ = std::make_unique<WaveInRecording>();
    return *recording_;
  }
  float Bin186() {
    recording_->Fetch(fft_.data());
    return fft_[186];
  }
  // How long bin 186 stays under kAbsent, up to limit.
  std::chrono::milliseconds QuietFor(std::chrono::milliseconds limit) {
    return WaitFor([&] { return Bin186() >= kAbsent; }, limit);
  }

  std::unique_ptr<WaveInRecording> recording_;
  std::array<float, kSpectrumBins> fft_{};
};

TEST_F(WindowsInputChoice, TheServersSourcesAreListedAndTheChosenOneAloneIsRecorded) {
  WaveInRecording& recording = Make();
  EXPECT_FALSE(recording.server_available()) << "listed before the recording thread runs";
  recording.Start();
  ASSERT_LT(WaitFor([&] { return recording.server_available(); }, 2s), 2s);
  const std::vector<RecordingSourceInfo> sources = recording.Sources();
  std::string names;
  for (const RecordingSourceInfo& source : sources) {
    names += "\"" + source.name + "\" ";
    EXPECT_EQ(source.description, source.name);
  }
  auto listed = [&](const std::string& name) {
    return std::any_of(sources.begin(), sources.end(),
                       [&](const RecordingSourceInfo& s) { return s.name == name; });
  };
  EXPECT_TRUE(listed("Monitor of Null Output")) << names;
  ASSERT_TRUE(listed(kSecondMonitor)) << names;

  // 1 kHz (bin 186) into the second sink, ~2 kHz (bin 372) into the default one.
  const UINT second_output = OutputNamed(L"GlimmerixSecondOutput");
  ASSERT_NE(second_output, WAVE_MAPPER) << "Wine does not list the second sink as an output";
  TonePlayer first(1000.0, 1.0, 12.0, second_output);
  TonePlayer second(372 * 22050.0 / 4096, 1.0, 12.0);
  ASSERT_TRUE(first.playing() && second.playing());
  const auto tones_started = Clock::now();
  auto hears = [&](int bin, int other) {
    recording.Fetch(fft_.data());
    return fft_[bin] >= kHeard && fft_[other] < kAbsent;
  };
  EXPECT_LT(WaitFor([&] { return hears(372, 186); }, 3s), 3s)
      << "the default input does not hear the default sink alone: " << recording.problem();
  // A freshly loaded null sink takes a while to play what it is given: the choice is timed once
  // the second one does.
  std::this_thread::sleep_until(tones_started + 2500ms);

  const unsigned generation = recording.sources_generation();
  recording.ChooseInput(InputKind::kNamedSource, kSecondMonitor);
  const auto heard = WaitFor([&] { return hears(186, 372); }, 3s);
  EXPECT_LT(heard, 3s) << "the chosen device alone is not recorded: " << recording.problem();
  std::printf("the chosen device heard alone %lld ms after the choice\n", Ms(heard));
  EXPECT_EQ(recording.source_in_use(), kSecondMonitor);
  EXPECT_NE(recording.sources_generation(), generation);

  recording.ChooseInput(InputKind::kDefaultInput);
  const auto back = WaitFor([&] { return hears(372, 186); }, 3s);
  EXPECT_LT(back, 3s) << "not back on the default input";
  std::printf("the default input heard alone %lld ms after the choice\n", Ms(back));
  EXPECT_EQ(recording.source_in_use(), "PulseAudio") << "Wine's default recording device";
  recording.Stop();
  EXPECT_EQ(recording.source_in_use(), "");
}

TEST_F(WindowsInputChoice, AChosenDeviceThatIsNotThereIsSilenceToldOnceUntilAnotherIsChosen) {
  WaveInRecording& recording = Make();
  ::testing::internal::CaptureStderr();
  recording.ChooseInput(InputKind::kNamedSource, "Glimmerix Absent Microphone");
  recording.Start();
  EXPECT_LT(WaitFor([&] { return !recording.problem().empty(); }, 2s), 2s);
  EXPECT_EQ(recording.problem(), "the chosen input is not there");
  {
    TonePlayer tone(1000.0, 1.0, 3.0);
    ASSERT_TRUE(tone.playing());
    EXPECT_EQ(QuietFor(2s), 2s) << "something else is recorded in its place";
    EXPECT_EQ(recording.source_in_use(), "");
    EXPECT_EQ(recording.streams_opened(), 0u);
    recording.ChooseInput(InputKind::kDefaultInput);
    EXPECT_LT(WaitFor([&] { return Bin186() >= kHeard; }, 2s), 2s)
        << "the default input is not recorded after it was chosen";
    EXPECT_LT(WaitFor([&] { return recording.problem().empty(); }, 2s), 2s);
  }
  recording.Stop();
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(Occurrences(said, "the chosen input is not there"), 1) << said;
}

// Wine keeps the device listed (it takes the server's devices once per process) but its source is
// gone: silence, the recording kept trying, and the same source back is recorded again.
TEST_F(WindowsInputChoice, AChosenDeviceThatGoesAwayIsSilenceUntilItComesBack) {
  WaveInRecording& recording = Make();
  recording.ChooseInput(InputKind::kNamedSource, kSecondMonitor);
  recording.Start();
  const UINT second_output = OutputNamed(L"GlimmerixSecondOutput");
  ASSERT_NE(second_output, WAVE_MAPPER);
  {
    TonePlayer tone(1000.0, 1.0, 3.0, second_output);
    ASSERT_LT(WaitFor([&] { return Bin186() >= kHeard; }, 3s), 3s) << recording.problem();
  }
  ASSERT_TRUE(
      RunUnix("pactl list short modules | awk '/sink_name=glimmerix_second/ {print $1}' | "
              "xargs -r -n1 pactl unload-module"));
  EXPECT_LT(WaitFor([&] { return Bin186() < kAbsent; }, 1s), 1s) << "the last sound repeated";
  EXPECT_LT(WaitFor([&] { return !recording.problem().empty(); }, 5s), 5s)
      << "the lost device is not told";
  std::printf("gone: %s\n", recording.problem().c_str());
  TonePlayer other(1000.0, 1.0, 3.0);  // into the default sink: not recorded in its place
  EXPECT_EQ(QuietFor(2s), 2s);
  ASSERT_TRUE(
      RunUnix("pactl load-module module-null-sink sink_name=glimmerix_second "
              "sink_properties=device.description=GlimmerixSecondOutput >/dev/null"));
  // The tone comes from the Unix side: Wine lists its outputs once per process, and a waveOut
  // opened on the entry of the sink that went away has hung this test under Wine.
  ASSERT_TRUE(
      RunUnix("(sox -n -t raw -r 22050 -e floating-point -b 32 -c 1 - synth 6 sine 1000 | "
              "pacat --device=glimmerix_second --raw --format=float32le --rate=22050 "
              "--channels=1) >/dev/null 2>&1 &"));
  const auto heard = WaitFor([&] { return Bin186() >= kHeard; }, 5s);
  EXPECT_LT(heard, 5s) << "not recorded again: " << recording.problem();
  std::printf("recorded again %lld ms after the device came back\n", Ms(heard));
  recording.Stop();
}

TEST_F(WindowsInputChoice, WhatThisComputerPlaysHearsTheDefaultOutput) {
  WaveInRecording& recording = Make();
  ::testing::internal::CaptureStderr();
  const auto chosen = Clock::now();
  recording.ChooseInput(InputKind::kDefaultOutputMonitor);
  recording.Start();
  {
    TonePlayer tone(1000.0, 1.0, 4.0);
    ASSERT_TRUE(tone.playing());
    const auto heard = WaitFor([&] { return Bin186() >= kHeard; }, 3s);
    EXPECT_LT(heard, 3s) << recording.problem();
    std::printf("what the default output plays heard %lld ms after the start (%s)\n",
                Ms(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - chosen)),
                recording.recording_loopback() ? "loopback" : "default input standing in");
    std::this_thread::sleep_for(2s);  // refused loopback is not asked for again and again
    EXPECT_EQ(recording.loopback_attempts(), 1u);
    EXPECT_EQ(recording.streams_opened(), 1u);
    EXPECT_EQ(recording.problem(), "");
  }
  const bool loopback = recording.recording_loopback();
  if (!loopback) {
    recording.ChooseInput(InputKind::kDefaultOutputMonitor);  // asked again: tried again, once
    EXPECT_LT(WaitFor([&] { return recording.loopback_attempts() == 2; }, 2s), 2s);
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(recording.loopback_attempts(), 2u);
  }
  recording.Stop();
  const std::string said = ::testing::internal::GetCapturedStderr();
  std::printf("%s", said.c_str());
  EXPECT_EQ(Occurrences(said, "Windows does not record what this computer plays"), loopback ? 0 : 2)
      << said;
}

}  // namespace
}  // namespace glimmerix
