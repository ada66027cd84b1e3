// send_to_program.exe: plays the system's and the user's messages to the running glimmerix.exe.
//   close              the close box: WM_SYSCOMMAND SC_CLOSE (which becomes WM_CLOSE)
//   end-session        logoff: WM_QUERYENDSESSION, then WM_ENDSESSION with TRUE
//   menu N             the tray menu's command N (MenuCommand's value), as chosen from the menu
//   viewer TITLE       prints the viewers titled TITLE ("windows=N") and, for the first, its
//                      client size ("client=WxH"), its document area's text length ("length=L")
//                      and text (the rest of the output)
//   viewer-escape TITLE  Escape pressed in the viewer's document area
//   viewer-ok TITLE      the viewer's "OK" clicked
//   viewer-close TITLE   the viewer's close request (WM_CLOSE)
//   viewer-move TITLE X Y  the viewer's frame moved to X, Y
//   controller         prints the "Controller" window's device rows (the cells tab-separated)
//                      and the line saying what the program looks for
//   controller-click CAPTION  the "Controller" window's button CAPTION clicked (with its "&"),
//                      when enabled
//   minimise           the minimise box: WM_SYSCOMMAND SC_MINIMIZE
//   taskbar-created    the taskbar's "TaskbarCreated", broadcast as Explorer does when it starts
//   tray-delete        the program's tray icon deleted (NIM_DELETE), as a taskbar that ends does
// Exit code 0 when the messages were taken, 1 when there is no such window or a send failed,
// 2 for an unknown argument.
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr UINT kTimeoutMs = 10000;

struct Search {
  std::wstring title;
  std::vector<HWND> found;
};

BOOL CALLBACK AddViewer(HWND window, LPARAM l) {
  auto* search = reinterpret_cast<Search*>(l);
  wchar_t name[64] = {};
  wchar_t title[256] = {};
  GetClassNameW(window, name, 64);
  GetWindowTextW(window, title, 256);
  if (std::wcscmp(name, L"GlimmerixViewer") == 0 && search->title == title)
    search->found.push_back(window);
  return TRUE;
}

std::vector<HWND> Viewers(const char* title) {
  Search search;
  for (const char* c = title; *c; ++c) search.title.push_back(static_cast<wchar_t>(*c));
  EnumWindows(AddViewer, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::string Utf8(const wchar_t* text) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string utf8(n > 0 ? n - 1 : 0, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), n, nullptr, nullptr);
  return utf8;
}

int PrintViewer(const char* title) {
  const std::vector<HWND> viewers = Viewers(title);
  std::printf("windows=%zu\n", viewers.size());
  if (viewers.empty()) return 1;
  RECT client{};
  GetClientRect(viewers[0], &client);
  std::printf("client=%ldx%ld\n", client.right, client.bottom);
  HWND area = FindWindowExW(viewers[0], nullptr, L"RICHEDIT50W", nullptr);
  if (!area) return 1;
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(area, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kTimeoutMs, &length))
    return 1;
  std::printf("length=%zu\n", static_cast<std::size_t>(length));
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(area, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                      SMTO_ABORTIFHUNG, kTimeoutMs, &copied);
  text.resize(copied);
  std::printf("%s\n", Utf8(text.c_str()).c_str());
  return 0;
}

int ToViewer(const char* command, const char* title, char** rest) {
  const std::vector<HWND> viewers = Viewers(title);
  if (viewers.empty()) return 1;
  HWND viewer = viewers[0];
  if (std::strcmp(command, "viewer-escape") == 0) {
    HWND area = FindWindowExW(viewer, nullptr, L"RICHEDIT50W", nullptr);
    return area && PostMessageW(area, WM_KEYDOWN, VK_ESCAPE, 1) ? 0 : 1;
  }
  if (std::strcmp(command, "viewer-ok") == 0) {
    HWND ok = FindWindowExW(viewer, nullptr, L"BUTTON", L"OK");
    DWORD_PTR answer = 0;
    return ok && SendMessageTimeoutW(ok, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, kTimeoutMs, &answer) ? 0
                                                                                                : 1;
  }
  if (std::strcmp(command, "viewer-close") == 0)
    return PostMessageW(viewer, WM_CLOSE, 0, 0) ? 0 : 1;
  if (std::strcmp(command, "viewer-move") == 0 && rest[0] && rest[1])
    return SetWindowPos(viewer, nullptr, std::atoi(rest[0]), std::atoi(rest[1]), 0, 0,
                        SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE)
               ? 0
               : 1;
  return 2;
}

