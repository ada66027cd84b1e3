// The real program started the ways launchers, shells and attackers start it: its command line,
// crafted argv[0] and PATH, closed standard descriptors, nohup, another user's lock folder, a
// Wayland-only session. Headless (no display), with no controller and a private runtime folder.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace glimmerix {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
constexpr uid_t kNobody = 65534;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

// One start of the program: what it is given, and what it did.
struct Launch {
  fs::path program;                        // the file executed
  std::string argv0;                       // as the caller sets it
  std::vector<std::string> args;           // after argv[0]
  fs::path cwd;                            // the current folder
  std::map<std::string, std::string> env;  // the whole environment
  bool close_standard = false;             // fds 0-2 closed
  bool ignore_hangup = false;              // as nohup leaves SIGHUP
  bool as_nobody = false;
  fs::path out, err;  // where stdout and stderr go

  pid_t pid = -1;

  void Start() {
    pid = fork();
    if (pid != 0) return;
    if (close_standard) {
      close(0);
      close(1);
      close(2);
    } else {
      const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
      const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
      dup2(o, 1);
      dup2(e, 2);
      close(o);
      close(e);
    }
    if (ignore_hangup) signal(SIGHUP, SIG_IGN);
    if (as_nobody && (setgroups(0, nullptr) != 0 || setresgid(kNobody, kNobody, kNobody) != 0 ||
                      setresuid(kNobody, kNobody, kNobody) != 0))
      _exit(126);
    if (chdir(cwd.c_str()) != 0) _exit(127);
    std::vector<std::string> words{argv0};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    std::vector<std::string> pairs;
    for (const auto& [k, v] : env) pairs.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (std::string& p : pairs) envp.push_back(p.data());
    envp.push_back(nullptr);
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }

  // The exit status once the program ended within timeout.
  std::optional<int> WaitExit(std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) != pid) {
      if (std::chrono::steady_clock::now() > end) return std::nullopt;
      std::this_thread::sleep_for(20ms);
    }
    pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  // Signals the program while it runs (never anything else once it has ended).
  void Signal(int signo) const {
    if (pid > 0) kill(pid, signo);
  }

  ~Launch() {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
};

class LaunchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/glimmerix-launch-XXXXXX";
    base = mkdtemp(pattern);
    chmod(base.c_str(), 0755);  // other users reach the program
    for (const char* f : {"install", "cwd", "runtime", "record"}) fs::create_directory(base / f);
    chmod((base / "cwd").c_str(), 0777);
    chmod((base / "record").c_str(), 0777);  // the recording plug-in writes here as any user
    chmod((base / "runtime").c_str(), 0700);
    fs::copy_file(GLIMMERIX_PROGRAM, base / "install" / "glimmerix");
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(base, ignored);
  }

  // A headless start of the installed copy through its absolute path, in the "cwd" folder.
  Launch Make() const {
    Launch run;
    run.program = base / "install" / "glimmerix";
    run.argv0 = run.program.string();
    run.cwd = base / "cwd";
    run.env = {{"PATH", "/usr/bin:/bin"},
               {"HOME", (base / "runtime").string()},
               {"XDG_RUNTIME_DIR", (base / "runtime").string()},
               {"GLIMMERIX_HID_ROOT", (base / "runtime").string()},
               {"GLIMMERIX_PARPORT", "/nonexistent/parport0"},
               {"GLIMMERIX_LPT_RECORD", (base / "record" / "lpt.log").string()}};
    run.out = base / "out.log";
    run.err = base / "err.log";
    return run;
  }

  // The real plug-in beside the installed copy: it finds no port, and says so.
  void InstallRealPlugIn() const {
    fs::copy_file(GLIMMERIX_STAGE_DIR "/libinpout32.so", base / "install" / "libinpout32.so");
  }
  // The running program: the recording plug-in it loaded writes the port every pass.
  bool PortWritten() const {
    return fs::exists(base / "record" / "lpt.log") &&
           fs::file_size(base / "record" / "lpt.log") > 0;
  }

  fs::path base;
};

