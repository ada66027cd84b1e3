#include <windows.h>

#include <cstdio>

#include "outputs/hid_access.h"
#include "outputs/hid_devices.h"
#include "outputs/windows/hid_api.h"
#include "outputs/windows/text.h"

namespace glimmerix {

std::vector<HidDeviceInfo> ListHidDevices() {
  HidAccess_Init();
  std::vector<HidDeviceInfo> devices;
  const HidApi* a = HidAccess_Api();
  if (!a) return devices;
  int number = 0;
  for (const std::wstring& path : HidAccess_InterfacePaths(*a)) {
    HidDeviceInfo d;
    d.number = number++;
    d.node = Utf8(path);
    // Identifiers and name through a handle that asks for no access, which the system grants
    // also where another program holds the device.
    HANDLE query = a->CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
    if (query != INVALID_HANDLE_VALUE) {
      HIDD_ATTRIBUTES attributes{};
      attributes.Size = sizeof attributes;
      if (a->HidD_GetAttributes(query, &attributes)) {
        d.has_ids = true;
        d.vendor = attributes.VendorID;
        d.product = attributes.ProductID;
      }
      // USB allows 126 characters; the terminator is not written when the name fills the buffer.
      wchar_t name[128] = {};
      if (a->HidD_GetProductString(query, name, sizeof name - sizeof name[0])) d.name = Utf8(name);
      a->CloseHandle(query);
    }
    HANDLE handle = a->CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_OVERLAPPED, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      d.can_open = true;
      a->CloseHandle(handle);
    } else {
      d.reason = SystemErrorText(GetLastError());
    }
    devices.push_back(std::move(d));
  }
  return devices;
}

std::string UdevRuleLine(unsigned, unsigned) {
  return {};  // Windows lets every user open a HID device that no other program holds
}

std::string HidAccess_PermissionAdvice(int vendor, int product) {
  char ids[32];
  std::snprintf(ids, sizeof ids, "%04X:%04X", static_cast<unsigned>(vendor) & 0xFFFF,
                static_cast<unsigned>(product) & 0xFFFF);
  return std::string("Windows lets no program write to the controller ") + ids +
         " while another holds it for itself. Close the other program that uses the controller, "
         "then unplug it and plug it in again.";
}

}  // namespace glimmerix
