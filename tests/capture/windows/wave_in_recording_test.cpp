// The Windows recording under Wine, which records from the PulseAudio server of
// scripts/with-test-services: a tone played into the server's null sink (whose monitor is the
// default input) through waveOut comes back as the spectrum the engine fetches.
#include "engine/capture/windows/wave_in_recording.h"

#include <gtest/gtest.h>

#include <array>

#include "tests/capture/windows/winmm_sound.h"

namespace glimmerix {
namespace {

using namespace testing;

TEST(WaveInRecording, ATonePlayedIntoTheServerIsHeardInBin186AndSilenceAfterIt) {
  WaveInRecording recording;
  recording.Start();
  std::array<float, kSpectrumBins> fft{};
  auto bin186 = [&] {
    recording.Fetch(fft.data());
    return fft[186];
  };
  ASSERT_LT(WaitFor([&] { return recording.samples_delivered() > 0; }, 3s), 3s)
      << "nothing recorded: " << recording.problem();
  EXPECT_EQ(recording.problem(), "");
  EXPECT_TRUE(recording.server_available()) << "the recording devices are listed";
  {
    TonePlayer tone(1000.0, 1.0, 4.0);
    ASSERT_TRUE(tone.playing());
    EXPECT_LT(WaitFor([&] { return bin186() >= 0.47f; }, 3s), 3s) << "the tone is not heard";
    EXPECT_NEAR(bin186(), 0.48f, 0.02f);
    EXPECT_LT(fft[100], 0.01f) << "one tone, one peak";
  }
  EXPECT_LT(WaitFor([&] { return bin186() < 0.01f; }, 3s), 3s) << "silence after the tone";
  const auto stop_started = Clock::now();
  recording.Stop();
  EXPECT_LT(Clock::now() - stop_started, 1s);
  EXPECT_EQ(recording.streams_opened(), 1u);
  fft[186] = 1;
  recording.Fetch(fft.data());
  EXPECT_EQ(fft[186], 0.0f) << "stopped: silence, not the last sound repeated";
}

}  // namespace
}  // namespace glimmerix
