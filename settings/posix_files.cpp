#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <memory>

#include "settings/file_access.h"
#include "settings/settings_store.h"

namespace glimmerix {
namespace files {
namespace {

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return path.substr(0, slash + 1);  // keeps the separator; "/" for the root
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

bool IsPlainFileName(std::string_view name) {
  return !name.empty() && name.find('/') == std::string_view::npos &&
         name.find('\0') == std::string_view::npos;
}

std::string PathIn(const std::string& folder, const std::string& name) {
  return folder.empty() ? name : folder + "/" + name;
}

ReadResult ReadWholeFile(const std::string& path, std::size_t max_bytes, std::string& bytes) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return errno == ENOENT ? ReadResult::kMissing : ReadResult::kUnreadable;
  struct stat st;
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
            static_cast<std::size_t>(st.st_size) <= max_bytes;
  if (ok) bytes.reserve(static_cast<std::size_t>(st.st_size));
  char buffer[65536];
  while (ok) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
    } else if (bytes.size() + static_cast<std::size_t>(n) > max_bytes) {
      ok = false;
    } else {
      bytes.append(buffer, static_cast<std::size_t>(n));
    }
  }
  close(fd);
  return ok ? ReadResult::kRead : ReadResult::kUnreadable;
}

// Follows a chain of symbolic links to the file they finally name (which may not exist yet).
// False when a link on the way belongs to somebody other than the effective user or root: such
// a link may have been planted to make us overwrite a file of the user's.
bool ResolveSaveTarget(const std::string& path_given, std::string& resolved) {
  std::string path = path_given;
  for (int depth = 0; depth < 40; ++depth) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
    if (st.st_uid != geteuid() && st.st_uid != 0) return false;
    std::string target(PATH_MAX, '\0');
    const ssize_t n = readlink(path.c_str(), target.data(), target.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= target.size()) break;
    target.resize(static_cast<std::size_t>(n));
    path = target.front() == '/' ? target : DirectoryOf(path) + target;
  }
  resolved = std::move(path);
  return true;
}

// Keeps the old file's permission bits (and owner, where the process may set it).
bool ReplaceFileContents(const std::string& target, std::string_view bytes) {
  struct stat old_stat;
  bool exists = false;
  // No link may stand where the resolved name was: one that appeared since is not followed.
  const int probe = open(target.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW);
  if (probe >= 0) {
    exists = fstat(probe, &old_stat) == 0;
    close(probe);
    if (!exists || !S_ISREG(old_stat.st_mode)) return false;
  } else if (errno != ENOENT) {
    return false;  // read-only, locked away or otherwise not ours to change
  }

  static std::atomic<unsigned> counter{0};
  const std::string folder = DirectoryOf(target);
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
    const auto stamp =
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    temp = folder + SaveFileName(static_cast<std::uint64_t>(getpid()), counter.fetch_add(1),
                                 stamp % 1000000);
    fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY,
              exists ? 0600 : 0666);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;

  bool ok = true;
  if (exists) {
    if (old_stat.st_uid != geteuid() || old_stat.st_gid != getegid()) {
      // Only a privileged process may give the file back to its owner; failing that it
      // still keeps its permission bits.
      if (fchown(fd, old_stat.st_uid, old_stat.st_gid) != 0) errno = 0;
    }
    ok = fchmod(fd, old_stat.st_mode & 07777) == 0;
  }
  ok = ok && WriteAll(fd, bytes) && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  ok = ok && rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) {
    unlink(temp.c_str());
    return false;
  }
  const int dir = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  return true;
}

std::vector<std::string> FolderEntryNames(const std::string& folder) {
  std::vector<std::string> names;
  const std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.empty() ? "." : folder.c_str()),
                                                closedir);
  if (!dir) return names;
  while (const dirent* entry = readdir(dir.get())) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  return names;
}

}  // namespace files

int RemoveStaleSaveFiles(const std::string& folder) {
  const std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.empty() ? "." : folder.c_str()),
                                                closedir);
  if (!dir) return 0;
  int removed = 0;
  while (const dirent* entry = readdir(dir.get())) {
    const auto pid = static_cast<pid_t>(files::SaveFileProcess(entry->d_name));
    if (pid == 0 || pid == getpid()) continue;
    struct stat st;
    if (fstatat(dirfd(dir.get()), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(st.st_mode) || st.st_uid != geteuid()) {
      continue;
    }
    if (kill(pid, 0) == 0 || errno != ESRCH) continue;  // its process may still be saving
    if (unlinkat(dirfd(dir.get()), entry->d_name, 0) == 0) ++removed;
  }
  return removed;
}

void IgnoreFileSizeSignal() {
  std::signal(SIGXFSZ, SIG_IGN);
}

}  // namespace glimmerix
