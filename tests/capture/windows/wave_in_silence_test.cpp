// "No sound" on the Windows recording under Wine: the private sound server's null sink plays
// nothing, so its monitor (the default input) records silence, told after the silence interval
// (made short here), and a tone played into the sink clears it; each change is said once on
// stderr.
#include <gtest/gtest.h>

#include <cstdio>

#include "engine/capture/windows/wave_in_recording.h"
#include "tests/capture/windows/winmm_sound.h"

namespace glimmerix {
namespace {

using namespace testing;

int Occurrences(const std::string& text, const std::string& part) {
  int count = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

TEST(WaveInRecordingSilence, SilenceForTheIntervalIsToldOnceAndATonePlayedClearsIt) {
  WaveInRecording recording(2s);
  ::testing::internal::CaptureStderr();
  const auto started = Clock::now();
  recording.Start();
  ASSERT_LT(WaitFor([&] { return recording.samples_delivered() > 0; }, 3s), 3s)
      << "nothing recorded: " << recording.problem();
  const auto told = WaitFor([&] { return !recording.problem().empty(); }, 6s);
  const auto after = Clock::now() - started;
  EXPECT_EQ(recording.problem_kind(), RecordingProblem::kNoSound) << recording.problem();
  EXPECT_EQ(recording.problem(), "no sound from the recording input");
  EXPECT_GE(after, 2s) << "told before the interval was over";
  std::printf(
      "no sound told %lld ms after the start (interval 2000 ms)\n",
      static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(after).count()));
  EXPECT_LT(told, 6s);
  std::this_thread::sleep_for(600ms);  // a few more looks: told once
  {
    TonePlayer tone(1000.0, 0.5, 2.0);
    ASSERT_TRUE(tone.playing());
    EXPECT_LT(WaitFor([&] { return recording.problem().empty(); }, 2s), 2s)
        << "the tone does not clear it";
  }
  recording.Stop();
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(Occurrences(said, "no sound from the recording input for 2 s"), 1) << said;
  EXPECT_EQ(Occurrences(said, "sound arrives from the recording input again"), 1) << said;
}

}  // namespace
}  // namespace glimmerix
