#include "engine/capture/windows/device_names.h"

#include <windows.h>

#include <mmddk.h>
#include <mmdeviceapi.h>
#include <mmsystem.h>
#include <propsys.h>

#include <algorithm>

namespace glimmerix {
namespace {

// PKEY_Device_FriendlyName, spelt out so that no GUID needs defining here.
constexpr PROPERTYKEY kFriendlyName = {
    {0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 14};

// The friendly name of the endpoint waveIn device id records from; "" when not told.
std::string EndpointNameOf(IMMDeviceEnumerator* devices, UINT id) {
  if (!devices) return {};
  ULONG size = 0;
  if (waveInMessage(reinterpret_cast<HWAVEIN>(static_cast<UINT_PTR>(id)),
                    DRV_QUERYFUNCTIONINSTANCEIDSIZE, reinterpret_cast<DWORD_PTR>(&size),
                    0) != MMSYSERR_NOERROR ||
      size < sizeof(wchar_t) || size > 4096)
    return {};
  std::wstring endpoint(size / sizeof(wchar_t), L'\0');
  if (waveInMessage(reinterpret_cast<HWAVEIN>(static_cast<UINT_PTR>(id)),
                    DRV_QUERYFUNCTIONINSTANCEID, reinterpret_cast<DWORD_PTR>(endpoint.data()),
                    size) != MMSYSERR_NOERROR)
    return {};
  IMMDevice* device = nullptr;
  if (FAILED(devices->GetDevice(endpoint.c_str(), &device))) return {};
  std::string name = EndpointName(device);
  device->Release();
  return name;
}

}  // namespace

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

std::string EndpointName(IMMDevice* device) {
  std::string name;
  IPropertyStore* properties = nullptr;
  if (FAILED(device->OpenPropertyStore(STGM_READ, &properties))) return name;
  PROPVARIANT value;
  PropVariantInit(&value);
  if (SUCCEEDED(properties->GetValue(kFriendlyName, &value)) && value.vt == VT_LPWSTR)
    name = Utf8(value.pwszVal);
  PropVariantClear(&value);
  properties->Release();
  return name;
}

std::vector<std::string> ListRecordingDevices(IMMDeviceEnumerator* devices) {
  std::vector<std::string> names;
  const UINT count = waveInGetNumDevs();
  for (UINT id = 0; id < count; ++id) {
    WAVEINCAPSW caps{};
    std::string name = EndpointNameOf(devices, id);
    if (name.empty() && waveInGetDevCapsW(id, &caps, sizeof caps) == MMSYSERR_NOERROR) {
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
