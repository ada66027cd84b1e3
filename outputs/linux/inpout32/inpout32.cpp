// The parallel-port plug-in: Out32 writes the first parallel port through Linux ppdev.
//
// /dev/parport0 (or the ppdev node named by GLIMMERIX_PARPORT) is opened and claimed on the first
// call; where it cannot be (no ppdev, no port, no permission) every call does nothing until
// Inpout32Retry() asks for a new attempt, and Inpout32Problem() tells why; neither of those two
// waits for a write in progress. Address 0x378 is the
// data register (PPWDATA), 0x37A the control register (PPWCONTROL, raw value: the port inverts
// lines 0, 1 and 3 itself); other addresses are ignored. Raw I/O ports are never touched. Calls
// may come from any thread and allocate nothing; the port is released when the plug-in is
// unloaded.
#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#define INPOUT32_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr short kData = 0x378;
constexpr short kControl = 0x37A;
constexpr const char* kFirstPort = "/dev/parport0";

// Out32 holds port_mutex across its ioctl calls; the problem text has a lock of its own and a
// retry is a flag, so neither ever waits on the port.
std::mutex port_mutex;  // guards port_fd and port_tried
int port_fd = -1;
bool port_tried = false;
std::atomic<bool> retry_requested{false};
std::mutex problem_mutex;     // guards port_problem
char port_problem[512] = "";  // why the port cannot be written; empty while it can

void SetProblem(const char* node, const char* what, int error) {
  const char* hint = "";
  if (error == EACCES || error == EPERM) {
    hint = " (the port belongs to the group lp: sudo usermod -aG lp $USER, then log in again)";
  } else if (error == ENOENT || error == ENODEV || error == ENXIO) {
    hint = " (no parallel port, or the ppdev module is not loaded: sudo modprobe ppdev)";
  } else if (error == EBUSY) {
    hint = " (another program uses the port)";
  }
  std::lock_guard lock(problem_mutex);
  std::snprintf(port_problem, sizeof port_problem, "%s: %s: %s%s", node, what, std::strerror(error),
                hint);
}

void ClearProblem() {
  std::lock_guard lock(problem_mutex);
  port_problem[0] = '\0';
}

int Port() {
  if (retry_requested.exchange(false) && port_fd < 0) port_tried = false;
  if (!port_tried) {
    port_tried = true;
    const char* chosen = std::getenv("GLIMMERIX_PARPORT");
    const char* node = chosen && *chosen ? chosen : kFirstPort;
    const int fd = open(node, O_RDWR | O_CLOEXEC);
    if (fd < 0) {
      SetProblem(node, "cannot open", errno);
    } else if (ioctl(fd, PPCLAIM) != 0) {
      SetProblem(node, "cannot claim the port", errno);
      close(fd);
    } else {
      port_fd = fd;
      ClearProblem();
    }
  }
  return port_fd;
}

// Unloading the plug-in (the program's shutdown) gives the port back.
__attribute__((destructor)) void ReleasePort() {
  std::lock_guard lock(port_mutex);
  if (port_fd < 0) return;
  ioctl(port_fd, PPRELEASE);
  close(port_fd);
  port_fd = -1;
}

}  // namespace

INPOUT32_EXPORT void Out32(short address, short value) {
  std::lock_guard lock(port_mutex);
  const int fd = Port();
  if (fd < 0) return;
  unsigned char byte = static_cast<unsigned char>(value & 0xFF);
  if (address == kData) {
    ioctl(fd, PPWDATA, &byte);
  } else if (address == kControl) {
    ioctl(fd, PPWCONTROL, &byte);
  }
}

// Copies why the port cannot be written (node, reason, what to do) into text, at most size bytes
// with the terminating zero; an empty text while the port is fine or not yet tried. Returns the
// full length of the problem text.
INPOUT32_EXPORT int Inpout32Problem(char* text, int size) {
  std::lock_guard lock(problem_mutex);
  if (text != nullptr && size > 0)
    std::snprintf(text, static_cast<size_t>(size), "%s", port_problem);
  return static_cast<int>(std::strlen(port_problem));
}

// A port that could not be opened or claimed is tried again at the next Out32, which tells its
// problem anew. Never waits on a write in progress.
INPOUT32_EXPORT void Inpout32Retry() {
  retry_requested.store(true);
  ClearProblem();
}
