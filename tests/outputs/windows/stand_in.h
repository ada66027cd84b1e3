// The tests' handle on hid_stand_in.dll (beside the test program): loaded by its path, put behind
// the HID layer's table of calls, reset to no device, and its StandIn_* controls.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "outputs/windows/hid_api.h"

namespace glimmerix::testing {

inline constexpr int kVid = 0x1209;
inline constexpr int kPid = 0xC0DE;

// The folder of the running test program, with a trailing backslash.
inline std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}

class HidStandIn {
 public:
  HidStandIn() {
    const std::wstring path = ProgramFolder() + L"hid_stand_in.dll";
    module_ = LoadLibraryW(path.c_str());
    if (!module_) throw std::runtime_error("hid_stand_in.dll is not beside the test program");
    std::string missing;
    if (!HidAccess_UseApiLibrary(path, &missing))
      throw std::runtime_error("the stand-in lacks " + missing);
    Take(reset_, "StandIn_Reset");
    Take(plug_, "StandIn_Plug");
    Take(name_, "StandIn_Name");
    Take(unplug_, "StandIn_Unplug");
    Take(refuse_, "StandIn_Refuse");
    Take(hold_, "StandIn_Hold");
    Take(received_, "StandIn_Received");
    Take(pending_, "StandIn_PendingWrites");
    Take(open_handles_, "StandIn_OpenHandles");
    Take(closed_while_writing_, "StandIn_ClosedWhileWriting");
    Take(last_share_, "StandIn_LastWriteShare");
    Take(last_flags_, "StandIn_LastWriteFlags");
    reset_();
  }
  ~HidStandIn() { reset_(); }

  void Plug(int n, int vendor = kVid, int product = kPid, int version = 0x100) {
    plug_(n, vendor, product, version);
  }
  void Name(int n, const std::wstring& name) { name_(n, name.c_str()); }
  void Unplug(int n) { unplug_(n); }
  void Refuse(int n, bool refuse) { refuse_(n, refuse); }
  void Hold(int n, bool hold) { hold_(n, hold); }
  std::vector<unsigned char> Received(int n) {
    std::vector<unsigned char> bytes(256);
    bytes.resize(static_cast<std::size_t>(received_(n, bytes.data(), 256)));
    return bytes;
  }
  int PendingWrites() { return pending_(); }
  int OpenHandles() { return open_handles_(); }
  int ClosedWhileWriting() { return closed_while_writing_(); }
  unsigned LastWriteShare() { return last_share_(); }
  unsigned LastWriteFlags() { return last_flags_(); }

  // Waits (at most 5 s) until count writes are pending.
  bool WaitPending(int count) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (PendingWrites() != count) {
      if (std::chrono::steady_clock::now() > until) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }

 private:
  template <class F>
  void Take(F*& entry, const char* name) {
    entry = reinterpret_cast<F*>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
    if (!entry) throw std::runtime_error(std::string("the stand-in lacks ") + name);
  }

  HMODULE module_ = nullptr;
  void (*reset_)() = nullptr;
  void (*plug_)(int, int, int, int) = nullptr;
  void (*name_)(int, const wchar_t*) = nullptr;
  void (*unplug_)(int) = nullptr;
  void (*refuse_)(int, int) = nullptr;
  void (*hold_)(int, int) = nullptr;
  int (*received_)(int, unsigned char*, int) = nullptr;
  int (*pending_)() = nullptr;
  int (*open_handles_)() = nullptr;
  int (*closed_while_writing_)() = nullptr;
  unsigned (*last_share_)() = nullptr;
  unsigned (*last_flags_)() = nullptr;
};

}  // namespace glimmerix::testing
