#include "tests/support/onset_to_light.h"

#include <spawn.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <numbers>
#include <thread>

#include "engine/capture/audio_capture.h"
#include "engine/realtime.h"
#include "tests/support/sound_server.h"

extern char** environ;

namespace glimmerix::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Remembers when the tone's lamp turns on; engine thread only while the engine runs.
class LampWatch : public ColumnSink {
 public:
  LampWatch() { on_times.reserve(1000); }
  void ColumnDrawn(int column, float, int lamp, const ColumnPicture&) override {
    if (column != kOnsetChannel - 1) return;
    if (lamp && !was_on_ && on_times.size() < on_times.capacity()) {
      on_times.push_back(Clock::now());
    }
    was_on_ = lamp != 0;
  }
  std::vector<Clock::time_point> on_times;

 private:
  bool was_on_ = false;
};

// pacat reading raw mono float samples from a pipe; the write end is ours.
struct PipedPlayer {
  pid_t pid = -1;
  int input = -1;

  bool Start() {
    int fds[2];
    if (pipe(fds) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[0], 0);
    posix_spawn_file_actions_addclose(&actions, fds[1]);
    const char* argv[] = {
        "pacat",        "--playback",        "--raw", "--format=float32le", "--rate=22050",
        "--channels=1", "--latency-msec=10", nullptr};
    const int spawned =
        posix_spawnp(&pid, "pacat", &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[0]);
    input = fds[1];
    if (spawned != 0) pid = -1;
    return spawned == 0;
  }
  ~PipedPlayer() {
    if (input >= 0) close(input);
    if (pid > 0) EndProcess(pid);
  }
};

}  // namespace

void SetUpOnsetControls(ControlTable& controls, EngineShared& shared) {
  shared.mode = kModeManual;
  controls.set_value(gadget::kLevelBar, 35);
  for (int n = 1; n <= kChannels; ++n) controls.set_value(n, 5);
}

OnsetRun PlayOnsetsToLight(int onsets) {
  OnsetRun run;
  std::signal(SIGPIPE, SIG_IGN);  // a player that dies fails the write, not the program
  AudioCapture capture;
  capture.Start();
  if (WaitFor([&] { return capture.receiving(); }, 5s) >= 5s) {
    run.error = "no recording arrived within 5 s";
    return run;
  }
  if (!WaitForSinkSettled(5s)) {
    run.error = "the sink did not settle within 5 s";
    return run;
  }

  ControlTable controls;
  EngineShared shared;
  SetUpOnsetControls(controls, shared);
  LampWatch watch;
  InterruptibleSleeper sleeper;
  EnginePorts ports;
  ports.spectrum = &capture;
  ports.sleeper = &sleeper;
  ports.columns = &watch;
  Engine engine(controls, shared, ports);
  std::vector<Clock::time_point> onset_times;
  {
    std::jthread engine_thread([&](std::stop_token stop) { engine.RunLoop(stop); });
    PipedPlayer player;
    if (!player.Start()) run.error = "pacat did not start";

    constexpr int kChunk = kSampleRate / 200;  // 5 ms
    constexpr int kOnChunks = 100, kOffChunks = 140;
    std::vector<float> chunk(kChunk);
    const Clock::time_point start = Clock::now();
    long long written = 0;
    for (int step = 0; run.error.empty() && step < (onsets + 1) * (kOnChunks + kOffChunks);
         ++step) {
      std::this_thread::sleep_until(start + step * 5ms);
      const int phase = step % (kOnChunks + kOffChunks);
      const bool on = step >= kOnChunks + kOffChunks && phase < kOnChunks;  // first cycle silent
      for (int i = 0; i < kChunk; ++i, ++written) {
        chunk[i] = on ? static_cast<float>(
                            kOnsetToneAmplitude *
                            std::sin(2 * std::numbers::pi * kOnsetToneHz * written / kSampleRate))
                      : 0.0f;
      }
      const auto bytes = static_cast<ssize_t>(sizeof(float) * kChunk);
      if (write(player.input, chunk.data(), bytes) != bytes) run.error = "writing to pacat failed";
      if (on && phase == 0) onset_times.push_back(Clock::now());
    }
    std::this_thread::sleep_for(300ms);
    engine_thread.request_stop();
    sleeper.Interrupt();
  }
  capture.Stop();

  run.onsets = static_cast<int>(onset_times.size());
  for (const auto onset : onset_times) {
    const auto lit = std::find_if(watch.on_times.begin(), watch.on_times.end(),
                                  [&](Clock::time_point t) { return t >= onset; });
    if (lit == watch.on_times.end() || *lit - onset > 1s) continue;
    run.delays_ms.push_back(std::chrono::duration<double, std::milli>(*lit - onset).count());
  }
  return run;
}

}  // namespace glimmerix::testing
