// A stand-in for inpoutx64.dll, for tests: every Out32 call appends one line "0xAAA 0xVV"
// (address, value; hex, 16-bit) to the file named by GLIMMERIX_LPT_RECORD. Without that variable
// the call does nothing. Each line is appended with one WriteFile on a file opened for appending,
// so lines from concurrent callers never interleave.
#include <windows.h>

#include <cstdio>

extern "C" __declspec(dllexport) void Out32(short address, short value) {
  wchar_t path[MAX_PATH];
  const DWORD length = GetEnvironmentVariableW(L"GLIMMERIX_LPT_RECORD", path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  char line[32];
  const int size =
      std::snprintf(line, sizeof line, "0x%03X 0x%02X\n", static_cast<unsigned short>(address),
                    static_cast<unsigned short>(value));
  HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, line, static_cast<DWORD>(size), &written, nullptr);
  CloseHandle(file);
}
