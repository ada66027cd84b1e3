// console_ctrl_c.exe PROGRAM GO_FILE: the user's Ctrl+C in the console a program was started
// from. Starts PROGRAM (which attaches to this console), waits up to 60 s for GO_FILE to exist,
// then sends Ctrl+C to every process of the console (ignoring it itself) and waits up to 20 s for
// PROGRAM to end. Exit code: PROGRAM's, or 101 when it could not be started, 102 when the event
// could not be sent (no console: run this under a terminal), 103 when PROGRAM still runs.
#include <windows.h>

#include <string>

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 2;
  std::wstring command_line = L"\"" + std::wstring(argv[1]) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION program{};
  if (!CreateProcessW(argv[1], command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &program))
    return 101;
  for (int i = 0; i < 600 && GetFileAttributesW(argv[2]) == INVALID_FILE_ATTRIBUTES; ++i)
    Sleep(100);
  SetConsoleCtrlHandler(nullptr, TRUE);
  if (!GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) return 102;
  if (WaitForSingleObject(program.hProcess, 20000) != WAIT_OBJECT_0) return 103;
  DWORD code = 0;
  GetExitCodeProcess(program.hProcess, &code);
  return static_cast<int>(code);
}
