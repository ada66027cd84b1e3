#include "outputs/dmx_output.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <mutex>

namespace glimmerix {
namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

struct DmxOutput::Shared {
  mutable std::mutex frame_mutex;  // guards every field up to status_mutex; held only for copies
  std::condition_variable frame_changed;  // the sender waits on it
  std::condition_variable sender_ended;   // SwitchOff waits on it
  DmxSettings settings;
  std::array<std::uint8_t, kDmxChannels> values{};
  std::uint64_t values_version = 0;    // raised by every pass that changes values or settings
  std::uint64_t settings_version = 0;  // raised by every Apply
  int zero_universe = 0;               // a universe owed one all-zero frame, 0 for none
  bool switch_off = false;             // SwitchOff asked: the all-zero frame, then the end
  bool sender_done = false;            // the sender has ended

  mutable std::mutex status_mutex;  // guards status
  std::string status;

  void SetStatus(std::string text) {
    std::lock_guard lock(status_mutex);
    status = std::move(text);
  }
};

DmxOutput::DmxOutput(std::unique_ptr<DmxConnection> connection)
    : shared_(std::make_shared<Shared>()) {
  sender_ = std::thread(&DmxOutput::RunSender, shared_, std::move(connection));
}

DmxOutput::~DmxOutput() {
  SwitchOff();
  if (!sender_.joinable()) return;
  bool done = false;
  {
    std::lock_guard lock(shared_->frame_mutex);
    done = shared_->sender_done;
  }
  if (done) {
    sender_.join();
  } else {
    sender_.detach();
  }
}

void DmxOutput::Apply(const DmxSettings& settings) {
  {
    std::lock_guard lock(shared_->frame_mutex);
    const DmxSettings old = shared_->settings;
    if (old.enabled && (!settings.enabled || settings.universe != old.universe))
      shared_->zero_universe = old.universe;
    shared_->settings = settings;
    ++shared_->values_version;
    ++shared_->settings_version;
  }
  if (!settings.enabled) shared_->SetStatus({});
  shared_->frame_changed.notify_one();
}

DmxSettings DmxOutput::settings() const {
  std::lock_guard lock(shared_->frame_mutex);
  return shared_->settings;
}

void DmxOutput::ChannelsSent(const int* states, const float* band_values, bool inverted) {
  std::unique_lock lock(shared_->frame_mutex);
  if (!shared_->settings.enabled || shared_->switch_off) return;
  const auto values = DmxChannelValues(shared_->settings, states, band_values, inverted);
  if (values == shared_->values) return;  // the keep-alive repeats it
  shared_->values = values;
  ++shared_->values_version;
  lock.unlock();
  shared_->frame_changed.notify_one();
}

void DmxOutput::SwitchOff() {
  std::unique_lock lock(shared_->frame_mutex);
  if (!shared_->switch_off) {
    shared_->switch_off = true;
    shared_->values = {};
    ++shared_->values_version;
    shared_->frame_changed.notify_one();
  }
  shared_->sender_ended.wait_for(lock, std::chrono::milliseconds(kSwitchOffWaitMs),
                                 [this] { return shared_->sender_done; });
}

std::string DmxOutput::status() const {
  if (!settings().enabled) return {};
  std::lock_guard lock(shared_->status_mutex);
  return shared_->status;
}

void DmxOutput::RunSender(std::shared_ptr<Shared> shared,
                          std::unique_ptr<DmxConnection> connection) {
  bool connected = false;
  Clock::time_point next_connect{};  // no attempt before this while not connected
  Clock::time_point last_sent{};
  std::uint64_t sent_version = 0;
  std::string said;  // the reason last said on stderr; cleared once a frame goes through

  // Not connected from now on: the next attempt in kReconnectMs, the reason in the status and,
  // once per reason, on stderr.
  auto cannot_send = [&](const std::string& what, const std::string& why) {
    connected = false;
    next_connect = Clock::now() + std::chrono::milliseconds(kReconnectMs);
    const std::string text =
        what + "; trying again every " + std::to_string(kReconnectMs / 1000) + " s";
    shared->SetStatus(text);
    if (why != said) {
      std::fprintf(stderr, "glimmerix: %s\n", text.c_str());
      said = why;
    }
    return false;
  };
  // Connects when due; false while the daemon cannot be reached.
  auto ensure_connected = [&](const DmxSettings& settings) {
    if (connected) return true;
    if (Clock::now() < next_connect) return false;
    std::string why;
    connected = connection->Connect(why);
    return connected || cannot_send("DMX: cannot send to OLA universe " +
                                        std::to_string(settings.universe) + ": " + why,
                                    why);
  };
  auto send = [&](const DmxSettings& settings, int universe, const DmxFrame& frame) {
    if (!ensure_connected(settings)) return false;
    std::string why;
    if (!connection->Send(universe, frame, why))
      return cannot_send("DMX: lost OLA (" + why + ")", why);
    said.clear();
    return true;
  };

  std::unique_lock lock(shared->frame_mutex);
  for (;;) {
    const auto keep_alive_due = last_sent + std::chrono::milliseconds(kKeepAliveMs);
    const std::uint64_t settings_seen = shared->settings_version;
    // Woken by new settings, a dark frame owed, the switch-off, and new values while they can be
    // sent (while the daemon cannot be reached, only the next attempt's time wakes the sender).
    const auto woken = [&] {
      return shared->settings_version != settings_seen || shared->zero_universe != 0 ||
             shared->switch_off || (connected && shared->values_version != sent_version);
    };
    if (!shared->settings.enabled) {
      shared->frame_changed.wait(lock, woken);
    } else if (!connected) {
      shared->frame_changed.wait_until(lock, next_connect, woken);
    } else {
      shared->frame_changed.wait_until(lock, keep_alive_due, woken);
    }
    const DmxSettings settings = shared->settings;
    const auto values = shared->values;
    const std::uint64_t version = shared->values_version;
    const int zero_universe = shared->zero_universe;
    const bool switch_off = shared->switch_off;
    shared->zero_universe = 0;
    lock.unlock();

    // The last frame deserves a try of its own: the daemon may just have come back.
    if (switch_off) next_connect = Clock::now();
    if (zero_universe != 0) send(settings, zero_universe, DmxFrame{});
    if (settings.enabled) {
      const bool changed = version != sent_version;
      if (changed || Clock::now() >= keep_alive_due || switch_off) {
        if (send(settings, settings.universe, BuildDmxFrame(settings, values))) {
          last_sent = Clock::now();
          sent_version = version;
          shared->SetStatus("OLA answers: sending universe " + std::to_string(settings.universe) +
                            ", slots " + std::to_string(settings.start) + "-" +
                            std::to_string(settings.start + kDmxChannels - 1));
        }
      }
    } else {
      sent_version = version;
      last_sent = Clock::now();
    }
    if (switch_off) {
      // Closed at once, the connection now and then lost the last frame before the daemon read
      // it; a short wait lets the daemon take it first.
      if (connected) std::this_thread::sleep_for(std::chrono::milliseconds(kLastFrameLingerMs));
      connection.reset();
      break;
    }
    lock.lock();
  }
  lock.lock();
  shared->sender_done = true;
  lock.unlock();
  shared->sender_ended.notify_all();
}

}  // namespace glimmerix
