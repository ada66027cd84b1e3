#include "engine/capture/windows/device_names.h"

#include <windows.h>

#include <mmddk.h>
#include <mmsystem.h>

#include <algorithm>

namespace glimmerix {

std::string Utf8(const wchar_t* text) {
  std::string utf8;
  if (!text) return utf8;
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 1) return utf8;
  utf8.resize(static_cast<std::size_t>(bytes));
  WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), bytes, nullptr, nullptr);
  utf8.resize(static_cast<std::size_t>(bytes - 1));
  return utf8;
}

std::vector<std::string> ListRecordingDevices() {
  std::vector<std::string> names;
  const UINT count = waveInGetNumDevs();
  for (UINT id = 0; id < count; ++id) {
    WAVEINCAPSW caps{};
    std::string name;
    if (waveInGetDevCapsW(id, &caps, sizeof caps) == MMSYSERR_NOERROR) {
      caps.szPname[MAXPNAMELEN - 1] = L'\0';
      name = Utf8(caps.szPname);
    }
    if (name.empty()) name = "Recording device";
    const std::string plain = name;
    for (int n = 2; std::find(names.begin(), names.end(), name) != names.end(); ++n)
      name = plain + " (" + std::to_string(n) + ")";
    names.push_back(name);
  }
  return names;
}

int PreferredRecordingDevice() {
  DWORD id = 0;
  DWORD status = 0;
  if (waveInMessage(reinterpret_cast<HWAVEIN>(static_cast<UINT_PTR>(WAVE_MAPPER)),
                    DRVM_MAPPER_PREFERRED_GET, reinterpret_cast<DWORD_PTR>(&id),
                    reinterpret_cast<DWORD_PTR>(&status)) != MMSYSERR_NOERROR ||
      id >= waveInGetNumDevs())
    return -1;
  return static_cast<int>(id);
}

}  // namespace glimmerix
