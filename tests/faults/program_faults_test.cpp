// Faults the running program must survive: the controller's node vanishing while it is written
// and coming back, the sound server going away and coming back, and setting files it must not or
// cannot replace. The file cases run the program as user 65534, because root's writes are never
// refused. Needs scripts/with-test-services; skipped without it.
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <thread>

#include "gtest/gtest.h"
#include "tests/support/fake_hid_tree.h"
#include "tests/support/program_run.h"
#include "tests/support/sound_server.h"

namespace glimmerix::e2e {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr uid_t kNobody = 65534;
constexpr QColor kLampOn(255, 0, 0);

// The USBON/USBOFF text of the main window (inner coordinates).
constexpr QRect kStatusText(105, 228, 50, 16);

std::vector<std::string> Preset() {
  return {"; kept by hand", "Effect = 1", "Bright = 9", "Step = 100", "Level = 35", "ARU = 1"};
}

// Manual mode, thresholds that let a loud 1 kHz tone light channel 11, controller output PD0
// following channel 11, window at 100,120.
std::vector<std::string> Settings() {
  std::vector<std::string> s = {"; my light organ",
                                "X_form = 100",
                                "Y_form = 120",
                                "PID = " + std::to_string(kPid),
                                "VID = " + std::to_string(kVid),
                                "Preset = Test"};
  for (int n = 1; n <= 18; ++n) s.push_back("fr" + std::to_string(n) + " = 20");
  s.push_back("OUT1 = 11");
  return s;
}

void WriteLines(const fs::path& path, const std::vector<std::string>& lines) {
  std::ofstream out(path, std::ios::binary);
  for (const std::string& line : lines) out << line << "\r\n";
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Which of the two indicator colours the status text is drawn in: +1 green (USBON), -1 red
// (USBOFF), 0 neither (window not there yet).
int StatusColour(Display& x, Window w) {
  const QImage image = x.Grab(w);
  int green = 0, red = 0;
  for (int y = kStatusText.top(); y <= kStatusText.bottom() && y < image.height(); ++y) {
    for (int px = kStatusText.left(); px <= kStatusText.right() && px < image.width(); ++px) {
      const QColor c = image.pixelColor(px, y);
      green += c.green() > c.red() + 80;
      red += c.red() > c.green() + 80;
    }
  }
  return green > red ? 1 : red > green ? -1 : 0;
}

// What is wrong with the bytes a controller node received (every report 2 bytes: 0, command
// below 0xF0); empty when nothing is.
std::string Malformed(const std::vector<std::uint8_t>& bytes) {
  if (bytes.size() % 2) return "odd length " + std::to_string(bytes.size());
  for (std::size_t i = 0; i < bytes.size(); i += 2)
    if (bytes[i] != 0 || bytes[i + 1] >= 0xF0) return "report " + std::to_string(i / 2);
  return "";
}

bool Has(const std::vector<std::uint8_t>& bytes, std::uint8_t command) {
  for (std::size_t i = 1; i < bytes.size(); i += 2)
    if (bytes[i] == command) return true;
  return false;
}

class ProgramFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("GLIMMERIX_TEST_SERVICES") == nullptr)
      GTEST_SKIP() << "needs scripts/with-test-services (display, tray host, sound server)";
    ASSERT_TRUE(x.ok());
  }

  Window ShowMainWindow() {
    const Window icon = x.WaitForTrayIcon();
    if (icon == 0) return 0;
    Shell("xdotool mousemove --window " + std::to_string(icon) + " 11 15 click 1");
    Window w = 0;
    WaitFor([&] { return (w = x.MappedWindow("Glimmerix")) != 0; }, 5s);
    return w;
  }

  Display x;
};

