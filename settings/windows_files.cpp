// Names are bytes in the system's ANSI code page (as the program's folder names them); the wide
// Windows calls get them converted with that code page.
#include <windows.h>

#include <atomic>
#include <chrono>
#include <memory>

#include "settings/file_access.h"
#include "settings/settings_store.h"

namespace glimmerix {
namespace files {
namespace {

std::wstring WideFromAnsi(std::string_view text) {
  if (text.empty()) return {};
  const int n =
      MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) {
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  }
  return wide;
}

// A name the ANSI code page cannot hold is left out of listings (no byte name could open it).
bool AnsiFromWide(const wchar_t* wide, std::string& text) {
  BOOL lossy = FALSE;
  const int n = WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, &lossy);
  if (n <= 1 || lossy) return false;
  text.assign(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide, -1, text.data(), n, nullptr, nullptr);
  text.pop_back();  // the terminating NUL
  return true;
}

std::string DirectoryOf(const std::string& path) {
  const std::size_t separator = path.find_last_of("\\/");
  if (separator == std::string::npos) return {};
  return path.substr(0, separator + 1);
}

struct HandleCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

Handle OpenFile(const std::string& path, DWORD access, DWORD disposition, DWORD flags) {
  const HANDLE handle = CreateFileW(WideFromAnsi(path).c_str(), access,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    disposition, flags, nullptr);
  return Handle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

bool IsMissing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Calls fn(name, find data) for every entry of folder but "." and "..".
template <typename Fn>
void ForEachEntry(const std::string& folder, Fn&& fn) {
  WIN32_FIND_DATAW found;
  const std::wstring pattern = WideFromAnsi(PathIn(folder.empty() ? "." : folder, "*"));
  const HANDLE find = FindFirstFileW(pattern.c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    std::string name;
    if (AnsiFromWide(found.cFileName, name) && name != "." && name != "..") fn(name, found);
  } while (FindNextFileW(find, &found));
  FindClose(find);
}

}  // namespace

bool IsPlainFileName(std::string_view name) {
  return !name.empty() &&
         name.find_first_of(std::string_view("/\\:\0", 4)) == std::string_view::npos;
}

std::string PathIn(const std::string& folder, const std::string& name) {
  return folder.empty() ? name : folder + "\\" + name;
}

ReadResult ReadWholeFile(const std::string& path, std::size_t max_bytes, std::string& bytes) {
  const Handle file = OpenFile(path, GENERIC_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
  if (!file) return IsMissing(GetLastError()) ? ReadResult::kMissing : ReadResult::kUnreadable;
  LARGE_INTEGER size;
  if (GetFileType(file.get()) != FILE_TYPE_DISK || !GetFileSizeEx(file.get(), &size) ||
      static_cast<unsigned long long>(size.QuadPart) > max_bytes) {
    return ReadResult::kUnreadable;
  }
  bytes.reserve(static_cast<std::size_t>(size.QuadPart));
  char buffer[65536];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) return ReadResult::kUnreadable;
    if (got == 0) return ReadResult::kRead;
    if (bytes.size() + got > max_bytes) return ReadResult::kUnreadable;
    bytes.append(buffer, got);
  }
}

// Windows programs meet no links planted by other users in their own folder: the save goes to
// the name itself (a reparse point there is refused by ReplaceFileContents).
bool ResolveSaveTarget(const std::string& path, std::string& target) {
  target = path;
  return true;
}

bool ReplaceFileContents(const std::string& target, std::string_view bytes) {
  const std::wstring wide_target = WideFromAnsi(target);
  const DWORD attributes = GetFileAttributesW(wide_target.c_str());
  const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
  if (!exists && !IsMissing(GetLastError())) return false;
  if (exists) {
    if (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY |
                      FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) {
      return false;
    }
    // Locked away, or not ours to change.
    if (!OpenFile(target, GENERIC_WRITE, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL)) return false;
  }

  static std::atomic<unsigned> counter{0};
  const std::string folder = DirectoryOf(target);
  std::string temp;
  Handle file;
  for (int attempt = 0; attempt < 16 && !file; ++attempt) {
    const auto stamp =
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    temp = folder + SaveFileName(GetCurrentProcessId(), counter.fetch_add(1), stamp % 1000000);
    file = OpenFile(temp, GENERIC_WRITE, CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
    if (!file && GetLastError() != ERROR_FILE_EXISTS) return false;
  }
  if (!file) return false;

  bool ok = true;
  while (ok && !bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
    DWORD put = 0;
    ok = WriteFile(file.get(), bytes.data(), chunk, &put, nullptr) && put > 0;
    bytes.remove_prefix(put);
  }
  ok = ok && FlushFileBuffers(file.get());
  file.reset();
  const std::wstring wide_temp = WideFromAnsi(temp);
  // The new file keeps the old one's hidden and system marks. (Not through ReplaceFileW: Wine's
  // leaves a backup file of its own behind when the old file cannot be replaced.)
  constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                          FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  if (ok && exists && (attributes & kKept) != 0) {
    ok = SetFileAttributesW(wide_temp.c_str(), attributes & kKept);
  }
  ok = ok && MoveFileExW(wide_temp.c_str(), wide_target.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  if (!ok) {
    DeleteFileW(wide_temp.c_str());
    return false;
  }
  return true;
}

std::vector<std::string> FolderEntryNames(const std::string& folder) {
  std::vector<std::string> names;
  ForEachEntry(folder,
               [&](const std::string& name, const WIN32_FIND_DATAW&) { names.push_back(name); });
  return names;
}

}  // namespace files

int RemoveStaleSaveFiles(const std::string& folder) {
  int removed = 0;
  files::ForEachEntry(folder, [&](const std::string& name, const WIN32_FIND_DATAW& found) {
    const std::uint64_t pid = files::SaveFileProcess(name);
    if (pid == 0 || pid == GetCurrentProcessId()) return;
    if (found.dwFileAttributes &
        (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_READONLY)) {
      return;
    }
    // Its process may still be saving: only a process that is known to be gone frees it.
    const HANDLE process =
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (process) {
      DWORD code = 0;
      const bool running = !GetExitCodeProcess(process, &code) || code == STILL_ACTIVE;
      CloseHandle(process);
      if (running) return;
    } else if (GetLastError() != ERROR_INVALID_PARAMETER) {
      return;  // it exists but is not ours to look at
    }
    if (DeleteFileW(files::WideFromAnsi(files::PathIn(folder, name)).c_str())) ++removed;
  });
  return removed;
}

// Windows knows no file-size signal: a write past a limit fails, and the old file stays.
void IgnoreFileSizeSignal() {}

}  // namespace glimmerix
