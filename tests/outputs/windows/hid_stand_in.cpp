// A stand-in for the Windows HID API behind the program's table of calls (outputs/windows/
// hid_api.h): SetupAPI's interface listing, HidD_GetHidGuid, HidD_GetAttributes and
// HidD_GetProductString, and the file
// calls on device handles, exported under their Windows names (hid_stand_in.def). Devices are
// plugged, unplugged and held by the test through the StandIn_* functions, and every report taken
// is recorded.
//
// Device n's interface path is \\?\hid#standin#n. Handles are the stand-in's own (never passed to
// the system). A held device leaves writes pending (ERROR_IO_PENDING) until it is released, the
// write is cancelled, or the device is unplugged (the write then fails with
// ERROR_DEVICE_NOT_CONNECTED, as a real unplug mid-write does).
#include <windows.h>

#include <hidsdi.h>
#include <setupapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct Device {
  bool present = false;
  USHORT vendor = 0, product = 0, version = 0;
  bool refuse = false;  // opens for reading or writing fail with ERROR_ACCESS_DENIED
  bool hold = false;    // writes stay pending
  std::wstring name;    // the product string; none when empty
  std::vector<unsigned char> received;
};

struct Pending {
  OVERLAPPED* overlapped = nullptr;
  std::vector<unsigned char> bytes;
};

struct Handle {
  int device = 0;
  DWORD access = 0;
  DWORD share = 0;
  DWORD flags = 0;
  bool closed = false;
  std::unique_ptr<Pending> pending;
  DWORD result = 0;  // error of the last write that ended (0: taken)
  DWORD bytes = 0;
};

constexpr int kDevices = 8;
std::mutex mutex;  // guards everything below
Device devices[kDevices];
std::map<HANDLE, std::unique_ptr<Handle>> handles;
std::uintptr_t next_handle = 0x5000;
int closed_while_writing = 0;
DWORD last_write_share = 0;
DWORD last_write_flags = 0;

const GUID kHidClass = {
    0x4d1e55b2, 0xf16f, 0x11cf, {0x88, 0xcb, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

struct List {
  std::vector<int> devices;
};

Handle* Find(HANDLE h) {
  auto it = handles.find(h);
  return it == handles.end() || it->second->closed ? nullptr : it->second.get();
}

// Ends a pending write with error (0: taken).
// For a whole program run with the stand-in (GLIMMERIX_HID_RECORD names a file): every report
// taken is appended as one line of hex bytes, "0x00 0x01".
void RecordToFile(const std::vector<unsigned char>& bytes) {
  wchar_t path[MAX_PATH];
  const DWORD length = GetEnvironmentVariableW(L"GLIMMERIX_HID_RECORD", path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  std::string line;
  for (unsigned char b : bytes) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "%s0x%02X", line.empty() ? "" : " ", b);
    line += hex;
  }
  line += '\n';
  HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(file);
}

void Finish(Handle& h, DWORD error) {
  if (!h.pending) return;
  if (error == 0) {
    auto& d = devices[h.device].received;
    d.insert(d.end(), h.pending->bytes.begin(), h.pending->bytes.end());
    RecordToFile(h.pending->bytes);
    h.bytes = static_cast<DWORD>(h.pending->bytes.size());
  } else {
    h.bytes = 0;
  }
  h.result = error;
  SetEvent(h.pending->overlapped->hEvent);
  h.pending.reset();
}

void FinishAll(int device, DWORD error) {
  for (auto& [key, h] : handles)
    if (!h->closed && h->device == device) Finish(*h, error);
}

}  // namespace

extern "C" {

HDEVINFO WINAPI StandInSetupDiGetClassDevsW(const GUID* guid, PCWSTR, HWND, DWORD) {
  std::lock_guard lock(mutex);
  auto* list = new List;
  if (guid && IsEqualGUID(*guid, kHidClass))
    for (int n = 0; n < kDevices; ++n)
      if (devices[n].present) list->devices.push_back(n);
  return list;
}

BOOL WINAPI StandInSetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA, const GUID*,
                                               DWORD index, PSP_DEVICE_INTERFACE_DATA data) {
  auto* list = static_cast<List*>(set);
  if (index >= list->devices.size()) {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
  }
  data->Reserved = static_cast<ULONG_PTR>(list->devices[index]);
  return TRUE;
}

