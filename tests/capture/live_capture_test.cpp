// The live capture for real, through the private PulseAudio of scripts/with-test-services:
// whatever is played into its null sink is what the default recording device hears.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <numeric>
#include <sstream>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "engine/capture/audio_capture.h"
#include "tests/support/sound_server.h"

namespace glimmerix {
namespace {

using namespace std::chrono_literals;
using testing::Player;
using testing::WaitFor;

struct Spectrum {
  std::vector<float> fft = std::vector<float>(kSpectrumBins);
  double total() const { return std::accumulate(fft.begin(), fft.end(), 0.0); }
};

class LiveCapture : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::TestServicesPresent()) GTEST_SKIP() << "needs scripts/with-test-services";
  }
  float Bin186() {
    capture.Fetch(now.fft.data());
    return now.fft[186];
  }
  bool Silent() {
    capture.Fetch(now.fft.data());
    return now.total() <= 0.01;
  }
  AudioCapture capture;
  Spectrum now;
};

TEST_F(LiveCapture, SineReachesItsBinQuicklyAndSilenceReturns) {
  Silent();
  EXPECT_EQ(now.total(), 0.0) << "nothing has arrived before Start";
  capture.Start();
  ASSERT_LT(WaitFor([&] { return capture.streaming(); }, 5s), 5s) << "the stream never opened";
  EXPECT_EQ(capture.backend(), AudioCapture::Backend::kSoundServer);
  ASSERT_LT(WaitFor([&] { return capture.receiving(); }, 5s), 5s) << "no samples arrive";
  ASSERT_TRUE(testing::WaitForSinkSettled(5s));
  EXPECT_TRUE(Silent());

  Player player(testing::SineSamples(1000.0, 1.0, 3.0));
  // Includes starting the player, which on a loaded machine takes a few hundred ms by itself.
  const auto took = WaitFor([&] { return Bin186() >= 0.47f; }, 2s);
  EXPECT_LE(took, 1000ms) << "1 kHz reached bin 186 only after " << took.count() << " ms";
  // The typical reading of 20: a gap in the test player's own playback (its buffer is short)
  // may spoil one or two.
  std::vector<double> bins, totals;
  for (int i = 0; i < 20; ++i) {
    bins.push_back(Bin186());
    totals.push_back(now.total());
    std::this_thread::sleep_for(20ms);
  }
  std::nth_element(bins.begin(), bins.begin() + 10, bins.end());
  std::nth_element(totals.begin(), totals.begin() + 10, totals.end());
  EXPECT_NEAR(bins[10], 0.4817, 0.01);
  EXPECT_NEAR(totals[10], 1.045, 0.05);

  player.Stop();
  EXPECT_LT(WaitFor([&] { return Silent(); }, 1s), 500ms) << "silence did not return";
  capture.Stop();
  EXPECT_FALSE(capture.streaming());
  Silent();
  EXPECT_EQ(now.total(), 0.0) << "a stopped capture reads silence";
}

// The engine takes in the recording itself just before each pass; when it stops doing so, the
// capture's own thread takes over, and the stream is neither starved nor reopened.
TEST_F(LiveCapture, CollectedByTheEngineAndWithoutIt) {
  capture.Start();
  ASSERT_LT(WaitFor([&] { return capture.streaming(); }, 5s), 5s) << "the stream never opened";
  ASSERT_TRUE(testing::WaitForSinkSettled(5s));
  Player player(testing::SineSamples(1000.0, 1.0, 8.0), 200);
  const auto heard = WaitFor(
      [&] {
        std::this_thread::sleep_for(40ms);
        capture.Collect();
        return Bin186() >= 0.47f;
      },
      2s);
  ASSERT_LT(heard, 2s) << "the engine's collections bring nothing in";
  int passes = 0, loud = 0;
  for (; passes < 20; ++passes) {  // one second at the engine's pace
    std::this_thread::sleep_for(50ms);
    capture.Collect();
    loud += Bin186() >= 0.47f;
  }
  // A pass or two may still catch a gap in the test player's own playback.
  EXPECT_GE(loud, passes - 4) << "collected passes read stale or no samples";

  loud = 0;
  for (passes = 0; passes < 60; ++passes) {  // three seconds without collections
    std::this_thread::sleep_for(50ms);
    loud += Bin186() >= 0.47f;
  }
  EXPECT_GE(loud, passes - 10) << "nothing arrives once the engine stops collecting";
  EXPECT_EQ(capture.streams_opened(), 1) << "the stream was reopened";
  player.Stop();
  capture.Stop();
}

// The sound libraries' start-up chatter (ALSA, JACK) stays off the terminal, also on a reopen.
TEST_F(LiveCapture, NothingReachesStderr) {
  std::fflush(stderr);
  const std::string path = testing::WriteRawSamples({});
  const int saved = dup(2);
  ASSERT_TRUE(std::freopen(path.c_str(), "w", stderr));
  for (int round = 0; round < 2; ++round) {
    capture.Start();
    WaitFor([&] { return capture.streaming(); }, 5s);
    capture.Stop();
  }
  std::fflush(stderr);
  dup2(saved, 2);
  close(saved);
  std::stringstream text;
  text << std::ifstream(path).rdbuf();
  std::remove(path.c_str());
  EXPECT_EQ(text.str(), "");
  EXPECT_EQ(capture.streams_opened(), 2);
}

