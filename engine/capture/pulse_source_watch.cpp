#include "engine/capture/pulse_source_watch.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <utility>

#include "engine/capture/pulse_connection.h"

namespace glimmerix {
namespace {

// Dispatch rounds one Pump() runs at most, so a server flooding the socket cannot hold it.
constexpr int kMaxPumpRounds = 64;

}  // namespace

struct PulseSourceWatch::Hooks {
  static PulseSourceWatch* Self(void* user) { return static_cast<PulseSourceWatch*>(user); }

  static void ContextState(pa_context* context, void* user) {
    if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context))) Self(user)->failed_ = true;
  }

  static void Event(pa_context*, pa_subscription_event_type_t type, uint32_t, void* user) {
    PulseSourceWatch* self = Self(user);
    const auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    const auto kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
    if (facility == PA_SUBSCRIPTION_EVENT_SOURCE) self->AskSources();
    // A sink's volume or state says nothing here; one that comes or goes may be the default.
    const bool sink_came_or_went =
        facility == PA_SUBSCRIPTION_EVENT_SINK && kind != PA_SUBSCRIPTION_EVENT_CHANGE;
    if (facility == PA_SUBSCRIPTION_EVENT_SERVER || sink_came_or_went) self->AskDefaults();
  }

  static void Source(pa_context*, const pa_source_info* info, int eol, void* user) {
    PulseSourceWatch* self = Self(user);
    if (info) {
      self->sources_coming_.push_back({info->name ? info->name : "",
                                       info->description ? info->description : "",
                                       info->monitor_of_sink != PA_INVALID_INDEX});
      return;
    }
    if (eol == 0) return;
    self->sources_asked_ = false;
    if (eol > 0 && self->sources_coming_ != self->sources_) {
      self->sources_.swap(self->sources_coming_);
      ++self->changes_;
    }
    self->sources_coming_.clear();
    if (std::exchange(self->sources_again_, false)) self->AskSources();
  }

  static void Server(pa_context* context, const pa_server_info* info, void* user) {
    PulseSourceWatch* self = Self(user);
    self->default_source_coming_ =
        info && info->default_source_name ? info->default_source_name : "";
    const char* sink = info ? info->default_sink_name : nullptr;
    pa_operation* asked =
        sink ? pa_context_get_sink_info_by_name(context, sink, &Hooks::Sink, user) : nullptr;
    if (asked) {
      pa_operation_unref(asked);
    } else {
      Told(self, "");
    }
  }

  static void Sink(pa_context*, const pa_sink_info* info, int eol, void* user) {
    // Called with the sink, then once more with eol set (alone, with eol < 0, when it is gone).
    PulseSourceWatch* self = Self(user);
    if (info) {
      self->default_sink_monitor_coming_ =
          info->monitor_source_name ? info->monitor_source_name : "";
      return;
    }
    if (eol != 0) Told(self, eol > 0 ? self->default_sink_monitor_coming_ : std::string());
  }

  static void Told(PulseSourceWatch* self, const std::string& monitor) {
    self->defaults_asked_ = false;
    if (self->default_source_coming_ != self->default_source_ ||
        monitor != self->default_sink_monitor_) {
      self->default_source_ = self->default_source_coming_;
      self->default_sink_monitor_ = monitor;
      ++self->changes_;
    }
    self->default_sink_monitor_coming_.clear();
    if (std::exchange(self->defaults_again_, false)) self->AskDefaults();
  }
};

PulseSourceWatch::~PulseSourceWatch() {
  Close();
}

void PulseSourceWatch::AskSources() {
  if (sources_asked_) {
    sources_again_ = true;
    return;
  }
  sources_coming_.clear();
  if (pa_operation* asked = pa_context_get_source_info_list(context_, &Hooks::Source, this)) {
    sources_asked_ = true;
    pa_operation_unref(asked);
  } else {
    failed_ = true;
  }
}

void PulseSourceWatch::AskDefaults() {
  if (defaults_asked_) {
    defaults_again_ = true;
    return;
  }
  if (pa_operation* asked = pa_context_get_server_info(context_, &Hooks::Server, this)) {
    defaults_asked_ = true;
    pa_operation_unref(asked);
  } else {
    failed_ = true;
  }
}

bool PulseSourceWatch::Connect(std::chrono::milliseconds timeout, std::stop_token stop) {
  Close();
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  loop_ = std::make_unique<PulseEventLoop>();
  context_ = NewProgramContext(*loop_);
  const auto failed = [this] { return failed_; };
  bool ok = context_ != nullptr;
  if (ok) {
    pa_context_set_state_callback(context_, &Hooks::ContextState, this);
    ok = ConnectProgramContext(context_) &&
         RunLoopUntil(
             *loop_, [this] { return pa_context_get_state(context_) == PA_CONTEXT_READY; }, failed,
             deadline, stop) == LoopOutcome::kReady;
  }
  if (ok) {
    pa_context_set_subscribe_callback(context_, &Hooks::Event, this);
    const auto mask = static_cast<pa_subscription_mask_t>(
        PA_SUBSCRIPTION_MASK_SOURCE | PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SERVER);
    pa_operation* subscribed = pa_context_subscribe(context_, mask, nullptr, nullptr);
    ok = subscribed != nullptr;
    if (subscribed) pa_operation_unref(subscribed);
  }
  if (ok) {
    AskSources();
    AskDefaults();
    ok = RunLoopUntil(
             *loop_, [this] { return Told(); }, failed, deadline, stop) == LoopOutcome::kReady;
  }
  if (!ok) {
    Close();
    return false;
  }
  changes_ = 1;
  return true;
}

void PulseSourceWatch::Pump() {
  if (!loop_) return;
  for (int round = 0; round < kMaxPumpRounds; ++round) {
    if (loop_->Iterate(0) <= 0) return;
  }
}

bool PulseSourceWatch::Lists(std::string_view source_name) const {
  return std::any_of(sources_.begin(), sources_.end(),
                     [&](const RecordingSourceInfo& s) { return s.name == source_name; });
}

void PulseSourceWatch::Close() {
  EndProgramContext(context_);
  loop_.reset();
  failed_ = false;
  sources_asked_ = sources_again_ = defaults_asked_ = defaults_again_ = false;
  sources_.clear();
  sources_coming_.clear();
  default_source_.clear();
  default_sink_monitor_.clear();
  default_source_coming_.clear();
  default_sink_monitor_coming_.clear();
  changes_ = 0;
}

}  // namespace glimmerix
