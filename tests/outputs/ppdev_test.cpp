// The real parallel-port plug-in against a stand-in for the kernel's ppdev: this program defines
// ioctl itself (and exports it), so the plug-in's requests on the port land here. The port node is
// a plain file named through GLIMMERIX_PARPORT.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Request {
  unsigned long request;
  int byte;  // the byte written, -1 for requests without one
  bool operator==(const Request&) const = default;
};
std::vector<Request> requests;
int claim_result = 0;
// A data write that hangs (a stuck port) until released; write_entered tells it has begun.
std::atomic<bool> hang_writes{false};
std::atomic<bool> write_entered{false};

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
      if (request != PPCLAIM || claim_result == 0) return 0;
      errno = EBUSY;  // as ppdev says when another driver holds the port
      return claim_result;
    case PPWDATA:
      write_entered.store(true);
      while (hang_writes.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      [[fallthrough]];
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

TEST_F(PpdevPlugIn, SaysWhyThePortCannotBeWrittenAndTriesAgainWhenAsked) {
  using ProblemFunction = int (*)(char*, int);
  using RetryFunction = void (*)();
  claim_result = -1;
  void* plugin = Load();
  ASSERT_NE(plugin, nullptr) << dlerror();
  auto Out32 = reinterpret_cast<Out32Function>(dlsym(plugin, "Out32"));
  auto Problem = reinterpret_cast<ProblemFunction>(dlsym(plugin, "Inpout32Problem"));
  auto Retry = reinterpret_cast<RetryFunction>(dlsym(plugin, "Inpout32Retry"));
  ASSERT_NE(Problem, nullptr);
  ASSERT_NE(Retry, nullptr);
  char text[512];
  EXPECT_EQ(Problem(text, sizeof text), 0) << "nothing tried yet";
  Out32(0x378, 0xFF);
  ASSERT_GT(Problem(text, sizeof text), 0);
  EXPECT_NE(std::string(text).find(node_ + ": cannot claim the port: Device or resource busy"),
            std::string::npos)
      << text;
  char cut[8];
  EXPECT_GT(Problem(cut, sizeof cut), 7) << "the full length, the text cut to fit";
  EXPECT_EQ(std::string(cut), std::string(text).substr(0, 7));

  // No new attempt without a request; the port claimed after one.
  Out32(0x378, 0xFF);
  EXPECT_EQ(requests.size(), 1u);
  claim_result = 0;
  Retry();
  EXPECT_EQ(Problem(text, sizeof text), 0) << "the old reason is not told again";
  Out32(0x378, 0x01);
  EXPECT_EQ(Problem(text, sizeof text), 0) << text;
  Retry();  // a claimed port is kept
  Out32(0x378, 0x02);
  dlclose(plugin);
  EXPECT_EQ(requests,
            (std::vector<Request>{
                {PPCLAIM, -1}, {PPCLAIM, -1}, {PPWDATA, 0x01}, {PPWDATA, 0x02}, {PPRELEASE, -1}}));

  // A missing node: the node and the reason, with what to do.
  requests.clear();
  setenv("GLIMMERIX_PARPORT", "/nonexistent/parport", 1);
  plugin = Load();
  Out32 = reinterpret_cast<Out32Function>(dlsym(plugin, "Out32"));
  Problem = reinterpret_cast<ProblemFunction>(dlsym(plugin, "Inpout32Problem"));
  Out32(0x378, 0xFF);
  Problem(text, sizeof text);
  EXPECT_NE(std::string(text).find("/nonexistent/parport: cannot open: No such file or directory"),
            std::string::npos)
      << text;
  EXPECT_NE(std::string(text).find("modprobe ppdev"), std::string::npos) << text;
  dlclose(plugin);
}

// The tray's tool tip asks for the problem, and a ticked box asks for a retry, on the GUI thread:
// neither may wait while a write hangs.
TEST_F(PpdevPlugIn, ProblemAndRetryNeverWaitOnAHangingWrite) {
  void* plugin = Load();
  ASSERT_NE(plugin, nullptr) << dlerror();
  auto Out32 = reinterpret_cast<Out32Function>(dlsym(plugin, "Out32"));
  auto Problem = reinterpret_cast<int (*)(char*, int)>(dlsym(plugin, "Inpout32Problem"));
  auto Retry = reinterpret_cast<void (*)()>(dlsym(plugin, "Inpout32Retry"));
  hang_writes.store(true);
  write_entered.store(false);
  std::thread writer([&] { Out32(0x378, 0x01); });
  while (!write_entered.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  auto asked = std::async(std::launch::async, [&] {
    char text[64];
    Problem(text, sizeof text);
    Retry();
  });
  const bool returned = asked.wait_for(std::chrono::seconds(2)) == std::future_status::ready;
  hang_writes.store(false);
  writer.join();
  asked.wait();
  EXPECT_TRUE(returned) << "waited for the hanging write";
  dlclose(plugin);
}

}  // namespace
