// Live capture from the default recording device, or from another input chosen: 22050 Hz, mono,
// 32-bit float.
//
// The recording is taken from the sound server (PulseAudio, or PipeWire's pulse server) through
// its own client library, with no ALSA plug-ins loaded. The engine thread takes in what the server
// sent in its Collect() just before each pass, so the pass reads fresh samples and no other thread
// wakes for them; while nothing collects (no engine running) the background thread collects every
// kCollectInterval itself. Where no sound server answers, the recording is taken through PortAudio
// from ALSA's (or JACK's) default device instead, whose own thread delivers.
//
// Start() returns at once; a background thread opens the recording (which can take a few hundred
// ms) and keeps it open: when the stream reports an error or finishes, or delivers nothing for
// kReopenAfterSilence, it is closed and opened again, at most once every kReopenInterval, each
// time trying the sound server first (PortAudio is terminated and initialised in between so a
// restarted server or a new device is found again). No device, a device that fails to open and a
// stalled stream all read as silence.
//
// No call into a sound library can hold up the program: the sound server's open gives up after
// kServerTimeout (at once on Stop()), and PortAudio, which has no timeouts of its own (ALSA's pulse
// plug-in waits for ever on a server that accepts connections but never answers), runs on threads
// of its own (PortAudioSession): an open still running after kFallbackOpenTimeout is abandoned and
// reported, and Stop() waits for no PortAudio call longer than kFallbackCloseWait.
//
// Which input is recorded is chosen with ChooseInput(): the server's default source, the monitor
// of its default sink (what this computer plays), or one source by name. A second connection to
// the sound server (PulseSourceWatch) keeps the list of sources and the server's defaults; the
// background thread takes in its changes every kWatchInterval, when it wakes anyway, and when the
// source to record from is no longer the one recorded (a new default, another choice, the chosen
// source come back), the recording is opened again on the new one at once. A named source (or a
// default sink) that is not there records silence until it appears. The list and the source in
// use are published for any thread. Under the PortAudio fallback there is no choice: the default
// device is recorded.
//
// What keeps the lights dark is told as problem(): no sound server, a recording device that does
// not start, or only silence (nothing above kSoundLevel) for kSilenceReported. The background
// thread decides it, looking at the newest samples at most every kWatchInterval (SoundWatch), and
// says each change once on stderr (a line when sound arrives again after a problem was told).
//
// PortAudio's, ALSA's and JACK's diagnostics are kept off stderr (ALSA's error handler and JACK's
// message functions are replaced process-wide on first use).
//
// Threads: Start() and Stop() from one controlling thread (the main thread); Collect() and Fetch()
// from the engine thread only, concurrently with everything else; neither ever waits, and Fetch()
// never allocates. Status accessors from any thread, never waiting (Sources() and source_in_use()
// wait at most for a copy of the published list or name); problem_kind() and Phrase() never
// allocate. ChooseInput() from any thread, never waiting for the recording. Opening and closing
// happen on the background thread.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "engine/capture/live_spectrum.h"
#include "engine/capture/portaudio_session.h"
#include "engine/capture/pulse_recording.h"
#include "engine/capture/pulse_source_watch.h"
#include "engine/capture/recording.h"
#include "engine/capture/sound_watch.h"
#include "engine/ports.h"