// The list view's cells live in the program's memory: they are read through a buffer there.
int PrintController() {
  HWND window = FindWindowW(L"GlimmerixController", nullptr);
  if (!window || !IsWindowVisible(window)) return 1;
  HWND list = FindWindowExW(window, nullptr, WC_LISTVIEWW, nullptr);
  DWORD process_id = 0;
  GetWindowThreadProcessId(window, &process_id);
  HANDLE process =
      OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, process_id);
  if (!list || !process) return 1;
  constexpr int kTextChars = 512;
  auto* remote = static_cast<char*>(VirtualAllocEx(process, nullptr,
                                                   sizeof(LVITEMW) + kTextChars * sizeof(wchar_t),
                                                   MEM_COMMIT, PAGE_READWRITE));
  const LRESULT rows = SendMessageW(list, LVM_GETITEMCOUNT, 0, 0);
  for (int row = 0; row < rows; ++row) {
    std::string line;
    for (int cell = 0; cell < 5; ++cell) {
      LVITEMW item{};
      item.iSubItem = cell;
      item.pszText = reinterpret_cast<wchar_t*>(remote + sizeof(LVITEMW));
      item.cchTextMax = kTextChars;
      WriteProcessMemory(process, remote, &item, sizeof item, nullptr);
      SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(remote));
      wchar_t text[kTextChars] = {};
      ReadProcessMemory(process, remote + sizeof(LVITEMW), text, sizeof text - sizeof(wchar_t),
                        nullptr);
      line += (cell ? "\t" : "") + Utf8(text);
    }
    std::printf("%s\n", line.c_str());
  }
  VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  CloseHandle(process);
  for (HWND c = FindWindowExW(window, nullptr, L"STATIC", nullptr); c;
       c = FindWindowExW(window, c, L"STATIC", nullptr)) {
    wchar_t text[256] = {};
    GetWindowTextW(c, text, 256);
    std::printf("%s\n", Utf8(text).c_str());
  }
  return 0;
}

int ClickControllerButton(const char* caption) {
  HWND window = FindWindowW(L"GlimmerixController", nullptr);
  std::wstring wide;
  for (const char* c = caption; *c; ++c) wide.push_back(static_cast<wchar_t>(*c));
  HWND button = window ? FindWindowExW(window, nullptr, L"BUTTON", wide.c_str()) : nullptr;
  DWORD_PTR answer = 0;
  return button && IsWindowEnabled(button) &&
                 SendMessageTimeoutW(button, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, kTimeoutMs, &answer)
             ? 0
             : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  if (std::strcmp(argv[1], "controller") == 0) return PrintController();
  if (argc == 3 && std::strcmp(argv[1], "controller-click") == 0)
    return ClickControllerButton(argv[2]);
  if (argc >= 3 && std::strcmp(argv[1], "viewer") == 0) return PrintViewer(argv[2]);
  if (argc >= 3 && std::strncmp(argv[1], "viewer-", 7) == 0)
    return ToViewer(argv[1], argv[2], argv + 3);
  DWORD_PTR answer = 0;
  if (argc == 2 && std::strcmp(argv[1], "taskbar-created") == 0) {
    const UINT taskbar_created = RegisterWindowMessageW(L"TaskbarCreated");
    return taskbar_created != 0 && SendMessageTimeoutW(HWND_BROADCAST, taskbar_created, 0, 0,
                                                       SMTO_ABORTIFHUNG, kTimeoutMs, &answer)
               ? 0
               : 1;
  }
  if (argc == 2 && std::strcmp(argv[1], "tray-delete") == 0) {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = FindWindowExW(HWND_MESSAGE, nullptr, L"GlimmerixMessages", nullptr);
    data.uID = 1;
    return data.hWnd && Shell_NotifyIconW(NIM_DELETE, &data) ? 0 : 1;
  }
  HWND window = FindWindowW(L"GlimmerixMain", nullptr);
  if (!window) return 1;
  if (argc == 3 && std::strcmp(argv[1], "menu") == 0)
    return SendMessageTimeoutW(window, WM_COMMAND, 1000 + std::atoi(argv[2]), 0, SMTO_ABORTIFHUNG,
                               kTimeoutMs, &answer)
               ? 0
               : 1;
  if (argc != 2) return 2;
  if (std::strcmp(argv[1], "close") == 0)
    return SendMessageTimeoutW(window, WM_SYSCOMMAND, SC_CLOSE, 0, SMTO_ABORTIFHUNG, kTimeoutMs,
                               &answer)
               ? 0
               : 1;
  if (std::strcmp(argv[1], "minimise") == 0)
    return SendMessageTimeoutW(window, WM_SYSCOMMAND, SC_MINIMIZE, 0, SMTO_ABORTIFHUNG, kTimeoutMs,
                               &answer)
               ? 0
               : 1;
  if (std::strcmp(argv[1], "end-session") != 0) return 2;
  if (!SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG,
                           kTimeoutMs, &answer) ||
      answer == FALSE)
    return 1;
  if (!SendMessageTimeoutW(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG,
                           kTimeoutMs, &answer))
    return 1;
  return 0;
}
