// send_to_program.exe: plays the system's messages to the running glimmerix.exe's main window.
//   close        the close box: WM_SYSCOMMAND SC_CLOSE (which becomes WM_CLOSE)
//   end-session  logoff: WM_QUERYENDSESSION, then WM_ENDSESSION with TRUE
// Exit code 0 when the messages were taken, 1 when there is no such window or a send failed,
// 2 for an unknown argument.
#include <windows.h>

#include <cstring>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  HWND window = FindWindowW(L"GlimmerixMain", nullptr);
  if (!window) return 1;
  DWORD_PTR answer = 0;
  if (std::strcmp(argv[1], "close") == 0)
    return SendMessageTimeoutW(window, WM_SYSCOMMAND, SC_CLOSE, 0, SMTO_ABORTIFHUNG, 10000, &answer)
               ? 0
               : 1;
  if (std::strcmp(argv[1], "end-session") != 0) return 2;
  if (!SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG,
                           10000, &answer) ||
      answer == FALSE)
    return 1;
  if (!SendMessageTimeoutW(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, 10000,
                           &answer))
    return 1;
  return 0;
}
