#include "outputs/linux/hid_access.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace glimmerix {
namespace {

std::mutex root_mutex;  // guards root
std::string root;       // prefix of /sys and /dev paths; empty for the real system

struct Ids {
  unsigned vendor = 0;
  unsigned product = 0;
};

// The hidrawN numbers listed under sys/class/hidraw, ascending.
std::vector<int> ListInterfaces(const std::string& prefix) {
  std::vector<int> numbers;
  const std::string folder = prefix + "/sys/class/hidraw";
  DIR* dir = opendir(folder.c_str());
  if (!dir) return numbers;
  while (const dirent* entry = readdir(dir)) {
    const char* name = entry->d_name;
    if (std::strncmp(name, "hidraw", 6) != 0 || name[6] == '\0') continue;
    char* end = nullptr;
    errno = 0;
    const long n = std::strtol(name + 6, &end, 10);
    if (*end != '\0' || errno != 0 || n < 0 || n > 1'000'000 || name[6] == '-' || name[6] == '+')
      continue;
    numbers.push_back(static_cast<int>(n));
  }
  closedir(dir);
  std::sort(numbers.begin(), numbers.end());
  return numbers;
}

std::optional<unsigned> ParseHex(const std::string& text) {
  if (text.empty() || text.size() > 8) return std::nullopt;
  unsigned value = 0;
  for (char c : text) {
    int digit;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    else
      return std::nullopt;
    value = value * 16 + static_cast<unsigned>(digit);
  }
  return value;
}

std::optional<std::string> FirstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  if (!in || !std::getline(in, line)) return std::nullopt;
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
  return line;
}

// Vendor and product from HID_ID=bus:vendor:product.
std::optional<Ids> ReadIds(const std::string& uevent_path) {
  std::ifstream in(uevent_path);
  std::string line;
  while (in && std::getline(in, line)) {
    if (line.rfind("HID_ID=", 0) != 0) continue;
    const std::string ids = line.substr(7);
    const auto first = ids.find(':');
    const auto second = ids.find(':', first == std::string::npos ? first : first + 1);
    if (first == std::string::npos || second == std::string::npos) return std::nullopt;
    const auto vendor = ParseHex(ids.substr(first + 1, second - first - 1));
    const auto product = ParseHex(ids.substr(second + 1));
    if (!ParseHex(ids.substr(0, first)) || !vendor || !product) return std::nullopt;
    return Ids{*vendor, *product};
  }
  return std::nullopt;
}

// bcdDevice of the nearest folder above the HID device that has one; 0 when none has.
unsigned ReadVersion(const std::string& device_link, const std::string& prefix) {
  char* resolved = realpath(device_link.c_str(), nullptr);
  if (!resolved) return 0;
  std::string folder = resolved;
  std::free(resolved);
  std::string stop = prefix + "/sys";
  if (char* stop_resolved = realpath(stop.c_str(), nullptr)) {
    stop = stop_resolved;
    std::free(stop_resolved);
  }
  while (true) {
    const auto slash = folder.find_last_of('/');
    if (slash == std::string::npos || slash == 0) return 0;
    folder.erase(slash);
    if (folder == stop) return 0;
    if (const auto line = FirstLine(folder + "/bcdDevice")) {
      const auto version = ParseHex(*line);
      return version ? *version : 0;
    }
  }
}

std::string DeviceFolder(const std::string& prefix, int n) {
  return prefix + "/sys/class/hidraw/hidraw" + std::to_string(n) + "/device";
}

// Whether interface n's attributes can be read and match. The version is looked up only when a
// particular one is wanted.
bool Matches(const std::string& prefix, int n, int product, int vendor, int version) {
  const std::string device = DeviceFolder(prefix, n);
  const auto ids = ReadIds(device + "/uevent");
  if (!ids || ids->product != (static_cast<unsigned>(product) & 0xFFFF) ||
      ids->vendor != (static_cast<unsigned>(vendor) & 0xFFFF))
    return false;
  const unsigned wanted_version = static_cast<unsigned>(version) & 0xFFFF;
  return wanted_version == 0xFFFF || ReadVersion(device, prefix) == wanted_version;
}

std::string NodePath(const std::string& prefix, int n) {
  return prefix + "/dev/hidraw" + std::to_string(n);
}

// The device number sysfs gives interface n ("major:minor" in hidrawN/dev).
std::optional<dev_t> SysDeviceNumber(const std::string& prefix, int n) {
  const auto line = FirstLine(prefix + "/sys/class/hidraw/hidraw" + std::to_string(n) + "/dev");
  if (!line) return std::nullopt;
  unsigned major_number = 0, minor_number = 0;
  char rest = 0;
  if (std::sscanf(line->c_str(), "%u:%u%c", &major_number, &minor_number, &rest) != 2)
    return std::nullopt;
  return makedev(major_number, minor_number);
}

// Why a node of this type is never opened; empty for the types that are.
std::string RefusedType(const struct stat& st, const std::string& prefix, int n) {
  if (S_ISREG(st.st_mode) || S_ISFIFO(st.st_mode)) return {};
  if (S_ISCHR(st.st_mode)) {
    const auto wanted = SysDeviceNumber(prefix, n);
    if (wanted && *wanted == st.st_rdev) return {};
    return "a character device (" + std::to_string(major(st.st_rdev)) + ":" +
           std::to_string(minor(st.st_rdev)) + ") that is not this interface's hidraw device";
  }
  if (S_ISBLK(st.st_mode)) return "a block device, not a hidraw device";
  if (S_ISSOCK(st.st_mode)) return "a socket, not a hidraw device";
  return "not a hidraw device";
}

