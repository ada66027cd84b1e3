// A sound server that goes away and comes back: the capture reads silence meanwhile, says once that
// the server is missing, and hears the music again within a few seconds, without any help from the
// user.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "engine/capture/audio_capture.h"
#include "tests/support/sound_server.h"

namespace glimmerix {
namespace {

using namespace std::chrono_literals;
using testing::WaitFor;

TEST(LiveCaptureRestart, SineComesBackAfterTheSoundServerRestarts) {
  if (!testing::TestServicesPresent()) GTEST_SKIP() << "needs scripts/with-test-services";
  // Name the private server explicitly so nothing auto-starts a different one while it is down.
  const std::string socket =
      std::string("unix:") + std::getenv("XDG_RUNTIME_DIR") + "/pulse/native";
  setenv("PULSE_SERVER", socket.c_str(), 1);

  testing::StderrToFile errors;
  AudioCapture capture;
  std::vector<float> fft(kSpectrumBins);
  auto bin186 = [&] {
    capture.Fetch(fft.data());
    return fft[186];
  };
  capture.Start();
  ASSERT_LT(WaitFor([&] { return capture.receiving(); }, 5s), 5s);
  ASSERT_TRUE(testing::WaitForSinkSettled(5s));
  const auto tone = testing::SineSamples(1000.0, 1.0, 30.0);
  auto player = std::make_unique<testing::Player>(tone);
  ASSERT_LT(WaitFor([&] { return bin186() > 0.45f; }, 2s), 2s);

  ASSERT_TRUE(testing::KillSoundServer());
  player.reset();
  EXPECT_LT(WaitFor([&] { return bin186() == 0.0f; }, 2s), 1s) << "no silence while down";
  EXPECT_LT(WaitFor([&] { return capture.problem() == "no sound server"; }, 4s), 3s);
  // Long enough for a retry or two; the fallback is not tried where a sound server has answered.
  std::this_thread::sleep_for(3s);
  EXPECT_EQ(capture.problem(), "no sound server");

  ASSERT_TRUE(testing::StartSoundServer());
  const auto up = std::chrono::steady_clock::now();
  player = std::make_unique<testing::Player>(tone);
  WaitFor([&] { return bin186() > 0.45f; }, 10s);
  const auto back =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - up);
  EXPECT_LE(back, 6s) << "the sine came back only after " << back.count() << " ms";
  std::printf("sine back %lld ms after the server; %d streams opened\n",
              static_cast<long long>(back.count()), capture.streams_opened());
  EXPECT_GE(capture.streams_opened(), 2);
  EXPECT_EQ(capture.fallback_tries(), 0);
  std::this_thread::sleep_for(2 * AudioCapture::kWatchInterval);  // it listens this often
  EXPECT_EQ(capture.problem(), "");
  capture.Stop();
  const std::string text = errors.text();
  EXPECT_EQ(testing::Occurrences(text, "glimmerix: no sound server"), 1) << text;
  EXPECT_EQ(testing::Occurrences(text, "glimmerix: sound arrives from the recording input again"),
            1)
      << text;
  unsetenv("PULSE_SERVER");
}

}  // namespace
}  // namespace glimmerix
