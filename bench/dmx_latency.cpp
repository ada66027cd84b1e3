// The DMX output's delay from the engine pass to the frame at a receiver, and the frames per
// second it puts on the wire, measured against a real olad (started here, as the tests do) whose
// Art-Net packets are read back on loopback. Each pass lights a different set of channels, so
// every received frame names the pass it came from.
//   glimmerix-dmx-latency [PASSES]   (default 400, 50 ms apart: 20 s)
//   glimmerix-dmx-latency --count SECONDS   only counts the ArtDmx frames of a running olad
// Run as root or as a user olad may run as; nothing else may listen on 127.0.0.1:9010.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <thread>
#include <vector>

#include "outputs/dmx_output.h"
#include "outputs/linux/ola_dmx_sender.h"
#include "tests/support/ola_daemon.h"

using namespace glimmerix;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

int main(int argc, char** argv) {
  if (argc > 2 && std::string(argv[1]) == "--count") {
    testing::ArtDmxListener listener;
    const double seconds = std::atof(argv[2]);
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    std::printf("%.1f\n", listener.count() / seconds);
    return listener.ok() ? 0 : 1;
  }
  const int passes = argc > 1 ? std::atoi(argv[1]) : 400;
  testing::ArtDmxListener listener;
  testing::OlaDaemon daemon;
  std::string why;
  if (!listener.ok() || !daemon.Start(why)) {
    std::fprintf(stderr, "cannot start: %s\n", why.c_str());
    return 1;
  }
  listener.Rebind();
  DmxOutput out(MakeOlaDmxConnection());
  out.Apply({true, 1, 1, 255, DmxMapping::kOnOff});
  std::this_thread::sleep_for(500ms);

  std::map<int, Clock::time_point> sent;  // pattern -> when the pass handed it over
  const std::array<float, 18> bands{};
  const std::size_t first_frame = listener.count();
  const auto start = Clock::now();
  for (int pass = 1; pass <= passes; ++pass) {
    std::array<int, 18> states{};
    for (int bit = 0; bit < 18; ++bit) states[bit] = (pass >> bit) & 1;
    sent[pass] = Clock::now();
    out.ChannelsSent(states.data(), bands.data(), false);
    std::this_thread::sleep_until(start + pass * 50ms);
  }
  std::this_thread::sleep_for(500ms);
  const auto frames = listener.Frames();
  std::vector<double> delays_ms;
  for (std::size_t i = first_frame; i < frames.size(); ++i) {
    int pattern = 0;
    for (int bit = 0; bit < 18; ++bit)
      pattern |= (testing::Slot(frames[i], bit + 1) ? 1 : 0) << bit;
    const auto it = sent.find(pattern);
    if (it == sent.end()) continue;
    delays_ms.push_back(
        std::chrono::duration<double, std::milli>(frames[i].received - it->second).count());
    sent.erase(it);  // keep-alive repeats are not new frames
  }
  std::sort(delays_ms.begin(), delays_ms.end());
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (delays_ms.empty()) {
    std::printf("no frame received\n");
    return 1;
  }
  std::printf("passes %d, frames received %zu (%.1f per second), passes seen %zu\n", passes,
              frames.size() - first_frame, (frames.size() - first_frame) / seconds,
              delays_ms.size());
  std::printf("pass to frame at the receiver: median %.2f ms, p95 %.2f ms, max %.2f ms\n",
              delays_ms[delays_ms.size() / 2], delays_ms[delays_ms.size() * 95 / 100],
              delays_ms.back());
  out.SwitchOff();
  return 0;
}