// Opens node n for writing once its type is known to be one that may be opened. The type is read
// through an O_PATH handle (which opens no device) and the very same file is then reopened
// through /proc/self/fd, so a link swapped in between changes nothing. -1 with *failure filled
// (error 0 when the node is absent) when it is not opened.
int OpenNode(const std::string& prefix, int n, HidOpenFailure& failure) {
  const std::string node = NodePath(prefix, n);
  const int path_fd = open(node.c_str(), O_PATH | O_CLOEXEC);
  if (path_fd < 0) {
    failure = {node, std::strerror(errno), errno == ENOENT ? 0 : errno};
    return -1;
  }
  struct stat st;
  int fd = -1;
  if (fstat(path_fd, &st) != 0) {
    failure = {node, std::strerror(errno), errno};
  } else if (S_ISDIR(st.st_mode)) {
    failure = {node, std::strerror(EISDIR), EISDIR};
  } else if (const std::string refused = RefusedType(st, prefix, n); !refused.empty()) {
    failure = {node, refused, ENODEV};
  } else {
    const std::string same_file = "/proc/self/fd/" + std::to_string(path_fd);
    fd = open(same_file.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) failure = {node, std::strerror(errno), errno};
  }
  close(path_fd);
  return fd;
}

}  // namespace

void HidAccess_Init() {
  const char* value = std::getenv("GLIMMERIX_HID_ROOT");
  std::string prefix = value ? value : "";
  while (prefix.size() > 1 && prefix.back() == '/') prefix.pop_back();
  if (prefix == "/") prefix.clear();
  std::lock_guard lock(root_mutex);
  root = prefix;
}

int HidAccess_DeviceExists(int product, int vendor, int version, int index) {
  const std::string prefix = HidAccess_Root();
  const std::vector<int> interfaces = HidAccess_Interfaces();
  unsigned counter = 0;  // matches so far, 16 bits wide
  for (int n : interfaces) {
    struct stat st;
    if (stat(NodePath(prefix, n).c_str(), &st) != 0) continue;
    if (!Matches(prefix, n, product, vendor, version)) continue;
    if (counter < static_cast<unsigned>(index & 0xFFFF)) {
      counter = (counter + 1) & 0xFFFF;
      continue;
    }
    return 1;
  }
  return 0;
}

HidHandle HidAccess_OpenDevice(int product, int vendor, int version, int index,
                               HidOpenFailure* failure, std::string* node) {
  const std::string prefix = HidAccess_Root();
  const std::vector<int> interfaces = HidAccess_Interfaces();
  unsigned counter = 0;
  for (int n : interfaces) {
    if (!Matches(prefix, n, product, vendor, version)) continue;
    HidOpenFailure failed;
    int fd = OpenNode(prefix, n, failed);
    if (fd < 0) {
      failed.access_denied = failed.error == EACCES || failed.error == EPERM;
      if (failure && failed.error != 0) *failure = failed;
      continue;
    }
    if (fd == 0) {  // 0 means "no handle": move it out of the way
      const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
      close(fd);
      if (moved < 0) continue;
      fd = moved;
    }
    if (counter == static_cast<unsigned>(index & 0xFFFF)) {
      if (node) *node = NodePath(prefix, n);
      return fd;
    }
    counter = (counter + 1) & 0xFFFF;
    close(fd);
  }
  return 0;
}

int HidAccess_Write(HidHandle handle, const void* buffer, int length, int* error, int wait_ms) {
  if (handle == 0 || buffer == nullptr || length <= 0) return 0;
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(wait_ms < 0 ? 0 : wait_ms);
  ssize_t written;
  while (true) {
    int timeout = -1;
    if (wait_ms >= 0) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
      timeout = static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, left.count()));
    }
    pollfd ready{static_cast<int>(handle), POLLOUT, 0};
    const int polled = poll(&ready, 1, timeout);
    if (polled < 0 && errno == EINTR) continue;
    if (polled == 0) {
      errno = ETIMEDOUT;
      written = -1;
      break;
    }
    // poll() failing, or reporting an error on the node, leaves the verdict to write().
    written = write(static_cast<int>(handle), buffer, static_cast<size_t>(length));
    if (written < 0 && errno == EINTR) continue;
    if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (wait_ms < 0 || Clock::now() < deadline) {
        usleep(1000);  // ready by poll() yet full for this report: no busy loop
        continue;
      }
      errno = ETIMEDOUT;
    }
    break;
  }
  if (error) *error = written < 0 ? errno : 0;
  return written < 0 ? 0 : static_cast<int>(written);
}

int HidAccess_Close(HidHandle handle) {
  if (handle == 0) return 0;
  return close(static_cast<int>(handle));
}

std::string HidAccess_Root() {
  std::lock_guard lock(root_mutex);
  return root;
}

std::vector<int> HidAccess_Interfaces() {
  std::vector<int> interfaces = ListInterfaces(HidAccess_Root());
  if (interfaces.size() > kHidMaxInterfaces) interfaces.resize(kHidMaxInterfaces);
  return interfaces;
}

std::string HidAccess_DeviceFolder(int n) {
  return DeviceFolder(HidAccess_Root(), n);
}

bool HidAccess_ReadIds(int n, unsigned* vendor, unsigned* product) {
  const auto ids = ReadIds(HidAccess_DeviceFolder(n) + "/uevent");
  if (!ids) return false;
  *vendor = ids->vendor;
  *product = ids->product;
  return true;
}

}  // namespace glimmerix
