// Sound through Wine's winmm for the recording's tests: a tone played into the default output,
// waiting for a condition, and a Unix command run from the Windows test (Wine starts Unix programs
// as they are).
#pragma once

#include <windows.h>

#include <mmsystem.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

#include "engine/capture/windows/wave_format.h"

namespace glimmerix::testing {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Plays a sine through an output (the default one unless given) for as long as it lives (seconds
// at most).
class TonePlayer {
 public:
  TonePlayer(double hz, double amplitude, double seconds, UINT output = WAVE_MAPPER) {
    samples_.resize(static_cast<std::size_t>(seconds * kSampleRate));
    for (std::size_t n = 0; n < samples_.size(); ++n)
      samples_[n] = static_cast<std::int16_t>(std::lround(
          32767.0 * amplitude * std::sin(2.0 * std::numbers::pi * hz * n / kSampleRate)));
    const WAVEFORMATEX format = MonoPcm16Format();
    if (waveOutOpen(&device_, output, &format, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) {
      device_ = nullptr;
      return;
    }
    header_.lpData = reinterpret_cast<LPSTR>(samples_.data());
    header_.dwBufferLength = static_cast<DWORD>(samples_.size() * 2);
    waveOutPrepareHeader(device_, &header_, sizeof header_);
    playing_ = waveOutWrite(device_, &header_, sizeof header_) == MMSYSERR_NOERROR;
  }
  ~TonePlayer() {
    if (!device_) return;
    waveOutReset(device_);
    waveOutUnprepareHeader(device_, &header_, sizeof header_);
    waveOutClose(device_);
  }
  bool playing() const { return playing_; }

 private:
  std::vector<std::int16_t> samples_;
  HWAVEOUT device_ = nullptr;
  WAVEHDR header_{};
  bool playing_ = false;
};

// The waveOut device of that name, or WAVE_MAPPER when there is none.
inline UINT OutputNamed(const std::wstring& name) {
  for (UINT id = 0; id < waveOutGetNumDevs(); ++id) {
    WAVEOUTCAPSW caps{};
    if (waveOutGetDevCapsW(id, &caps, sizeof caps) == MMSYSERR_NOERROR && name == caps.szPname)
      return id;
  }
  return WAVE_MAPPER;
}

// How long until done() holds (checked every 10 ms), or limit when it never does.
template <class Done>
std::chrono::milliseconds WaitFor(Done done, std::chrono::milliseconds limit) {
  const auto start = Clock::now();
  while (!done()) {
    if (Clock::now() - start >= limit) return limit;
    std::this_thread::sleep_for(10ms);
  }
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

// Runs a shell command line on the Unix side and waits for it, at most 20 s; true when it exits
// with 0. Wine starts Unix programs as they are but cannot wait for them, so the command writes its
// exit status to a file of its own under /tmp, which is waited for.
inline bool RunUnix(const std::string& command_line) {
  static int runs = 0;
  const std::string status =
      "/tmp/glimmerix-unix-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++runs);
  const std::string script =
      "(" + command_line + "); echo $? >" + status + ".part; mv " + status + ".part " + status;
  std::wstring line = L"Z:\\bin\\sh -c \"";
  for (char c : script) line += static_cast<wchar_t>(c);
  line += L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process))
    return false;
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  std::wstring windows_status = L"Z:";
  for (char c : status) windows_status += c == '/' ? L'\\' : static_cast<wchar_t>(c);
  const auto until = Clock::now() + 20s;
  while (Clock::now() < until) {
    HANDLE file = CreateFileW(windows_status.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      char text[16] = {};
      DWORD read = 0;
      ReadFile(file, text, sizeof text - 1, &read, nullptr);
      CloseHandle(file);
      DeleteFileW(windows_status.c_str());
      return text[0] == '0' && (text[1] == '\n' || text[1] == '\0');
    }
    std::this_thread::sleep_for(20ms);
  }
  return false;
}

}  // namespace glimmerix::testing