// No sound server at all: the capture keeps trying in the background, the engine reads silence.
TEST_F(LiveCapture, NoSoundServerIsSilenceWithoutACrash) {
  setenv("PULSE_SERVER", "unix:/nonexistent/glimmerix-test/native", 1);
  capture.Start();
  for (int i = 0; i < 50; ++i) {  // 2.5 s: one failed open and a retry
    ASSERT_TRUE(Silent());
    ASSERT_EQ(now.total(), 0.0);
    std::this_thread::sleep_for(50ms);
  }
  EXPECT_FALSE(capture.streaming());
  EXPECT_EQ(capture.backend(), AudioCapture::Backend::kNone);
  const auto before = std::chrono::steady_clock::now();
  capture.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - before, 1s) << "Stop hung";
  unsetenv("PULSE_SERVER");
}

// No sound server, but ALSA has a default device of its own (here a file plug-in that plays a
// 1 kHz tone into the recording): the recording goes through PortAudio instead. Each test runs in
// its own process, so ALSA reads this HOME's configuration.
// ALSA's null device runs far faster than real time (measured: over 30 s of sound a second on an
// idle machine), so a tone file would be used up before the spectrum is read: the test feeds the
// file plugin from a FIFO instead, whole seconds of tone (a whole number of cycles) without end,
// at whatever pace the device reads.
class EndlessToneFifo {
 public:
  explicit EndlessToneFifo(std::string path) : path_(std::move(path)) {
    mkfifo(path_.c_str(), 0600);
    feeder_ = std::jthread([this](std::stop_token stop) { Feed(stop); });
  }
  ~EndlessToneFifo() {
    feeder_.request_stop();
    feeder_.join();
    std::remove(path_.c_str());
  }
  const std::string& path() const { return path_; }

 private:
  void Feed(const std::stop_token& stop) {
    // Read and write, so opening does not wait for the reader and no write ever blocks for good.
    const int fd = open(path_.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return;
    const std::vector<float> second = testing::SineSamples(1000.0, 1.0, 1.0);
    const auto* bytes = reinterpret_cast<const char*>(second.data());
    const std::size_t size = second.size() * sizeof(float);
    std::size_t at = 0;
    while (!stop.stop_requested()) {
      pollfd p{fd, POLLOUT, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      const ssize_t n = write(fd, bytes + at, size - at);
      if (n > 0) at = (at + static_cast<std::size_t>(n)) % size;
    }
    close(fd);
  }
  std::string path_;
  std::jthread feeder_;
};

TEST_F(LiveCapture, WithoutASoundServerTheDefaultAlsaDeviceRecords) {
  char home[] = "/tmp/glimmerix-alsa-XXXXXX";
  ASSERT_TRUE(mkdtemp(home));
  const std::string config = std::string(home) + "/.asoundrc";
  {
    const EndlessToneFifo tone(std::string(home) + "/tone");
    std::ofstream(config) << "pcm.!default { type file slave.pcm null file \"/dev/null\" infile \""
                          << tone.path() << "\" format raw }\n";
    setenv("HOME", home, 1);
    setenv("PULSE_SERVER", "unix:/nonexistent/glimmerix-test/native", 1);
    capture.Start();
    EXPECT_LT(WaitFor([&] { return capture.streaming(); }, 5s), 5s) << "nothing opened";
    EXPECT_EQ(capture.backend(), AudioCapture::Backend::kPortAudio);
    EXPECT_LT(WaitFor([&] { return Bin186() >= 0.47f; }, 2s), 2s) << "the tone is not heard";
    EXPECT_NEAR(now.fft[186], 0.4817, 0.01);
    capture.Stop();
    EXPECT_EQ(capture.backend(), AudioCapture::Backend::kNone);
  }
  unsetenv("PULSE_SERVER");
  std::remove(config.c_str());
  rmdir(home);
}

// Nothing can record (no sound server, and ALSA's default device cannot open): the sound server
// is asked every 2 s, PortAudio ever more rarely (tries at 0, 2 and 6 s, the next at 14 s).
TEST_F(LiveCapture, WithNothingToRecordTheFallbackIsTriedEverMoreRarely) {
  char home[] = "/tmp/glimmerix-alsa-XXXXXX";
  ASSERT_TRUE(mkdtemp(home));
  const std::string config = std::string(home) + "/.asoundrc";
  std::ofstream(config) << "pcm.!default { type hw card 99 }\n";
  setenv("HOME", home, 1);
  setenv("PULSE_SERVER", "unix:/nonexistent/glimmerix-test/native", 1);
  capture.Start();
  std::this_thread::sleep_for(7500ms);
  EXPECT_FALSE(capture.streaming());
  EXPECT_GE(capture.fallback_tries(), 2);
  EXPECT_LE(capture.fallback_tries(), 3) << "tried every time the sound server was";
  capture.Stop();
  unsetenv("PULSE_SERVER");
  std::remove(config.c_str());
  rmdir(home);
}

}  // namespace
}  // namespace glimmerix
