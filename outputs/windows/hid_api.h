// The Windows calls the HID layer (outputs/hid_access.h) makes, gathered in one table so that
// tests can put a stand-in behind them: SetupAPI's listing of the HID interface class, hid.dll's
// class identifier, attributes and product string, and kernel32's file calls on the device handles.
//
// HidAccess_Init loads the system's table (setupapi.dll and hid.dll from the system folder,
// kernel32 as loaded). HidAccess_UseApiLibrary takes every entry instead from one library that
// exports them under the same names: the stand-in controller of the tests.
//
// Threads: the table in force is switched on the main thread only, while no device is open;
// every table ever loaded stays loaded, so a call on another thread never finds it gone.
#pragma once

#include <windows.h>

#include <hidsdi.h>
#include <setupapi.h>

#include <string>
#include <vector>

namespace glimmerix {

struct HidApi {
  decltype(&::SetupDiGetClassDevsW) SetupDiGetClassDevsW = nullptr;
  decltype(&::SetupDiEnumDeviceInterfaces) SetupDiEnumDeviceInterfaces = nullptr;
  decltype(&::SetupDiGetDeviceInterfaceDetailW) SetupDiGetDeviceInterfaceDetailW = nullptr;
  decltype(&::SetupDiDestroyDeviceInfoList) SetupDiDestroyDeviceInfoList = nullptr;
  decltype(&::HidD_GetHidGuid) HidD_GetHidGuid = nullptr;
  decltype(&::HidD_GetAttributes) HidD_GetAttributes = nullptr;
  decltype(&::HidD_GetProductString) HidD_GetProductString = nullptr;
  decltype(&::CreateFileW) CreateFileW = nullptr;
  decltype(&::WriteFile) WriteFile = nullptr;
  decltype(&::GetOverlappedResult) GetOverlappedResult = nullptr;
  decltype(&::CancelIo) CancelIo = nullptr;
  decltype(&::CloseHandle) CloseHandle = nullptr;
};

// The table in force, or nullptr before HidAccess_Init (or when the system lacks an entry: then
// no device is ever found).
const HidApi* HidAccess_Api();

// The HID interfaces' device paths through table a, in SetupAPI's order (at most
// kHidMaxInterfaces).
std::vector<std::wstring> HidAccess_InterfacePaths(const HidApi& a);

// Takes every entry of the table from the library at path (loaded once, never unloaded). False,
// with the table unchanged, when it cannot be loaded or lacks an entry; *missing then names what.
bool HidAccess_UseApiLibrary(const std::wstring& path, std::string* missing = nullptr);

}  // namespace glimmerix