BOOL WINAPI StandInSetupDiGetDeviceInterfaceDetailW(HDEVINFO, PSP_DEVICE_INTERFACE_DATA data,
                                                    PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail,
                                                    DWORD size, PDWORD required, PSP_DEVINFO_DATA) {
  wchar_t path[64];
  std::swprintf(path, 64, L"\\\\?\\hid#standin#%d", static_cast<int>(data->Reserved));
  const DWORD needed = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) +
                                          (wcslen(path) + 1) * sizeof(wchar_t));
  if (required) *required = needed;
  if (!detail || size < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  wcscpy(detail->DevicePath, path);
  return TRUE;
}

BOOL WINAPI StandInSetupDiDestroyDeviceInfoList(HDEVINFO set) {
  delete static_cast<List*>(set);
  return TRUE;
}

void WINAPI StandInHidD_GetHidGuid(LPGUID guid) {
  *guid = kHidClass;
}

BOOLEAN WINAPI StandInHidD_GetAttributes(HANDLE handle, PHIDD_ATTRIBUTES attributes) {
  std::lock_guard lock(mutex);
  Handle* h = Find(handle);
  if (!h || !devices[h->device].present) return FALSE;
  const Device& d = devices[h->device];
  attributes->VendorID = d.vendor;
  attributes->ProductID = d.product;
  attributes->VersionNumber = d.version;
  return TRUE;
}

// As hid.dll does: the name with its terminator when it fits in size bytes, else cut short
// without one; FALSE when the device has no name.
BOOLEAN WINAPI StandInHidD_GetProductString(HANDLE handle, PVOID buffer, ULONG size) {
  std::lock_guard lock(mutex);
  Handle* h = Find(handle);
  if (!h || !devices[h->device].present || devices[h->device].name.empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::wstring& name = devices[h->device].name;
  const std::size_t bytes = std::min<std::size_t>((name.size() + 1) * sizeof(wchar_t), size);
  std::memcpy(buffer, name.c_str(), bytes);
  return TRUE;
}

HANDLE WINAPI StandInCreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES,
                                 DWORD, DWORD flags, HANDLE) {
  std::lock_guard lock(mutex);
  int n = -1;
  if (std::swscanf(path, L"\\\\?\\hid#standin#%d", &n) != 1 || n < 0 || n >= kDevices ||
      !devices[n].present) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  if (devices[n].refuse && (access & (GENERIC_READ | GENERIC_WRITE))) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  auto h = std::make_unique<Handle>();
  h->device = n;
  h->access = access;
  h->share = share;
  h->flags = flags;
  HANDLE key = reinterpret_cast<HANDLE>(next_handle += 4);
  handles[key] = std::move(h);
  return key;
}

BOOL WINAPI StandInWriteFile(HANDLE handle, LPCVOID buffer, DWORD length, LPDWORD written,
                             LPOVERLAPPED overlapped) {
  std::lock_guard lock(mutex);
  Handle* h = Find(handle);
  if (!h || !(h->access & GENERIC_WRITE)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  Device& d = devices[h->device];
  if (!d.present) {
    SetLastError(ERROR_DEVICE_NOT_CONNECTED);
    return FALSE;
  }
  if (!overlapped || !(h->flags & FILE_FLAG_OVERLAPPED) || h->pending) {
    SetLastError(ERROR_INVALID_PARAMETER);  // the program writes overlapped, one at a time
    return FALSE;
  }
  last_write_share = h->share;
  last_write_flags = h->flags;
  ResetEvent(overlapped->hEvent);
  h->pending = std::make_unique<Pending>();
  h->pending->overlapped = overlapped;
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  h->pending->bytes.assign(bytes, bytes + length);
  if (d.hold) {
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
  }
  Finish(*h, 0);
  if (written) *written = h->bytes;
  return TRUE;
}

BOOL WINAPI StandInGetOverlappedResult(HANDLE handle, LPOVERLAPPED overlapped, LPDWORD bytes,
                                       BOOL wait) {
  std::unique_lock lock(mutex);
  Handle* h = Find(handle);
  if (!h) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  while (h->pending) {
    if (!wait) {
      SetLastError(ERROR_IO_INCOMPLETE);
      return FALSE;
    }
    lock.unlock();
    WaitForSingleObject(overlapped->hEvent, INFINITE);
    lock.lock();
    h = Find(handle);
    if (!h) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
  }
  *bytes = h->bytes;
  if (h->result != 0) {
    SetLastError(h->result);
    return FALSE;
  }
  return TRUE;
}

BOOL WINAPI StandInCancelIo(HANDLE handle) {
  std::lock_guard lock(mutex);
  Handle* h = Find(handle);
  if (!h) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  Finish(*h, ERROR_OPERATION_ABORTED);
  return TRUE;
}

BOOL WINAPI StandInCloseHandle(HANDLE handle) {
  std::lock_guard lock(mutex);
  Handle* h = Find(handle);
  if (!h) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (h->pending) {
    ++closed_while_writing;
    Finish(*h, ERROR_OPERATION_ABORTED);
  }
  h->closed = true;
  return TRUE;
}

// --- the test's side ---

// A whole program run with the stand-in: GLIMMERIX_HID_STAND_IN_DEVICE ("vendor:product", hex)
// plugs device 0 as the library loads.
BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  char value[32];
  const DWORD length =
      GetEnvironmentVariableA("GLIMMERIX_HID_STAND_IN_DEVICE", value, sizeof value);
  unsigned vendor = 0, product = 0;
  if (length > 0 && length < sizeof value && std::sscanf(value, "%x:%x", &vendor, &product) == 2) {
    devices[0].present = true;
    devices[0].vendor = static_cast<USHORT>(vendor);
    devices[0].product = static_cast<USHORT>(product);
    devices[0].version = 1;
  }
  return TRUE;
}

