// A tone's onset, played through the sound server, lights its channel: the whole recording path
// into the engine thread. The delay itself is measured by bench/onset_latency.cpp.
#include <gtest/gtest.h>

#include "tests/support/onset_to_light.h"
#include "tests/support/sound_server.h"

namespace glimmerix::testing {
namespace {

TEST(OnsetLight, EveryOnsetLightsItsChannelWithinASecond) {
  if (!TestServicesPresent()) GTEST_SKIP() << "needs scripts/with-test-services";
  const OnsetRun run = PlayOnsetsToLight(3);
  ASSERT_EQ(run.error, "");
  EXPECT_EQ(run.onsets, 3);
  EXPECT_EQ(run.delays_ms.size(), 3u) << "some onsets never lit channel " << kOnsetChannel;
}

}  // namespace
}  // namespace glimmerix::testing
