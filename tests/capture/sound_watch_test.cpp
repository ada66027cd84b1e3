// The listening that decides "no sound" on every platform, over a LiveSpectrum fed at chosen
// times.
#include "engine/capture/sound_watch.h"

#include <gtest/gtest.h>

#include <vector>

namespace glimmerix {
namespace {

using namespace std::chrono_literals;
using Clock = SoundWatch::Clock;
using Problem = RecordingProblem;

class SoundWatchTest : public ::testing::Test {
 protected:
  void SetUp() override { live_.BeginStream(); }
  // Delivers a 23 ms block of level at t and listens.
  bool BlockAt(Clock::duration t, float level) {
    std::vector<float> block(512, 0.0f);
    block[300] = level;
    live_.Deliver(block.data(), block.size(), start_ + t);
    return watch_.Listen(live_, start_ + t);
  }
  LiveSpectrum live_;
  SoundWatch watch_{2s};
  const Clock::time_point start_ = Clock::now();
};

TEST_F(SoundWatchTest, SilenceForTheIntervalIsNoSoundAndOneLoudSampleEndsIt) {
  std::vector<float> earlier(512, 0.5f);
  live_.Deliver(earlier.data(), earlier.size(), start_);
  watch_.Begin(live_, start_);
  EXPECT_FALSE(BlockAt(300ms, 0.0f)) << "what came before Begin is not listened to";
  EXPECT_FALSE(BlockAt(600ms, SoundWatch::kSoundLevel * 0.9f)) << "under the level is silence";
  EXPECT_FALSE(watch_.silent_too_long(start_ + 1999ms));
  EXPECT_TRUE(watch_.silent_too_long(start_ + 2s));

  EXPECT_TRUE(BlockAt(2100ms, -0.01f)) << "a negative sample counts by its magnitude";
  EXPECT_FALSE(watch_.silent_too_long(start_ + 4s));
  EXPECT_TRUE(watch_.silent_too_long(start_ + 4100ms));
  EXPECT_FALSE(BlockAt(2200ms, 0.5f)) << "looked at again only after kListenEvery";
  EXPECT_TRUE(BlockAt(2400ms, 0.0f)) << "the sound skipped over is heard at the next look";

  watch_.RestartSilence(start_ + 5s);
  EXPECT_FALSE(watch_.silent_too_long(start_ + 6s));
}

TEST_F(SoundWatchTest, EachProblemIsToldOnceAndItsEndOnlyWithSoundHeard) {
  watch_.Begin(live_, start_);
  EXPECT_FALSE(watch_.Tell(Problem::kNone, false)) << "nothing to tell at the start";
  EXPECT_TRUE(watch_.Tell(Problem::kNoSound, false));
  EXPECT_FALSE(watch_.Tell(Problem::kNoSound, false));
  EXPECT_FALSE(watch_.Tell(Problem::kNone, false)) << "no problem, but no sound heard either";
  EXPECT_TRUE(watch_.Tell(Problem::kDeviceDoesNotStart, false));
  EXPECT_TRUE(watch_.Tell(Problem::kNone, true));
  EXPECT_FALSE(watch_.Tell(Problem::kNone, true));
  EXPECT_TRUE(watch_.Tell(Problem::kNoSound, false));
  watch_.Begin(live_, start_);
  EXPECT_TRUE(watch_.Tell(Problem::kNoSound, false)) << "a new start tells it anew";
}

}  // namespace
}  // namespace glimmerix