// Back to no device and nothing recorded; handles still open are closed.
__declspec(dllexport) void StandIn_Reset() {
  std::lock_guard lock(mutex);
  for (auto& [key, h] : handles) {
    Finish(*h, ERROR_OPERATION_ABORTED);
    h->closed = true;
  }
  for (Device& d : devices) d = Device{};
  closed_while_writing = 0;
  last_write_share = last_write_flags = 0;
}

__declspec(dllexport) void StandIn_Plug(int n, int vendor, int product, int version) {
  std::lock_guard lock(mutex);
  devices[n].present = true;
  devices[n].vendor = static_cast<USHORT>(vendor);
  devices[n].product = static_cast<USHORT>(product);
  devices[n].version = static_cast<USHORT>(version);
}

// Device n's product string (UTF-16); empty: it has none.
__declspec(dllexport) void StandIn_Name(int n, const wchar_t* name) {
  std::lock_guard lock(mutex);
  devices[n].name = name;
}

__declspec(dllexport) void StandIn_Unplug(int n) {
  std::lock_guard lock(mutex);
  devices[n].present = false;
  FinishAll(n, ERROR_DEVICE_NOT_CONNECTED);
}

__declspec(dllexport) void StandIn_Refuse(int n, int refuse) {
  std::lock_guard lock(mutex);
  devices[n].refuse = refuse != 0;
}

// Holds writes (hold != 0), or takes the held ones and every later one.
__declspec(dllexport) void StandIn_Hold(int n, int hold) {
  std::lock_guard lock(mutex);
  devices[n].hold = hold != 0;
  if (!hold) FinishAll(n, 0);
}

// Copies the bytes device n has taken so far (at most size) and returns how many it has taken.
__declspec(dllexport) int StandIn_Received(int n, unsigned char* out, int size) {
  std::lock_guard lock(mutex);
  const auto& r = devices[n].received;
  for (int i = 0; i < size && i < static_cast<int>(r.size()); ++i) out[i] = r[i];
  return static_cast<int>(r.size());
}

// Writes waiting on held devices.
__declspec(dllexport) int StandIn_PendingWrites() {
  std::lock_guard lock(mutex);
  int count = 0;
  for (auto& [key, h] : handles)
    if (!h->closed && h->pending) ++count;
  return count;
}

__declspec(dllexport) int StandIn_OpenHandles() {
  std::lock_guard lock(mutex);
  int count = 0;
  for (auto& [key, h] : handles)
    if (!h->closed) ++count;
  return count;
}

// Handles closed with a write still pending on them.
__declspec(dllexport) int StandIn_ClosedWhileWriting() {
  std::lock_guard lock(mutex);
  return closed_while_writing;
}

// Share mode and flags of the handle the last write went through.
__declspec(dllexport) unsigned StandIn_LastWriteShare() {
  std::lock_guard lock(mutex);
  return last_write_share;
}
__declspec(dllexport) unsigned StandIn_LastWriteFlags() {
  std::lock_guard lock(mutex);
  return last_write_flags;
}

}  // extern "C"
