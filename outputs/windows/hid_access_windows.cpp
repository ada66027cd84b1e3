#include <windows.h>

#include <atomic>
#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "outputs/hid_access.h"
#include "outputs/windows/hid_api.h"
#include "outputs/windows/text.h"

namespace glimmerix {
namespace {

std::atomic<const HidApi*> api{nullptr};

// Fills every entry of table from the modules, each name looked up in the first module that has
// it. False (and *missing names it) when one is found in none.
bool Fill(HidApi& table, const std::vector<HMODULE>& modules, std::string* missing) {
  bool complete = true;
  auto take = [&](auto& entry, const char* name) {
    for (HMODULE module : modules) {
      if (!module) continue;
      if (FARPROC found = GetProcAddress(module, name)) {
        entry = reinterpret_cast<std::remove_reference_t<decltype(entry)>>(
            reinterpret_cast<void*>(found));
        return;
      }
    }
    if (complete && missing) *missing = name;
    complete = false;
  };
  take(table.SetupDiGetClassDevsW, "SetupDiGetClassDevsW");
  take(table.SetupDiEnumDeviceInterfaces, "SetupDiEnumDeviceInterfaces");
  take(table.SetupDiGetDeviceInterfaceDetailW, "SetupDiGetDeviceInterfaceDetailW");
  take(table.SetupDiDestroyDeviceInfoList, "SetupDiDestroyDeviceInfoList");
  take(table.HidD_GetHidGuid, "HidD_GetHidGuid");
  take(table.HidD_GetAttributes, "HidD_GetAttributes");
  take(table.HidD_GetProductString, "HidD_GetProductString");
  take(table.CreateFileW, "CreateFileW");
  take(table.WriteFile, "WriteFile");
  take(table.GetOverlappedResult, "GetOverlappedResult");
  take(table.CancelIo, "CancelIo");
  take(table.CloseHandle, "CloseHandle");
  return complete;
}

HANDLE ToHandle(HidHandle handle) {
  return reinterpret_cast<HANDLE>(handle);
}

bool Matches(const HIDD_ATTRIBUTES& attributes, int product, int vendor, int version) {
  const unsigned wanted_version = static_cast<unsigned>(version) & 0xFFFF;
  return attributes.VendorID == (static_cast<unsigned>(vendor) & 0xFFFF) &&
         attributes.ProductID == (static_cast<unsigned>(product) & 0xFFFF) &&
         (wanted_version == 0xFFFF || attributes.VersionNumber == wanted_version);
}

// Whether the interface at path is the wanted device, read through a handle that asks for no
// access (which the system grants even where it refuses reading and writing).
bool IsWanted(const HidApi& a, const std::wstring& path, int product, int vendor, int version) {
  HANDLE query = a.CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
  if (query == INVALID_HANDLE_VALUE) return false;
  HIDD_ATTRIBUTES attributes{};
  attributes.Size = sizeof attributes;
  const bool wanted =
      a.HidD_GetAttributes(query, &attributes) && Matches(attributes, product, vendor, version);
  a.CloseHandle(query);
  return wanted;
}

// The errno value the controller acts on for a failed write's system error.
int WriteErrno(DWORD error) {
  switch (error) {
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_GEN_FAILURE:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_BAD_COMMAND:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_INVALID_HANDLE:
      return ENODEV;
    case ERROR_ACCESS_DENIED:
      return EACCES;
    default:
      return EIO;
  }
}

}  // namespace

std::vector<std::wstring> HidAccess_InterfacePaths(const HidApi& a) {
  std::vector<std::wstring> paths;
  GUID hid_class;
  a.HidD_GetHidGuid(&hid_class);
  HDEVINFO set =
      a.SetupDiGetClassDevsW(&hid_class, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return paths;
  for (DWORD i = 0; i < kHidMaxInterfaces; ++i) {
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    if (!a.SetupDiEnumDeviceInterfaces(set, nullptr, &hid_class, i, &data)) break;
    DWORD required = 0;
    a.SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &required, nullptr);
    if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) continue;
    std::vector<std::uint8_t> buffer(required);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (!a.SetupDiGetDeviceInterfaceDetailW(set, &data, detail, required, nullptr, nullptr))
      continue;
    // The path runs to the end of the buffer unless terminated earlier.
    const std::size_t chars =
        (required - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) / sizeof(wchar_t);
    std::wstring path(detail->DevicePath, chars);
    path.resize(wcsnlen(path.c_str(), chars));
    paths.push_back(std::move(path));
  }
  a.SetupDiDestroyDeviceInfoList(set);
  return paths;
}

