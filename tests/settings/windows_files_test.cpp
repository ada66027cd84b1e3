// The settings store on a Windows file system: read-only and locked files, names in the ANSI
// code page, and the temporary files of saves cut short.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "settings/settings_store.h"
#include "tests/support/temp_folder.h"

namespace glimmerix {
namespace {

using testing::TempFolder;

class WindowsSettingsFile : public ::testing::Test {
 protected:
  std::wstring Wide(const std::string& name) const {
    return std::filesystem::path(folder / name).wstring();
  }
  TempFolder folder;
  SettingsStore store{folder.path()};
};

TEST_F(WindowsSettingsFile, SaveReplacesTheFileAndLeavesNothingElse) {
  folder.Put("setting.dat", "; mine\r\nfr1 = 3\r\n[Extra]\r\nx = 1\r\n");
  ASSERT_TRUE(store.Open("setting.dat"));
  store.WriteNumber("fr1", 7);
  store.WriteText("Preset", "Disco");
  ASSERT_TRUE(store.Close());
  EXPECT_EQ(folder.Take("setting.dat"),
            "; mine\r\nfr1 = 7\r\nPreset = Disco\r\n[Extra]\r\nx = 1\r\n");
  // A hidden file keeps its attribute through the save.
  ASSERT_TRUE(SetFileAttributesW(Wide("setting.dat").c_str(), FILE_ATTRIBUTE_HIDDEN));
  ASSERT_TRUE(store.Open("setting.dat"));
  store.WriteNumber("fr1", 8);
  ASSERT_TRUE(store.Close());
  EXPECT_EQ(folder.Take("setting.dat"),
            "; mine\r\nfr1 = 8\r\nPreset = Disco\r\n[Extra]\r\nx = 1\r\n");
  EXPECT_TRUE(GetFileAttributesW(Wide("setting.dat").c_str()) & FILE_ATTRIBUTE_HIDDEN);
  EXPECT_EQ(folder.Count(), 1);
}

TEST_F(WindowsSettingsFile, ReadOnlyFilesAreReadButLeftAlone) {
  folder.Put("setting.dat", "fr1 = 3\r\n");
  ASSERT_TRUE(SetFileAttributesW(Wide("setting.dat").c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(store.Open("setting.dat"));
  EXPECT_EQ(store.ReadNumber("fr1"), 3);
  store.WriteNumber("fr1", 9);
  EXPECT_FALSE(store.Close());
  SetFileAttributesW(Wide("setting.dat").c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(folder.Take("setting.dat"), "fr1 = 3\r\n");
  EXPECT_EQ(folder.Count(), 1);
}

// Another program holding the file without sharing it: it cannot be read, so it is not replaced
// by a file made of the writes alone once it is free again.
TEST_F(WindowsSettingsFile, FileThatCannotBeReadIsNeverOverwritten) {
  folder.Put("setting.dat", "fr1 = 3\r\nPreset = Mine\r\n");
  const HANDLE holder = CreateFileW(Wide("setting.dat").c_str(), GENERIC_READ, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(store.Open("setting.dat"));
  CloseHandle(holder);
  store.WriteNumber("fr1", 9);
  EXPECT_FALSE(store.Close());
  EXPECT_EQ(folder.Take("setting.dat"), "fr1 = 3\r\nPreset = Mine\r\n");
  EXPECT_EQ(folder.Count(), 1);
}

// Another program reading the file and letting others read and write, but not replace it: the
// save fails and leaves neither a changed file nor its temporary file.
TEST_F(WindowsSettingsFile, FileHeldOpenWithoutDeleteSharingKeepsItsContent) {
  folder.Put("setting.dat", "fr1 = 3\r\n");
  const HANDLE holder =
      CreateFileW(Wide("setting.dat").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(store.Open("setting.dat"));
  store.WriteNumber("fr1", 9);
  EXPECT_FALSE(store.Close());
  CloseHandle(holder);
  EXPECT_EQ(folder.Take("setting.dat"), "fr1 = 3\r\n");
  EXPECT_EQ(folder.Count(), 1);
}

TEST_F(WindowsSettingsFile, NamesWithBackslashOrColonNameNoFile) {
  std::filesystem::create_directory(folder / "sub");
  for (const char* name : {"sub\\setting.dat", "..\\setting.dat", "C:setting.dat", "x:stream"}) {
    EXPECT_FALSE(store.Open(name)) << name;
    store.WriteNumber("a", 1);
    EXPECT_TRUE(store.Close()) << name;
  }
  EXPECT_EQ(folder.Count(), 1);
  EXPECT_TRUE(std::filesystem::is_empty(folder / "sub"));
}

// Byte names are the ANSI code page's: "\xE9" is "é" where that code page is Windows-1252.
TEST_F(WindowsSettingsFile, NamesAreTakenInTheAnsiCodePage) {
  if (GetACP() != 1252) GTEST_SKIP() << "SKIPPED LOUDLY: the ANSI code page is " << GetACP();
  store.Open("\xE9t\xE9.patt");
  store.WriteNumber("Effect", 2);
  ASSERT_TRUE(store.Close());
  EXPECT_TRUE(
      std::filesystem::exists(std::filesystem::path(folder.path()) / L"\u00E9t\u00E9.patt"));
  ASSERT_TRUE(store.Open("\xC9T\xC9.PATT"));  // the same file, in any letter case
  EXPECT_EQ(store.ReadNumber("Effect"), 2);
}

// Runs cmd.exe: suspended (alive until terminated) or to its end.
PROCESS_INFORMATION StartCmd(bool wait_for_end) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  wchar_t command[] = L"cmd.exe /c exit 0";
  if (!CreateProcessW(nullptr, command, nullptr, nullptr, FALSE,
                      wait_for_end ? 0 : CREATE_SUSPENDED, nullptr, nullptr, &startup, &process)) {
    return PROCESS_INFORMATION{};
  }
  if (wait_for_end) WaitForSingleObject(process.hProcess, INFINITE);
  return process;
}

TEST_F(WindowsSettingsFile, OnlyTemporaryFilesOfEndedProcessesAreRemoved) {
  const PROCESS_INFORMATION ended = StartCmd(true);
  const PROCESS_INFORMATION running = StartCmd(false);
  ASSERT_NE(ended.dwProcessId, 0u);
  ASSERT_NE(running.dwProcessId, 0u);
  CloseHandle(ended.hThread);
  CloseHandle(ended.hProcess);  // its id is free from here on
  const std::string dead = std::to_string(ended.dwProcessId);
  const std::string alive = std::to_string(running.dwProcessId);
  const std::string own = std::to_string(GetCurrentProcessId());
  folder.Put(".glimmerix-" + dead + "-0-12.tmp", "x");
  folder.Put(".glimmerix-" + dead + "-1-12.tmp", "x");
  folder.Put(".glimmerix-" + alive + "-0-12.tmp", "x");
  folder.Put(".glimmerix-" + own + "-0-12.tmp", "x");
  folder.Put(".glimmerix-" + dead + "-0.tmp", "x");  // not a save's name
  folder.Put("setting.dat", "x");
  std::filesystem::create_directory(folder / (".glimmerix-" + dead + "-2-12.tmp"));
  ASSERT_TRUE(SetFileAttributesW(Wide(".glimmerix-" + dead + "-1-12.tmp").c_str(),
                                 FILE_ATTRIBUTE_READONLY));

  EXPECT_EQ(RemoveStaleSaveFiles(folder.path()), 1);
  EXPECT_FALSE(folder.Has(".glimmerix-" + dead + "-0-12.tmp"));
  EXPECT_EQ(folder.Count(), 6);

  TerminateProcess(running.hProcess, 0);
  WaitForSingleObject(running.hProcess, INFINITE);
  CloseHandle(running.hThread);
  CloseHandle(running.hProcess);
  EXPECT_EQ(RemoveStaleSaveFiles(folder.path()), 1);
  EXPECT_FALSE(folder.Has(".glimmerix-" + alive + "-0-12.tmp"));
  SetFileAttributesW(Wide(".glimmerix-" + dead + "-1-12.tmp").c_str(), FILE_ATTRIBUTE_NORMAL);
}

}  // namespace
}  // namespace glimmerix