TEST_F(LaunchTest, HelpAndVersionPrintAndEndBeforeAnythingStartsUnknownOptionsEndWith2) {
  Launch help = Make();
  help.args = {"--help"};
  help.Start();
  ASSERT_EQ(help.WaitExit(5s), 0);
  EXPECT_NE(ReadAll(help.out).find("Usage: glimmerix"), std::string::npos) << ReadAll(help.out);

  Launch version = Make();
  version.args = {"--version"};
  version.Start();
  ASSERT_EQ(version.WaitExit(5s), 0);
  EXPECT_EQ(ReadAll(version.out), "glimmerix " GLIMMERIX_VERSION "\n");

  Launch unknown = Make();
  unknown.args = {"--colour"};
  unknown.Start();
  ASSERT_EQ(unknown.WaitExit(5s), 2);
  EXPECT_NE(ReadAll(unknown.err).find("unknown option '--colour'"), std::string::npos)
      << ReadAll(unknown.err);
  EXPECT_TRUE(fs::is_empty(base / "runtime")) << "no lock was taken";
  EXPECT_TRUE(fs::is_empty(base / "cwd")) << "no setting.dat was written";
}

// An attacker's libinpout32.so in the current folder (or a PATH entry meaning it) is never
// loaded: the program ends with "File missing!" as it does with no plug-in at all.
TEST_F(LaunchTest, ThePlugInIsNeverLoadedFromTheCurrentFolder) {
  fs::copy_file(GLIMMERIX_RECORDING_INPOUT32, base / "cwd" / "libinpout32.so");
  { std::ofstream(base / "cwd" / "glimmerix") << "#!/bin/sh\n"; }  // not the program
  chmod((base / "cwd" / "glimmerix").c_str(), 0755);
  struct Variant {
    std::string argv0, path, ld_library_path;
  };
  const std::vector<Variant> variants = {
      {"glimmerix", "", ""},
      {"glimmerix", ":/usr/bin", ""},
      {"glimmerix", "/nonexistent", ""},
      {"glimmerix", ".", ""},
      {"", "/usr/bin", ""},
      {"./glimmerix", "/usr/bin", ""},
      {"not-on-path", "/usr/bin", ""},
      {"glimmerix", "/usr/bin", ":"},
  };
  for (const Variant& v : variants) {
    SCOPED_TRACE("argv[0]=\"" + v.argv0 + "\" PATH=\"" + v.path + "\" LD_LIBRARY_PATH=\"" +
                 v.ld_library_path + "\"");
    Launch run = Make();
    run.argv0 = v.argv0;
    run.env["PATH"] = v.path;
    if (!v.ld_library_path.empty()) run.env["LD_LIBRARY_PATH"] = v.ld_library_path;
    run.as_nobody = geteuid() == 0;
    run.Start();
    const std::optional<int> status = run.WaitExit(15s);
    EXPECT_EQ(status, 0);
    EXPECT_NE(ReadAll(run.err).find("File missing!"), std::string::npos) << ReadAll(run.err);
    EXPECT_FALSE(PortWritten()) << "the current folder's plug-in ran";
  }
}

// The per-user folder the launcher makes: a link to the installed program and the plug-in beside
// it. Started through the link, that folder is the program folder.
TEST_F(LaunchTest, AFolderLinkingToTheProgramIsTheProgramFolder) {
  const fs::path user = base / "user";
  fs::create_directory(user);
  fs::create_symlink(base / "install" / "glimmerix", user / "glimmerix");
  fs::copy_file(GLIMMERIX_RECORDING_INPOUT32, user / "libinpout32.so");
  for (const bool bare : {false, true}) {
    fs::remove(base / "record" / "lpt.log");
    Launch run = Make();
    run.argv0 = bare ? "glimmerix" : (user / "glimmerix").string();
    run.program = user / "glimmerix";
    run.env["PATH"] = "/nonexistent:" + user.string();
    run.cwd = user;
    run.Start();
    const bool written = [&] {
      for (int i = 0; i < 500 && !PortWritten(); ++i) std::this_thread::sleep_for(20ms);
      return PortWritten();
    }();
    EXPECT_TRUE(written) << (bare ? "by bare name: " : "by path: ") << ReadAll(run.err);
    run.Signal(SIGTERM);
    EXPECT_EQ(run.WaitExit(10s), 0);
  }
}

