// The real parallel-port plug-in against a stand-in for the kernel's ppdev: this program defines
// ioctl itself (and exports it), so the plug-in's requests on the port land here. The port node is
// a plain file named through GLIMMERIX_PARPORT.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Request {
  unsigned long request;
  int byte;  // the byte written, -1 for requests without one
  bool operator==(const Request&) const = default;
};
std::vector<Request> requests;
int claim_result = 0;

}  // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept {
  va_list args;
  va_start(args, request);
  void* arg = va_arg(args, void*);
  va_end(args);
  switch (request) {
    case PPCLAIM:
    case PPRELEASE:
      requests.push_back({request, -1});
      return request == PPCLAIM ? claim_result : 0;
    case PPWDATA:
    case PPWCONTROL:
      requests.push_back({request, *static_cast<unsigned char*>(arg)});
      return 0;
    default:
      return static_cast<int>(syscall(SYS_ioctl, fd, request, arg));
  }
}

namespace {

using Out32Function = void (*)(short, short);

class PpdevPlugIn : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/glimmerix-parport-XXXXXX";
    const int fd = mkstemp(pattern);
    ASSERT_GE(fd, 0);
    close(fd);
    node_ = pattern;
    setenv("GLIMMERIX_PARPORT", node_.c_str(), 1);
    requests.clear();
    claim_result = 0;
  }
  void TearDown() override {
    unsetenv("GLIMMERIX_PARPORT");
    std::remove(node_.c_str());
  }
  static void* Load() {
    return dlopen(GLIMMERIX_STAGE_DIR "/libinpout32.so", RTLD_NOW | RTLD_LOCAL);
  }
  std::string node_;
};

TEST_F(PpdevPlugIn, ClaimsOnFirstUseWritesTheTwoRegistersAndReleasesOnUnload) {
  void* plugin = Load();
  ASSERT_NE(plugin, nullptr) << dlerror();
  auto Out32 = reinterpret_cast<Out32Function>(dlsym(plugin, "Out32"));
  ASSERT_NE(Out32, nullptr);
  EXPECT_TRUE(requests.empty()) << "nothing is claimed before the first write";
  Out32(0x378, 0x1A5);  // the low byte goes out
  Out32(0x37A, 0x0B);
  Out32(0x379, 0x01);  // the status register is not written
  Out32(0x278, 0x01);  // nor any other port
  Out32(0x37A, 0x04);
  dlclose(plugin);
  EXPECT_EQ(requests, (std::vector<Request>{{PPCLAIM, -1},
                                            {PPWDATA, 0xA5},
                                            {PPWCONTROL, 0x0B},
                                            {PPWCONTROL, 0x04},
                                            {PPRELEASE, -1}}));
}

TEST_F(PpdevPlugIn, PortThatCannotBeClaimedOrOpenedIsLeftAlone) {
  claim_result = -1;
  void* plugin = Load();
  ASSERT_NE(plugin, nullptr) << dlerror();
  auto Out32 = reinterpret_cast<Out32Function>(dlsym(plugin, "Out32"));
  Out32(0x378, 0xFF);
  Out32(0x37A, 0x00);
  dlclose(plugin);
  EXPECT_EQ(requests, (std::vector<Request>{{PPCLAIM, -1}})) << "claimed once, then nothing";

  requests.clear();
  setenv("GLIMMERIX_PARPORT", "/nonexistent/parport", 1);
  plugin = Load();
  ASSERT_NE(plugin, nullptr) << dlerror();
  Out32 = reinterpret_cast<Out32Function>(dlsym(plugin, "Out32"));
  Out32(0x378, 0xFF);
  dlclose(plugin);
  EXPECT_TRUE(requests.empty());
}

}  // namespace
