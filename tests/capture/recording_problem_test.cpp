// What keeps the lights dark is told: no sound server, a recording device that does not start,
// only silence; and no sound server, however stuck, holds up the end of the program.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "engine/capture/audio_capture.h"
#include "tests/support/sound_server.h"

namespace glimmerix {
namespace {

using namespace std::chrono_literals;
using testing::Occurrences;
using testing::WaitFor;

constexpr const char* kNoServerLine = "glimmerix: no sound server";
constexpr const char* kStuckLine = "glimmerix: the recording device does not start: opening";
constexpr const char* kNoSoundLine = "glimmerix: no sound from the recording input for 10 s";
constexpr const char* kSoundAgainLine = "glimmerix: sound arrives from the recording input again";

// ALSA's default device through the pulse plug-in (as on a desktop), or one that cannot open.
constexpr const char* kAlsaThroughPulse =
    "pcm.!default { type pulse }\nctl.!default { type pulse }\n";
constexpr const char* kAlsaWithNoDevice = "pcm.!default { type hw card 99 }\n";

std::chrono::milliseconds Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start);
}

// A server that takes the connection and never answers blocks PortAudio's open for good (ALSA's
// pulse plug-in has no timeout): the stuck open is told once, PortAudio is not tried again while it
// stays stuck, and Stop() does not wait for it. (The program's own end: tests/e2e.)
TEST(StuckSoundServer, TheStuckOpenIsToldOnceAndStopDoesNotWaitForIt) {
  testing::StuckSoundServer server;
  ASSERT_TRUE(server.listening());
  testing::StderrToFile errors;
  testing::AlsaHome home(kAlsaThroughPulse);
  setenv("PULSE_SERVER", server.address().c_str(), 1);
  AudioCapture capture;
  capture.Start();
  EXPECT_LT(WaitFor([&] { return capture.problem() == "no sound server"; }, 5s), 5s);
  EXPECT_LT(
      WaitFor([&] { return capture.problem() == "the recording device does not start"; }, 10s),
      10s);
  std::this_thread::sleep_for(4s);  // more tries of the sound server; PortAudio stays stuck
  EXPECT_EQ(capture.problem(), "the recording device does not start");
  EXPECT_EQ(capture.fallback_tries(), 1);
  const auto stopping = std::chrono::steady_clock::now();
  capture.Stop();
  EXPECT_LT(Since(stopping), 300ms);
  const std::string text = errors.text();
  EXPECT_EQ(Occurrences(text, kNoServerLine), 1) << text;
  EXPECT_EQ(Occurrences(text, kStuckLine), 1) << text;
}

// The sound server's open waits up to 3 s for an answer; a stop does not.
TEST(StuckSoundServer, StopDoesNotWaitForTheServersAnswer) {
  testing::StuckSoundServer server;
  ASSERT_TRUE(server.listening());
  testing::AlsaHome home(kAlsaWithNoDevice);
  setenv("PULSE_SERVER", server.address().c_str(), 1);
  AudioCapture capture;
  capture.Start();
  std::this_thread::sleep_for(1s);
  const auto stopping = std::chrono::steady_clock::now();
  capture.Stop();
  EXPECT_LT(Since(stopping), 300ms);
  EXPECT_EQ(capture.fallback_tries(), 0);
  unsetenv("PULSE_SERVER");
}

TEST(RecordingProblem, AMissingSoundServerIsToldAtOnceAndOnce) {
  testing::StderrToFile errors;
  testing::AlsaHome home(kAlsaWithNoDevice);
  setenv("PULSE_SERVER", "unix:/nonexistent/glimmerix-test/native", 1);
  AudioCapture capture;
  EXPECT_EQ(capture.problem(), "");
  capture.Start();
  const auto told = WaitFor([&] { return capture.problem() == "no sound server"; }, 2s);
  EXPECT_LT(told, 1s);
  std::printf("no sound server told %lld ms after the start\n",
              static_cast<long long>(told.count()));
  std::this_thread::sleep_for(4500ms);  // two more tries of the server, one of PortAudio
  EXPECT_EQ(capture.problem(), "no sound server");
  capture.Stop();
  EXPECT_GE(capture.fallback_tries(), 2);
  EXPECT_EQ(Occurrences(errors.text(), kNoServerLine), 1) << errors.text();
  unsetenv("PULSE_SERVER");
}

// The private server's sink plays zeros while no test plays: the recording is pure silence.
TEST(RecordingProblem, TenSecondsOfSilenceAreToldAndATonesEndsIt) {
  if (!testing::TestServicesPresent()) GTEST_SKIP() << "needs scripts/with-test-services";
  testing::StderrToFile errors;
  AudioCapture capture;
  const auto start = std::chrono::steady_clock::now();
  capture.Start();
  ASSERT_LT(WaitFor([&] { return capture.receiving(); }, 5s), 5s);
  WaitFor([&] { return !capture.problem().empty(); }, 13s);
  const auto told = Since(start);
  EXPECT_EQ(capture.problem(), "no sound from the recording input");
  EXPECT_GE(told, 10s);
  EXPECT_LE(told, 12s) << "silence told after " << told.count() << " ms";

  testing::Player player(testing::SineSamples(1000.0, 0.01, 5.0), 100);
  const auto heard = WaitFor([&] { return capture.problem().empty(); }, 3s);
  EXPECT_LT(heard, 1500ms);
  std::printf("silence told %lld ms after the start, a tone heard %lld ms after it began\n",
              static_cast<long long>(told.count()), static_cast<long long>(heard.count()));
  std::this_thread::sleep_for(1s);
  capture.Stop();
  const std::string text = errors.text();
  EXPECT_EQ(Occurrences(text, kNoSoundLine), 1) << text;
  EXPECT_EQ(Occurrences(text, kSoundAgainLine), 1) << text;
  EXPECT_EQ(Occurrences(text, "glimmerix:"), 2) << text;
}

}  // namespace
}  // namespace glimmerix
