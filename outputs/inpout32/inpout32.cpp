// The parallel-port plug-in: Out32 writes the first parallel port through Linux ppdev.
//
// /dev/parport0 (or the ppdev node named by GLIMMERIX_PARPORT) is opened and claimed on the first
// call; where it cannot be (no ppdev, no port, no permission) every call does nothing. Address
// 0x378 is the data register (PPWDATA), 0x37A the control register (PPWCONTROL, raw value: the port
// inverts lines 0, 1 and 3 itself); other addresses are ignored. Raw I/O ports are never touched.
// Calls may come from any thread; the port is released when the plug-in is unloaded.
#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>

namespace {

constexpr short kData = 0x378;
constexpr short kControl = 0x37A;
constexpr const char* kFirstPort = "/dev/parport0";

std::mutex port_mutex;  // guards port_fd and port_tried
int port_fd = -1;
bool port_tried = false;

int Port() {
  if (!port_tried) {
    port_tried = true;
    const char* chosen = std::getenv("GLIMMERIX_PARPORT");
    const int fd = open(chosen && *chosen ? chosen : kFirstPort, O_RDWR | O_CLOEXEC);
    if (fd >= 0) {
      if (ioctl(fd, PPCLAIM) == 0) {
        port_fd = fd;
      } else {
        close(fd);
      }
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

extern "C" __attribute__((visibility("default"))) void Out32(short address, short value) {
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
