// The DMX output through olad's sACN (E1.31) plug-in, on a veth pair between two private network
// namespaces made here: the test's own (olad and the output's sender inherit it) holds one end,
// a receiving thread's the other. Nothing of it reaches the machine's own interfaces.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "outputs/dmx_output.h"
#include "outputs/linux/ola_dmx_sender.h"
#include "tests/support/ola_daemon.h"

namespace glimmerix {
namespace {

using namespace std::chrono_literals;

constexpr const char* kOladEnd = "glx-olad";
constexpr const char* kReceiverEnd = "glx-recv";
constexpr const char* kOladAddress = "10.231.0.1";
constexpr const char* kReceiverAddress = "10.231.0.2";
constexpr int kUniverse = 300;  // group 239.255.1.44
constexpr int kStart = 100;
constexpr int kOnLevel = 200;

struct SacnFrame {
  std::string source;  // the sender's IPv4 address
  int universe = 0;
  int options = 0;
  std::vector<std::uint8_t> values;  // slot 1 first
};

// E1.31 (revision 0.46) data packet: root layer (vector 4 at 18), framing layer (vector 2 at 40,
// options at 112, universe at 113), DMP layer (vector 2 at 117, value count at 123, start code at
// 125, slots from 126). False for anything else, a start code other than 0 included.
bool DecodeSacn(const std::uint8_t* p, std::size_t n, SacnFrame& frame) {
  const auto be16 = [p](std::size_t at) { return (p[at] << 8) | p[at + 1]; };
  const auto be32 = [&](std::size_t at) { return (be16(at) << 16) | be16(at + 2); };
  if (n < 126 || std::memcmp(p + 4, "ASC-E1.17\0\0\0", 12) != 0 || be32(18) != 4 || be32(40) != 2 ||
      p[117] != 2 || p[125] != 0)
    return false;
  const std::size_t slots = std::min<std::size_t>(be16(123) - 1, n - 126);
  frame.options = p[112];
  frame.universe = be16(113);
  frame.values.assign(p + 126, p + 126 + slots);
  return true;
}

// The far end of the veth pair: a thread that moves into a network namespace of its own, then,
// once told its interface is up, receives the universe's multicast group on port 5568.
class SacnReceiver {
 public:
  SacnReceiver() : thread_([this] { Run(); }) {
    while (tid_ == 0) std::this_thread::sleep_for(5ms);
  }
  ~SacnReceiver() {
    stop_ = true;
    thread_.join();
  }
  // The thread's id, or -1 with why_ set when it could not get a namespace.
  pid_t tid() const { return tid_; }
  const std::string& why() const { return why_; }

  // Joins the group on the receiving end's address; false with why() when that failed.
  bool Listen() {
    listen_ = true;
    while (listen_ && !stop_) std::this_thread::sleep_for(5ms);
    return fd_ >= 0;
  }

  std::vector<SacnFrame> Frames() const {
    std::lock_guard lock(mutex_);
    return frames_;
  }

  bool WaitForFrame(const std::function<bool(const SacnFrame&)>& pred,
                    std::chrono::milliseconds timeout) const {
    for (const auto until = std::chrono::steady_clock::now() + timeout;
         std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(20ms)) {
      std::lock_guard lock(mutex_);
      if (std::any_of(frames_.begin(), frames_.end(), pred)) return true;
    }
    return false;
  }

 private:
  void Run() {
    if (unshare(CLONE_NEWNET) != 0) {
      why_ = std::string("unshare(CLONE_NEWNET) for the receiver: ") + std::strerror(errno);
      tid_ = -1;
      return;
    }
    tid_ = static_cast<pid_t>(syscall(SYS_gettid));
    while (!listen_ && !stop_) std::this_thread::sleep_for(5ms);
    if (stop_) return;
    fd_ = Join();
    listen_ = false;
    std::uint8_t packet[1024];
    while (fd_ >= 0 && !stop_) {
      sockaddr_in from{};
      socklen_t from_size = sizeof from;
      const ssize_t n =
          recvfrom(fd_, packet, sizeof packet, 0, reinterpret_cast<sockaddr*>(&from), &from_size);
      SacnFrame frame;
      if (n <= 0 || !DecodeSacn(packet, static_cast<std::size_t>(n), frame)) continue;
      char source[INET_ADDRSTRLEN] = {};
      inet_ntop(AF_INET, &from.sin_addr, source, sizeof source);
      frame.source = source;
      std::lock_guard lock(mutex_);
      frames_.push_back(std::move(frame));
    }
    if (fd_ >= 0) close(fd_);
  }

  int Join() {
    const std::string group =
        "239.255." + std::to_string(kUniverse >> 8) + "." + std::to_string(kUniverse & 0xff);
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    timeval tv{0, 100000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(5568);
    inet_pton(AF_INET, group.c_str(), &a.sin_addr);  // only that group's packets
    ip_mreq membership{};
    membership.imr_multiaddr = a.sin_addr;
    inet_pton(AF_INET, kReceiverAddress, &membership.imr_interface);
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) != 0) {
      why_ = "cannot receive " + group + ":5568: " + std::strerror(errno);
      close(fd);
      return -1;
    }
    return fd;
  }