const HidApi* HidAccess_Api() {
  return api.load();
}

bool HidAccess_UseApiLibrary(const std::wstring& path, std::string* missing) {
  HMODULE module = LoadLibraryW(path.c_str());
  if (!module) {
    if (missing) *missing = Utf8(path) + ": " + SystemErrorText(GetLastError());
    return false;
  }
  auto table = std::make_unique<HidApi>();
  if (!Fill(*table, {module}, missing)) return false;
  api.store(table.release());  // kept for good: a writer may still hold the old one
  return true;
}

void HidAccess_Init() {
  if (api.load()) return;
  // Only the system's own copies, never one in the program's or the current folder.
  const std::vector<HMODULE> modules = {
      LoadLibraryExW(L"setupapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32),
      LoadLibraryExW(L"hid.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32),
      GetModuleHandleW(L"kernel32.dll")};
  auto table = std::make_unique<HidApi>();
  if (Fill(*table, modules, nullptr)) api.store(table.release());
}

int HidAccess_DeviceExists(int product, int vendor, int version, int index) {
  const HidApi* a = api.load();
  if (!a || index < 0) return 0;
  int found = 0;
  for (const std::wstring& path : HidAccess_InterfacePaths(*a)) {
    if (!IsWanted(*a, path, product, vendor, version)) continue;
    if (found++ == index) return 1;
  }
  return 0;
}

HidHandle HidAccess_OpenDevice(int product, int vendor, int version, int index,
                               HidOpenFailure* failure, std::string* node) {
  const HidApi* a = api.load();
  if (!a || index < 0) return 0;
  int opened = 0;
  bool failed = false;
  HidOpenFailure last;
  for (const std::wstring& path : HidAccess_InterfacePaths(*a)) {
    if (!IsWanted(*a, path, product, vendor, version)) continue;
    HANDLE handle = a->CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      failed = true;
      last.node = Utf8(path);
      last.reason = SystemErrorText(error);
      last.error = static_cast<int>(error);
      last.access_denied = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
      continue;
    }
    if (opened++ != index) {
      a->CloseHandle(handle);
      continue;
    }
    if (node) *node = Utf8(path);
    return reinterpret_cast<HidHandle>(handle);
  }
  if (failed && failure) *failure = last;
  return 0;
}

int HidAccess_Write(HidHandle handle, const void* buffer, int length, int* error, int wait_ms) {
  if (error) *error = 0;
  const HidApi* a = api.load();
  if (!a || handle == 0 || !buffer || length <= 0) return 0;
  HANDLE device = ToHandle(handle);
  OVERLAPPED overlapped{};
  overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!overlapped.hEvent) {
    if (error) *error = ENOMEM;
    return 0;
  }
  DWORD written = 0;
  DWORD failure = 0;
  if (!a->WriteFile(device, buffer, static_cast<DWORD>(length), nullptr, &overlapped)) {
    failure = GetLastError();
    if (failure == ERROR_IO_PENDING) {
      failure = 0;
      const DWORD waited =
          WaitForSingleObject(overlapped.hEvent, wait_ms < 0 ? INFINITE : DWORD(wait_ms));
      if (waited != WAIT_OBJECT_0) a->CancelIo(device);
      // After a cancel the write has ended either way once this returns: taken just in time, or
      // aborted.
      if (!a->GetOverlappedResult(device, &overlapped, &written, TRUE)) {
        failure = GetLastError();
        if (failure == ERROR_OPERATION_ABORTED && waited != WAIT_OBJECT_0) {
          CloseHandle(overlapped.hEvent);
          if (error) *error = ETIMEDOUT;
          return 0;
        }
      }
    }
  } else if (!a->GetOverlappedResult(device, &overlapped, &written, FALSE)) {
    failure = GetLastError();
  }
  CloseHandle(overlapped.hEvent);
  if (failure != 0) {
    if (error) *error = WriteErrno(failure);
    return 0;
  }
  return static_cast<int>(written);
}

int HidAccess_Close(HidHandle handle) {
  if (handle == 0) return 0;
  const HidApi* a = api.load();
  if (!a) return -1;
  return a->CloseHandle(ToHandle(handle)) ? 0 : -1;
}

}  // namespace glimmerix
