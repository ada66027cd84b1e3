// The single instance across processes under Wine: this test program and instance_probe.exe
// (beside it) take the semaphore in turn.
#include "app/win32/single_instance.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace glimmerix::win32 {
namespace {

// Starts instance_probe.exe (beside this program) with the argument; false when it did not start.
bool StartProbe(const std::wstring& argument, PROCESS_INFORMATION& process) {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  folder = folder.substr(0, folder.find_last_of(L"\\/") + 1);
  std::wstring line = L"\"" + folder + L"instance_probe.exe\" " + argument;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  return CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process);
}

// Runs the probe and returns its exit code, or -1 when it did not run or end within 20 s.
int RunProbe(const std::wstring& argument = {}) {
  PROCESS_INFORMATION process{};
  if (!StartProbe(argument, process)) return -1;
  DWORD code = static_cast<DWORD>(-1);
  if (WaitForSingleObject(process.hProcess, 20000) == WAIT_OBJECT_0)
    GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return static_cast<int>(code);
}

TEST(SingleInstanceWin32, ASecondProcessFindsTheFirstAndRunsOnceTheFirstHasEnded) {
  ASSERT_EQ(RunProbe(), 0) << "nobody holds the instance: the probe is first";
  {
    std::optional<SingleInstance> first(std::in_place);
    ASSERT_EQ(first->state(), SingleInstance::State::kFirst) << first->error();
    EXPECT_EQ(RunProbe(), 1) << "another process holds it";
    SingleInstance again;  // the same process starting twice counts as a second start too
    EXPECT_FALSE(again.first());
  }
  EXPECT_EQ(RunProbe(), 0) << "released when its holder ends";
}

TEST(SingleInstanceWin32, AHolderThatEndsWithoutCleaningUpReleasesIt) {
  // The probe holds the instance for 1.5 s and then ends; meanwhile this process is second.
  PROCESS_INFORMATION holder{};
  ASSERT_TRUE(StartProbe(L"1500", holder));
  // Until the probe has made the semaphore this process would be first: wait for it.
  bool seen = false;
  for (int i = 0; i < 100 && !seen; ++i) {
    seen = !SingleInstance().first();
    if (!seen) Sleep(10);
  }
  EXPECT_TRUE(seen) << "the holding probe is seen";
  TerminateProcess(holder.hProcess, 9);  // no destructor runs
  WaitForSingleObject(holder.hProcess, 20000);
  CloseHandle(holder.hProcess);
  CloseHandle(holder.hThread);
  EXPECT_TRUE(SingleInstance().first());
}

}  // namespace
}  // namespace glimmerix::win32