// Closed fds 0-2 (some launchers), then SIGHUP ignored at start (nohup): the program runs on, and
// says once why the parallel port cannot be written.
TEST_F(LaunchTest, ClosedStandardDescriptorsAndAnIgnoredHangUpLeaveItRunning) {
  InstallRealPlugIn();
  {
    Launch run = Make();
    run.close_standard = true;
    run.Start();
    // The port's problem is written to stderr after about half a second.
    EXPECT_FALSE(run.WaitExit(2500ms).has_value()) << "the program ended by itself";
    // Nothing it opened (lock, sockets, pipes) stands in for a standard stream.
    for (int fd = 0; fd <= 2; ++fd) {
      std::error_code ec;
      const fs::path target =
          fs::read_symlink("/proc/" + std::to_string(run.pid) + "/fd/" + std::to_string(fd), ec);
      EXPECT_EQ(target, "/dev/null") << "fd " << fd;
    }
    run.Signal(SIGTERM);
    EXPECT_EQ(run.WaitExit(10s), 0);
  }
  Launch run = Make();
  run.ignore_hangup = true;
  run.Start();
  std::this_thread::sleep_for(2s);
  run.Signal(SIGHUP);
  EXPECT_FALSE(run.WaitExit(1s).has_value()) << "SIGHUP ended it";
  run.Signal(SIGTERM);
  EXPECT_EQ(run.WaitExit(10s), 0);
  const std::string err = ReadAll(run.err);
  const std::string said =
      "glimmerix: the parallel port cannot be written: /nonexistent/parport0: cannot open: No "
      "such file or directory";
  EXPECT_NE(err.find(said), std::string::npos) << err;
  EXPECT_EQ(err.find(said), err.rfind(said)) << "said once: " << err;
}

// Without XDG_RUNTIME_DIR the lock folder in the temp folder must be this user's own; another
// user's is refused and the reason said, and the program runs.
TEST_F(LaunchTest, AnotherUsersLockFolderIsRefusedAndSaid) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as two users";
  InstallRealPlugIn();
  const fs::path temp = base / "tmp";
  fs::create_directory(temp);
  chmod(temp.c_str(), 01777);
  const fs::path planted = temp / ("glimmerix-" + std::to_string(kNobody));
  fs::create_directory(planted);
  chmod(planted.c_str(), 0700);  // root's, in nobody's name
  Launch run = Make();
  run.env.erase("XDG_RUNTIME_DIR");
  run.env["TMPDIR"] = temp.string();
  run.as_nobody = true;
  run.Start();
  std::this_thread::sleep_for(1500ms);
  ASSERT_FALSE(run.WaitExit(0ms).has_value()) << ReadAll(run.err);
  run.Signal(SIGTERM);
  EXPECT_EQ(run.WaitExit(10s), 0);
  const std::string err = ReadAll(run.err);
  EXPECT_NE(err.find(planted.string() + " belongs to user 0"), std::string::npos) << err;
}

// A Wayland session without XWayland and without Qt's Wayland plugin: a message, not an abort.
TEST_F(LaunchTest, WaylandWithoutItsPlugInSaysWhatIsNeeded) {
  for (const char* dir : {"/usr/lib/x86_64-linux-gnu/qt6/plugins/platforms",
                          "/usr/lib/aarch64-linux-gnu/qt6/plugins/platforms"}) {
    if (fs::exists(fs::path(dir) / "libqwayland-generic.so"))
      GTEST_SKIP() << "Qt's Wayland plugin is installed";
  }
  InstallRealPlugIn();
  Launch run = Make();
  run.env["WAYLAND_DISPLAY"] = "wayland-0";
  run.Start();
  EXPECT_EQ(run.WaitExit(10s), 1);
  const std::string err = ReadAll(run.err);
  EXPECT_NE(err.find("sudo apt-get install qt6-wayland"), std::string::npos) << err;
  EXPECT_NE(err.find("DISPLAY"), std::string::npos) << err;
}

}  // namespace
}  // namespace glimmerix