TEST_F(ProgramFaults, ControllerVanishingWhileWrittenShowsUsbOffInTimeAndGetsBrightAndStepBack) {
  ProgramRun run;
  testing::FakeHidTree hid;  // started after the run's own tree, so the program looks here
  hid.Add(0, kVid, kPid);
  run.Write("Test.patt", Preset());
  run.Write("setting.dat", Settings());
  run.Start();
  const Window window = ShowMainWindow();
  ASSERT_NE(window, 0u) << run.Read("program.log");
  ASSERT_TRUE(WaitFor([&] { return StatusColour(x, window) == 1; }, 3s));

  std::vector<long> off_ms;
  for (int cycle = 0; cycle < 6; ++cycle) {
    // Reports flow every pass (~50 ms); unplug at a different moment of the pass each time.
    ASSERT_TRUE(WaitFor([&] { return hid.Received(0).size() >= 60; }, 3s)) << "cycle " << cycle;
    std::this_thread::sleep_for(std::chrono::milliseconds(9 * cycle));
    const auto before = hid.Received(0);
    hid.Remove(0);
    const auto unplugged = Clock::now();
    ASSERT_TRUE(WaitFor([&] { return StatusColour(x, window) == -1; }, 2s)) << "cycle " << cycle;
    off_ms.push_back(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - unplugged).count());
    EXPECT_EQ(Malformed(before), "") << "cycle " << cycle;
    EXPECT_FALSE(run.WaitExit(0ms).has_value()) << "the program ended";

    hid.Add(0, kVid, kPid);  // back, with a fresh node
    EXPECT_TRUE(WaitFor([&] { return StatusColour(x, window) == 1; }, 2s)) << "cycle " << cycle;
    ASSERT_TRUE(WaitFor(
        [&] {
          const auto b = hid.Received(0);
          return Has(b, 0xC0 + 9) && Has(b, 0xD0 + (100 & 15)) && Has(b, 0xE0 + (100 >> 4));
        },
        2s))
        << "Bright and Step not sent again, cycle " << cycle;
  }
  std::string shown;
  for (long ms : off_ms) shown += std::to_string(ms) + " ";
  std::printf("USBOFF shown after: %sms\n", shown.c_str());
  // The presence check runs every 500 ms; the text is then painted and read back here (20 ms
  // polls of a window grab).
  EXPECT_LE(*std::max_element(off_ms.begin(), off_ms.end()), 600) << shown;

  run.Signal(SIGTERM);
  EXPECT_EQ(run.WaitExit(10s), 0) << "no hang on the way out";
  EXPECT_EQ(Malformed(hid.Received(0)), "");
}

TEST_F(ProgramFaults, SoundServerKilledAndRestartedGoesDarkThenLightsAgain) {
  const std::string socket =
      std::string("unix:") + std::getenv("XDG_RUNTIME_DIR") + "/pulse/native";
  setenv("PULSE_SERVER", socket.c_str(), 1);  // nothing auto-starts another server meanwhile
  ProgramRun run;
  run.Write("Test.patt", Preset());
  run.Write("setting.dat", Settings());
  run.Start();
  const Window window = ShowMainWindow();
  ASSERT_NE(window, 0u) << run.Read("program.log");
  auto lamp11 = [&] { return x.Pixel(window, 10 + 9 * 10 + 4, 5 + 8) == kLampOn; };
  ASSERT_TRUE(testing::WaitForSinkSettled(5s));
  const auto tone = testing::SineSamples(1000.0, 1.0, 40.0);
  auto player = std::make_unique<testing::Player>(tone);
  ASSERT_TRUE(WaitFor(lamp11, 4s)) << "the tone never lit channel 11";

  ASSERT_TRUE(testing::KillSoundServer());
  player.reset();
  EXPECT_TRUE(WaitFor([&] { return !lamp11(); }, 2s)) << "still lit with the server gone";
  const std::size_t reports = run.Reports().size();
  std::this_thread::sleep_for(1s);
  EXPECT_GT(run.Reports().size(), reports) << "passes stopped while the server was down";
  EXPECT_FALSE(lamp11());

  ASSERT_TRUE(testing::StartSoundServer());
  ASSERT_TRUE(testing::WaitForSinkSettled(10s));
  const auto up = Clock::now();
  player = std::make_unique<testing::Player>(tone);
  EXPECT_TRUE(WaitFor(lamp11, 10s)) << "the tone never lit channel 11 again";
  const auto back = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - up);
  std::printf("lit again %lld ms after the server was back\n",
              static_cast<long long>(back.count()));
  EXPECT_LE(back, 6s);
  player.reset();
  run.Signal(SIGTERM);
  EXPECT_EQ(run.WaitExit(10s), 0);
  unsetenv("PULSE_SERVER");
}

// The setting files under a fault, the program run as user 65534 in its own folder.
enum class FileFault { kNone, kReadOnlyFiles, kUnwritableFolder, kFileSizeLimit };

