// Helpers for tests that record for real through the private PulseAudio of
// scripts/with-test-services: playing raw samples into its null sink, restarting the server.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace glimmerix::testing {

// True when the private sound server is up (the test should skip otherwise).
bool TestServicesPresent();

// Plays mono 22050 Hz float samples into the default sink (or the sink named) with pacat until
// destroyed or Stop().
class Player {
 public:
  // latency_ms is the player's own buffer: short ones start the sound sooner, long ones keep it
  // free of gaps when the machine is busy.
  explicit Player(const std::vector<float>& samples, int latency_ms = 10,
                  const std::string& sink = {});
  ~Player() { Stop(); }
  Player(const Player&) = delete;
  Player& operator=(const Player&) = delete;
  void Stop();

 private:
  pid_t pid_ = -1;
  std::string path_;
};

// Writes the samples as raw float32 to a fresh temporary file; returns its path.
std::string WriteRawSamples(const std::vector<float>& samples);

// Starts a process with stdout and stderr thrown away; returns its pid (-1 on failure).
pid_t Spawn(const std::vector<std::string>& argv);
void EndProcess(pid_t pid);

// Stops the private PulseAudio, and starts it again with the wrapper's own start command
// (GLIMMERIX_TEST_START_SOUND_SERVER: the server and its keeper stream). Both return true on
// success.
bool KillSoundServer();
bool StartSoundServer();

// A freshly started null sink renders up to 2 s ahead of real time before it settles to its
// configured few ms; until then whatever is played is heard that much later. Waits (at most
// timeout) for the default sink's latency to drop under 50 ms; true when it did.
bool WaitForSinkSettled(std::chrono::milliseconds timeout);

// Polls pred every 10 ms (plus the time pred takes) until it holds or timeout passes; returns the
// time it took, or timeout + 1 ms when it never held.
std::chrono::milliseconds WaitFor(const std::function<bool()>& pred,
                                  std::chrono::milliseconds timeout);

std::vector<float> SineSamples(double hz, double amplitude, double seconds);

// A sound server that takes connections and never says a word: a unix socket that listens but
// never accepts (the kernel completes up to 64 connections on its own). address() is what
// PULSE_SERVER takes.
class StuckSoundServer {
 public:
  StuckSoundServer();
  ~StuckSoundServer();
  StuckSoundServer(const StuckSoundServer&) = delete;
  StuckSoundServer& operator=(const StuckSoundServer&) = delete;
  bool listening() const { return fd_ >= 0; }
  std::string address() const { return "unix:" + path_; }

 private:
  std::string dir_, path_;
  int fd_ = -1;
};

// Sends this process's stderr (descriptor 2) into a temporary file until destroyed.
class StderrToFile {
 public:
  StderrToFile();
  ~StderrToFile();
  StderrToFile(const StderrToFile&) = delete;
  StderrToFile& operator=(const StderrToFile&) = delete;
  // Everything written to stderr so far.
  std::string text() const;

 private:
  std::string path_;
  int saved_ = -1;
};

// What a shell command prints on stdout.
std::string CommandOutput(const std::string& command);
// Runs pactl with these arguments, its output thrown away; true when it succeeded.
bool Pactl(const std::string& arguments);
// Loads a null sink like the test services' own (a description without spaces) into the running
// sound server; its module's index, or -1.
int LoadNullSink(const std::string& name, const std::string& description);
// True when the sound server is PipeWire's pulse service.
bool RunsOnPipeWire();

// How often needle occurs in text.
int Occurrences(const std::string& text, const std::string& needle);

// A HOME of its own whose .asoundrc holds config (ALSA reads it once per process). HOME stays
// changed for the rest of the process: a sound library's thread left stuck may still read it.
class AlsaHome {
 public:
  explicit AlsaHome(const std::string& config);
  ~AlsaHome();
  AlsaHome(const AlsaHome&) = delete;
  AlsaHome& operator=(const AlsaHome&) = delete;

 private:
  std::string dir_;
};

}  // namespace glimmerix::testing