namespace glimmerix {

class AudioCapture : public Recording {
 public:
  static constexpr std::chrono::milliseconds kReopenAfterSilence{2000};
  static constexpr std::chrono::milliseconds kReopenInterval{2000};
  static constexpr unsigned long kFramesPerBuffer = 256;  // PortAudio's blocks, ~11.6 ms
  static constexpr unsigned kPulseFragmentFrames = 512;   // the sound server's, ~23 ms
  // While the engine collects, the background thread only watches the stream, this often;
  // collections further apart than kCollectorGone mean no engine collects, and the background
  // thread collects every kCollectInterval itself.
  static constexpr std::chrono::milliseconds kWatchInterval{250};
  static constexpr std::chrono::milliseconds kCollectorGone{200};
  static constexpr std::chrono::milliseconds kCollectInterval{20};
  static constexpr std::chrono::milliseconds kServerTimeout{3000};  // connecting, at most
  // PortAudio is the fallback where no sound server answers. Each try reloads ALSA's plug-ins,
  // some of which leak a little memory every time they are loaded, so after a failed try the next
  // waits twice as long as the last wait (from kReopenInterval up to this); a recording that opens
  // starts the series again. Once a sound server has answered, PortAudio is not tried again:
  // ALSA's default device leads to that server too.
  static constexpr std::chrono::milliseconds kFallbackWaitMax{64000};
  // A PortAudio open that has not returned after this is abandoned and told as stuck; PortAudio
  // is not tried again before that open returns. Closing it waits at most kFallbackCloseWait.
  static constexpr std::chrono::milliseconds kFallbackOpenTimeout{5000};
  static constexpr std::chrono::milliseconds kFallbackCloseWait{500};
  // Nothing but samples under kSoundLevel in magnitude (full scale 1: about -80 dB) for this long
  // counts as "no sound" (SoundWatch).
  static constexpr std::chrono::milliseconds kSilenceReported = SoundWatch::kSilenceReported;
  static constexpr float kSoundLevel = SoundWatch::kSoundLevel;

  // Why the recording brings no sound, if it does not (sound_watch.h).
  using Problem = RecordingProblem;
  // The problem as a short lower-case phrase ("" for kNone); static text.
  static std::string_view Phrase(Problem problem) { return RecordingProblemPhrase(problem); }

  using InputKind = glimmerix::InputKind;  // recording.h

  // Which client library the open recording goes through.
  enum class Backend { kNone, kSoundServer, kPortAudio };

  AudioCapture() = default;
  ~AudioCapture() override;  // Stop()
  AudioCapture(const AudioCapture&) = delete;
  AudioCapture& operator=(const AudioCapture&) = delete;

  // Starts the background thread that opens and watches the recording; does nothing if running.
  void Start() override;
  // Ends the recording and joins the thread, within about kFallbackCloseWait whatever the sound
  // server does (an open in progress is given up); safe to call when not started and more than
  // once.
  void Stop() override;

  // Any thread, at any time, also before Start(): records from the input chosen from now on. A
  // running recording moves to it within about kWatchInterval and the time the server takes to
  // open a stream; the same choice again changes nothing.
  void ChooseInput(InputKind kind, std::string source_name = {}) override;
  // Any thread: the sources the sound server lists (empty when none is known), in its order.
  std::vector<RecordingSourceInfo> Sources() const override;
  // Any thread: changes whenever Sources() or source_in_use() changes (a new list told, a source
  // come or gone, a description changed, a recording moved).
  unsigned sources_generation() const override {
    return sources_generation_.load(std::memory_order_acquire);
  }
  // Any thread: the pulse name of the source recorded from now; "" when nothing is recorded or
  // the recording goes through PortAudio.
  std::string source_in_use() const override;
  // Any thread: the sound server answers the watch over its sources, so an input can be chosen;
  // false while there is none (and under the PortAudio fallback).
  bool server_available() const override {
    return server_available_.load(std::memory_order_acquire);
  }
  std::string why_no_input_choice() const override {
    return "No sound server (PulseAudio or PipeWire) runs: Glimmerix records the system's default "
           "sound device, and no other input can be chosen.";
  }

  // Engine thread: takes in what the sound server has sent since the last call. Returns at once,
  // without collecting, while the background thread is opening or closing the recording.
  void Collect() override;
  // Engine thread: the spectrum of the newest 4096 samples, or zeros (see LiveSpectrum).
  void Fetch(float* fft) override;

  // A stream is open and running.
  bool streaming() const { return backend() != Backend::kNone; }
  // The stream delivers: a fetch now reads real samples, not silence.
  bool receiving() const { return live_.fresh(Clock::now()); }
  int streams_opened() const { return streams_opened_.load(std::memory_order_acquire); }
  // How often PortAudio has been started to try the fallback.
  int fallback_tries() const { return fallback_tries_.load(std::memory_order_acquire); }
  Backend backend() const { return backend_.load(std::memory_order_acquire); }
  Problem problem_kind() const { return problem_.load(std::memory_order_acquire); }
  // Phrase(problem_kind()), for a tool tip: "no sound server", "the recording device does not
  // start", "no sound from the recording input", "the chosen input is not there"; empty while
  // sound arrives. Allocates: the engine
  // thread uses problem_kind() and Phrase().
  std::string problem() const override { return std::string(Phrase(problem_kind())); }

