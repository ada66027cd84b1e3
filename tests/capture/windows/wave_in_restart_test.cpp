#include "engine/capture/windows/wave_in_recording.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>

#include "tests/capture/windows/winmm_sound.h"

namespace glimmerix {
namespace {

using namespace testing;

// The server killed mid-recording: silence at once, the device told as not starting while the
// server is away, and the recording back by itself once the server is.
TEST(WaveInRecordingRestart, ALostServerIsSilenceThenReopenedAndHeardAgain) {
  const char* start_server = std::getenv("GLIMMERIX_TEST_START_SOUND_SERVER");
  if (!start_server) GTEST_SKIP() << "needs scripts/with-test-services";
  WaveInRecording recording;
  recording.Start();
  std::array<float, kSpectrumBins> fft{};
  auto bin186 = [&] {
    recording.Fetch(fft.data());
    return fft[186];
  };
  ASSERT_LT(WaitFor([&] { return recording.samples_delivered() > 0; }, 3s), 3s);
  {
    TonePlayer tone(1000.0, 1.0, 2.0);
    ASSERT_LT(WaitFor([&] { return bin186() >= 0.47f; }, 3s), 3s);
    ASSERT_TRUE(
        RunUnix("pulseaudio --kill; while pactl info >/dev/null 2>&1; do sleep 0.05; done"));
    EXPECT_LT(WaitFor([&] { return bin186() == 0.0f; }, 1s), 1s) << "not the last sound repeated";
  }
  EXPECT_LT(WaitFor([&] { return !recording.problem().empty(); }, 5s), 5s)
      << "the lost device is told";
  ASSERT_TRUE(RunUnix(start_server)) << "the sound server did not start again";
  EXPECT_LT(
      WaitFor([&] { return recording.problem().empty() && recording.streams_opened() >= 2; }, 8s),
      8s)
      << "not reopened: " << recording.problem();
  TonePlayer tone(1000.0, 1.0, 3.0);
  EXPECT_LT(WaitFor([&] { return bin186() >= 0.47f; }, 3s), 3s) << "not heard after the return";
  recording.Stop();
}

}  // namespace
}  // namespace glimmerix