class SettingFiles : public ProgramFaults, public ::testing::WithParamInterface<FileFault> {
 protected:
  void SetUp() override {
    ProgramFaults::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    if (geteuid() != 0 && geteuid() != kNobody)
      GTEST_SKIP() << "SKIPPED LOUDLY: needs root to become user 65534";
    char pattern[] = "/tmp/glimmerix-faults-XXXXXX";
    base = mkdtemp(pattern);
    chmod(base.c_str(), 0755);
    folder = base / "program";
    runtime = base / "runtime";
    fs::create_directories(folder);
    fs::create_directories(runtime);
    fs::copy_file(GLIMMERIX_PROGRAM, folder / "glimmerix");
    fs::copy_file(GLIMMERIX_PLUGIN, folder / "libinpout32.so");
    WriteLines(folder / "Test.patt", Preset());
    WriteLines(folder / "setting.dat", Settings());
    old_settings = ReadAll(folder / "setting.dat");
    old_preset = ReadAll(folder / "Test.patt");
    const FileFault fault = GetParam();
    for (const fs::path& p : {runtime, folder, folder / "setting.dat", folder / "Test.patt"})
      Own(p);
    chmod(runtime.c_str(), 0700);
    if (fault == FileFault::kReadOnlyFiles) {
      chmod((folder / "setting.dat").c_str(), 0444);
      chmod((folder / "Test.patt").c_str(), 0444);
    }
    if (fault == FileFault::kUnwritableFolder && geteuid() == 0) {
      ASSERT_EQ(chown(folder.c_str(), 0, 0), 0);
      chmod(folder.c_str(), 0755);
    }
  }
  void TearDown() override {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    std::error_code ignored;
    if (!base.empty()) fs::remove_all(base, ignored);
  }

  static void Own(const fs::path& p) {
    if (geteuid() == 0) {
      ASSERT_EQ(chown(p.c_str(), kNobody, kNobody), 0) << p;
    }
  }

  // Starts the program as user 65534, under a file-size limit when the fault asks for one. Its
  // output goes to the log (or nowhere under the size limit, which would cut the log short).
  void Start() {
    const bool limited = GetParam() == FileFault::kFileSizeLimit;
    const std::string log = (base / "program.log").string();
    pid = fork();
    if (pid != 0) return;
    const int out = open(limited ? "/dev/null" : log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    dup2(out, 1);
    dup2(out, 2);
    if (limited) {
      // Less than either file: every save is cut off part-way through.
      const rlimit limit{100, 100};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
    }
    if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setresgid(kNobody, kNobody, kNobody) ||
                           setresuid(kNobody, kNobody, kNobody)))
      _exit(126);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    setenv("HOME", runtime.c_str(), 1);
    setenv("GLIMMERIX_HID_ROOT", runtime.c_str(), 1);  // no controller
    unsetenv("PULSE_SERVER");
    if (chdir(folder.c_str()) != 0) _exit(127);
    execl("./glimmerix", "./glimmerix", static_cast<char*>(nullptr));
    _exit(127);
  }

  std::optional<int> WaitExit(std::chrono::milliseconds timeout) {
    int status = 0;
    if (!WaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, timeout))
      return std::nullopt;
    pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  std::set<std::string> FolderEntries() const {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.insert(e.path().filename());
    return names;
  }

  fs::path base, folder, runtime;
  std::string old_settings, old_preset;
  pid_t pid = -1;
};

TEST_P(SettingFiles, ProgramKeepsRunningAndLeavesTheOldFilesIntactWhenItCannotSave) {
  const std::set<std::string> entries = FolderEntries();
  Start();
  const Window window = ShowMainWindow();
  ASSERT_NE(window, 0u) << ReadAll(base / "program.log");
  // A move is saved at once; the exit path saves the controls and the preset.
  Shell("xdotool windowmove " + std::to_string(window) + " 300 200");
  std::this_thread::sleep_for(800ms);
  ASSERT_FALSE(WaitExit(0ms).has_value()) << "the program ended when it could not save";
  Shell("xdotool windowmove " + std::to_string(window) + " 320 220");
  // The window's frame (its outer corner) goes where it is moved.
  EXPECT_TRUE(WaitFor([&] { return x.Frame(window).topLeft() == QPoint(320, 220); }, 2s))
      << "the window no longer follows";
  kill(pid, SIGTERM);
  EXPECT_EQ(WaitExit(10s), 0) << ReadAll(base / "program.log");

  if (GetParam() == FileFault::kNone) {
    // The control case: the same steps do rewrite the file when nothing stops them.
    EXPECT_NE(ReadAll(folder / "setting.dat"), old_settings);
    return;
  }
  EXPECT_EQ(ReadAll(folder / "setting.dat"), old_settings);
  EXPECT_EQ(ReadAll(folder / "Test.patt"), old_preset);
  EXPECT_EQ(FolderEntries(), entries) << "a temporary file was left behind";
}

std::string FaultName(const ::testing::TestParamInfo<FileFault>& info) {
  static const char* const names[] = {"Writable", "ReadOnlyFiles", "UnwritableFolder",
                                      "FileSizeLimit"};
  return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Faults, SettingFiles,
                         ::testing::Values(FileFault::kNone, FileFault::kReadOnlyFiles,
                                           FileFault::kUnwritableFolder, FileFault::kFileSizeLimit),
                         FaultName);

}  // namespace
}  // namespace glimmerix::e2e