  std::atomic<pid_t> tid_{0};
  std::atomic<bool> listen_{false};
  std::atomic<bool> stop_{false};
  std::string why_;           // written by the thread before tid_ or fd_ is published, read after
  int fd_ = -1;               // the thread's; read by Listen() once listen_ drops
  mutable std::mutex mutex_;  // guards frames_
  std::vector<SacnFrame> frames_;
  std::thread thread_;
};

// Runs a shell command; false with its output in why when it fails.
bool Shell(const std::string& command, std::string& why) {
  const std::string output = ::testing::TempDir() + "glx-sacn-shell.txt";
  if (std::system((command + " >" + output + " 2>&1").c_str()) == 0) return true;
  std::ifstream in(output);
  why = "`" + command + "` failed: " +
        std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return false;
}

// The interfaces of the network namespace a task (e.g. "self" or "12/task/34") is in.
std::set<std::string> Interfaces(const std::string& task) {
  std::ifstream dev("/proc/" + task + "/net/dev");
  std::set<std::string> names;
  for (std::string line; std::getline(dev, line);)
    if (const auto colon = line.find(':'); colon != std::string::npos) {
      std::istringstream name(line.substr(0, colon));
      std::string n;
      name >> n;
      names.insert(n);
    }
  return names;
}

std::string NetNamespace(const std::string& task) {
  char link[128] = {};
  return readlink(("/proc/" + task + "/ns/net").c_str(), link, sizeof link - 1) > 0 ? link : "";
}

class DmxOverSacn : public ::testing::Test {
 protected:
  void SetUp() override {
    machine_namespace_ = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    machine_namespace_name_ = NetNamespace("thread-self");
    if (unshare(CLONE_NEWNET) != 0)
      GTEST_SKIP() << "cannot make a network namespace: unshare(CLONE_NEWNET): "
                   << std::strerror(errno);
    left_machine_namespace_ = true;
    receiver_ = std::make_unique<SacnReceiver>();
    if (receiver_->tid() < 0) GTEST_SKIP() << receiver_->why();
    const std::string tid = std::to_string(receiver_->tid());
    receiver_task_ = std::to_string(getpid()) + "/task/" + tid;
    std::string why;
    if (!Shell("ip link add " + std::string(kOladEnd) + " type veth peer name " + kReceiverEnd +
                   " netns " + tid,
               why))
      GTEST_SKIP() << "cannot make a veth pair (iproute2 and the kernel's veth): " << why;
    ASSERT_TRUE(Shell("ip link set lo up && ip addr add " + std::string(kOladAddress) + "/24 dev " +
                          kOladEnd + " && ip link set " + kOladEnd + " up",
                      why))
        << why;
    ASSERT_TRUE(Shell("nsenter --net=/proc/" + receiver_task_ + "/ns/net sh -c 'ip addr add " +
                          kReceiverAddress + "/24 dev " + kReceiverEnd + " && ip link set " +
                          kReceiverEnd + " up'",
                      why))
        << why;
    ASSERT_TRUE(receiver_->Listen()) << receiver_->why();
    daemon_ = std::make_unique<testing::OlaDaemon>(
        kUniverse, testing::OlaPlugin{"e131", "enabled = true\nip = " + std::string(kOladAddress) +
                                                  "\nrevision = 0.46\n"});
    ASSERT_TRUE(daemon_->Start(why)) << why;
  }

  void TearDown() override {
    daemon_.reset();
    receiver_.reset();
    if (left_machine_namespace_) {
      EXPECT_EQ(setns(machine_namespace_, CLONE_NEWNET), 0) << std::strerror(errno);
    }
    if (machine_namespace_ >= 0) close(machine_namespace_);
  }

  int machine_namespace_ = -1;
  bool left_machine_namespace_ = false;
  std::string machine_namespace_name_;
  std::string receiver_task_;
  std::unique_ptr<SacnReceiver> receiver_;
  std::unique_ptr<testing::OlaDaemon> daemon_;
};

TEST_F(DmxOverSacn, TheChannelsCrossTheVethPairAsE131AndTheLastFrameIsAllZero) {
  // Where everything runs: olad and this test in the namespace with only lo and one veth end, the
  // receiver in another with only the far end; neither is the machine's.
  const std::string olad = std::to_string(daemon_->pid());
  EXPECT_NE(NetNamespace("self"), machine_namespace_name_);
  EXPECT_EQ(NetNamespace(olad), NetNamespace("self"));
  EXPECT_NE(NetNamespace(receiver_task_), machine_namespace_name_);
  EXPECT_EQ(Interfaces(olad), (std::set<std::string>{"lo", kOladEnd}));
  EXPECT_EQ(Interfaces(receiver_task_), (std::set<std::string>{"lo", kReceiverEnd}));

  DmxOutput out(MakeOlaDmxConnection());
  out.Apply({true, kUniverse, kStart, kOnLevel, DmxMapping::kOnOff});
  std::array<int, 18> states{};
  std::vector<std::uint8_t> expected(kDmxSlots, 0);
  for (int channel = 1; channel <= 18; ++channel) {
    states[channel - 1] = channel % 3 == 1 || channel == 18;
    expected[kStart + channel - 2] = states[channel - 1] ? kOnLevel : 0;
  }
  const std::array<float, 18> bands{};
  out.ChannelsSent(states.data(), bands.data(), false);
  EXPECT_TRUE(receiver_->WaitForFrame(
      [&](const SacnFrame& f) {
        return f.source == kOladAddress && f.universe == kUniverse && f.values == expected;
      },
      5s))
      << out.status();

  out.SwitchOff();
  std::this_thread::sleep_for(1500ms);
  const auto frames = receiver_->Frames();
  ASSERT_FALSE(frames.empty());
  EXPECT_EQ(frames.back().values, std::vector<std::uint8_t>(kDmxSlots, 0)) << "exit frame";
  EXPECT_TRUE(std::all_of(frames.begin(), frames.end(),
                          [](const SacnFrame& f) { return f.source == kOladAddress; }));
}

}  // namespace
}  // namespace glimmerix