  using Clock = LiveSpectrum::Clock;

 private:
  void Run(std::stop_token stop);
  // Background thread, each of them.
  void Open(const std::stop_token& stop);
  // Takes the outcome of a PortAudio open in progress, or abandons it once it takes too long.
  void FollowFallback(Clock::time_point now);
  void Opened(Clock::time_point now, Backend backend);
  void Close();
  // The source to record from now, as the watch tells it: its pulse name, "" for the server's own
  // choice (the default input while no default is known), nothing when the chosen one is not
  // there.
  std::optional<std::string> WantedSource() const;
  // Takes in the watch's news and publishes the list; connects the watch first when it is not.
  bool Watch(const std::stop_token& stop);
  void PublishSources();
  void PublishSourceInUse(const std::string& name);
  bool Ended();  // recording_mutex_ held: the stream has failed or finished
  // Listens to the newest samples (at most every kWatchInterval), decides the problem, publishes
  // it and says a change on stderr.
  void Review(Clock::time_point now);
  void Tell(Problem problem) const;
  // The engine's Collect() has run within kCollectorGone before now.
  bool EngineCollects(Clock::time_point now) const;
  static void DeliverFromServer(void* self, const float* samples, std::size_t count);

  LiveSpectrum live_;
  std::mutex control_mutex_;  // guards supervisor_ (Start/Stop)
  std::jthread supervisor_;
  // Guards the supervisor's timed wait, and input_chosen_'s setting (so its wake is not missed).
  std::mutex wake_mutex_;
  std::condition_variable_any wake_;
  std::atomic<bool> input_chosen_{false};  // ChooseInput() ran since the supervisor last looked
  mutable std::mutex choice_mutex_;        // guards chosen_kind_ and chosen_name_
  InputKind chosen_kind_ = InputKind::kDefaultInput;
  std::string chosen_name_;
  // Guards sources_ and source_in_use_, as published for any thread.
  mutable std::mutex published_mutex_;
  std::vector<RecordingSourceInfo> sources_;
  std::string source_in_use_;
  std::atomic<unsigned> sources_generation_{0};
  std::atomic<bool> server_available_{false};
  // The watch over the server's sources and its schedule (background thread only): the next time
  // its news are taken in; the count of its changes last published; the source asked for at the
  // last open of the sound server; the chosen source was not there at the last open.
  PulseSourceWatch watch_;
  Clock::time_point next_watch_{};
  unsigned watch_changes_published_ = 0;
  std::string recording_from_;
  bool source_missing_ = false;
  // Guards pulse_, and the writing side of live_'s ring while the sound server records (the
  // engine thread's and the background thread's collections, an open and a close).
  std::mutex recording_mutex_;
  PulseRecording pulse_{&AudioCapture::DeliverFromServer, this};
  Clock::time_point opened_at_{};  // background thread only
  // The fallback (background thread only): the PortAudio try opening or open; when it began;
  // whether the last try was abandoned as stuck. Its schedule: a sound server has answered; the
  // earliest next try of PortAudio; the wait after the next failed try.
  std::shared_ptr<PortAudioSession> fallback_;
  Clock::time_point fallback_began_{};
  bool fallback_stuck_ = false;
  bool server_answered_ = false;
  Clock::time_point next_fallback_{};
  Clock::duration fallback_wait_ = kReopenInterval;
  // How the last open of the sound server failed (background thread only).
  PulseRecording::OpenFailure server_failure_ = PulseRecording::OpenFailure::kNone;
  // Listening for sound, and what was last told on stderr (background thread only).
  SoundWatch sound_watch_;
  std::atomic<Problem> problem_{Problem::kNone};
  std::atomic<int> streams_opened_{0};
  std::atomic<int> fallback_tries_{0};
  std::atomic<Backend> backend_{Backend::kNone};
  // Steady-clock ticks of the engine's last Collect(); 0 before the first.
  std::atomic<Clock::rep> last_collect_{0};
};

}  // namespace glimmerix
