#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/shell/process.h"
#include "gtest/gtest.h"

namespace glimmerix::shell {
namespace {

std::filesystem::path TempFolder() {
  char pattern[] = "/tmp/glimmerix-shell-XXXXXX";
  return mkdtemp(pattern);
}

TEST(SingleInstance, OnlyOneHolderAtATimeAndTheLockGoesWithItsHolder) {
  const auto folder = TempFolder();
  const std::string path = folder / "Glimmerix";
  {
    SingleInstance first(path);
    EXPECT_TRUE(first.first());
    SingleInstance second(path);  // a separate open file: flock() conflicts even in-process
    EXPECT_FALSE(second.first());
  }
  SingleInstance again(path);
  EXPECT_TRUE(again.first());

  // A lock file that cannot be made counts as a first instance, and says why.
  const std::string missing = (folder / "missing" / "Glimmerix").string();
  SingleInstance nowhere(missing);
  EXPECT_TRUE(nowhere.first());
  EXPECT_EQ(nowhere.state(), SingleInstance::State::kNoLock);
  EXPECT_NE(nowhere.error().find(missing), std::string::npos) << nowhere.error();

  // A symbolic link planted in its place is not followed.
  std::filesystem::remove(path);
  std::filesystem::create_symlink(folder / "elsewhere", path);
  SingleInstance linked(path);
  EXPECT_FALSE(std::filesystem::exists(folder / "elsewhere"));
  std::filesystem::remove_all(folder);
}

// Sets an environment variable for the life of the object (nullptr: unset).
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    const char* old = getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (had_) {
      setenv(name_, old_.c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  bool had_ = false;
  std::string old_;
};

TEST(InstanceLockLocation, RuntimeFolderElseAPrivateFolderOfThisUserInTheTempFolder) {
  const auto temp = TempFolder();
  ScopedEnv tmpdir("TMPDIR", temp.c_str());
  const auto runtime_folder = temp / "run";
  std::filesystem::create_directory(runtime_folder);
  chmod(runtime_folder.c_str(), 0700);
  {
    ScopedEnv runtime("XDG_RUNTIME_DIR", runtime_folder.c_str());
    const LockLocation where = InstanceLockLocation();
    EXPECT_EQ(where.path, (runtime_folder / "Glimmerix").string());
    EXPECT_EQ(where.error, "");
  }
  const auto own = temp / ("glimmerix-" + std::to_string(geteuid()));
  chmod(runtime_folder.c_str(), 0755);  // not private: as good as none
  for (const char* runtime :
       {static_cast<const char*>(nullptr), "", "relative/run", runtime_folder.c_str()}) {
    ScopedEnv env("XDG_RUNTIME_DIR", runtime);
    const LockLocation where = InstanceLockLocation();
    EXPECT_EQ(where.path, (own / "Glimmerix").string()) << where.error;
    struct stat st {};
    ASSERT_EQ(lstat(own.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(st.st_uid, geteuid());
  }

  // Refused, with the reason: open to others, a link, not a folder, another user's.
  ScopedEnv env("XDG_RUNTIME_DIR", nullptr);
  chmod(own.c_str(), 0755);
  LockLocation where = InstanceLockLocation();
  EXPECT_EQ(where.path, "");
  EXPECT_NE(where.error.find("0755"), std::string::npos) << where.error;

  std::filesystem::remove_all(own);
  std::filesystem::create_directory(temp / "elsewhere");
  chmod((temp / "elsewhere").c_str(), 0700);
  std::filesystem::create_directory_symlink(temp / "elsewhere", own);
  where = InstanceLockLocation();
  EXPECT_EQ(where.path, "");
  EXPECT_NE(where.error.find("symbolic link"), std::string::npos) << where.error;

  std::filesystem::remove(own);
  { std::ofstream(own) << "x"; }
  where = InstanceLockLocation();
  EXPECT_EQ(where.path, "");
  EXPECT_NE(where.error.find("not a folder"), std::string::npos) << where.error;

  if (geteuid() == 0) {
    std::filesystem::remove(own);
    std::filesystem::create_directory(own);
    chmod(own.c_str(), 0700);
    ASSERT_EQ(chown(own.c_str(), 65534, 65534), 0);
    where = InstanceLockLocation();
    EXPECT_EQ(where.path, "");
    EXPECT_NE(where.error.find("belongs to user 65534"), std::string::npos) << where.error;
  }
  std::filesystem::remove_all(temp);
}

TEST(ShowRequests, ASecondStartsRequestReachesTheLockHolder) {
  const auto folder = TempFolder();
  EXPECT_FALSE(ShowRequests::Send(folder)) << "nobody listens yet";
  // A socket file left behind by an instance that was killed is replaced.
  { std::ofstream(folder / ShowRequests::kSocketName) << "stale"; }
  {
    ShowRequests requests(folder);
    ASSERT_GE(requests.read_fd(), 0);
    EXPECT_FALSE(requests.Take());
    EXPECT_TRUE(ShowRequests::Send(folder));
    EXPECT_TRUE(ShowRequests::Send(folder));
    EXPECT_TRUE(requests.Take());
    EXPECT_FALSE(requests.Take()) << "both requests were read at once";
    struct stat st {};
    ASSERT_EQ(stat((folder / ShowRequests::kSocketName).c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 077, 0u);
  }
  EXPECT_FALSE(std::filesystem::exists(folder / ShowRequests::kSocketName));
  EXPECT_FALSE(ShowRequests::Send(folder));
  std::filesystem::remove_all(folder);
}

TEST(CommandLine, HelpVersionAndUnknownOptions) {
  auto parse = [](std::vector<const char*> args) {
    args.insert(args.begin(), "glimmerix");
    return ParseCommandLine(static_cast<int>(args.size()), args.data());
  };
  using Action = CommandLine::Action;
  EXPECT_EQ(parse({}).action, Action::kRun);
  EXPECT_EQ(parse({"--help"}).action, Action::kHelp);
  EXPECT_EQ(parse({"-h"}).action, Action::kHelp);
  EXPECT_EQ(parse({"--version"}).action, Action::kVersion);
  EXPECT_EQ(parse({"--version", "--bogus"}).action, Action::kVersion);
  const CommandLine unknown = parse({"--colour"});
  EXPECT_EQ(unknown.action, Action::kUnknown);
  EXPECT_EQ(unknown.unknown, "--colour");
  EXPECT_EQ(parse({"song.wav"}).action, Action::kUnknown);
}

TEST(TerminationSignals, EachSignalReachesThePipeInsteadOfEndingTheProcess) {
  TerminationSignals signals;
  ASSERT_GE(signals.read_fd(), 0);
  EXPECT_EQ(signals.Take(), 0);
  for (int s : {SIGTERM, SIGINT, SIGHUP}) {
    raise(s);
    EXPECT_EQ(signals.Take(), s);
    EXPECT_EQ(signals.Take(), 0);
  }
  TerminationSignals::DefaultsBack();
  struct sigaction now {};
  sigaction(SIGTERM, nullptr, &now);
  EXPECT_EQ(now.sa_handler, SIG_DFL);
}

TEST(TerminationSignals, AHangUpIgnoredAtStartStaysIgnored) {
  signal(SIGHUP, SIG_IGN);  // as nohup leaves it
  {
    TerminationSignals signals;
    raise(SIGHUP);
    EXPECT_EQ(signals.Take(), 0);
    raise(SIGTERM);
    EXPECT_EQ(signals.Take(), SIGTERM) << "the others are handled as ever";
    TerminationSignals::DefaultsBack();
    struct sigaction now {};
    sigaction(SIGHUP, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_IGN);
  }
  struct sigaction now {};
  sigaction(SIGHUP, nullptr, &now);
  EXPECT_EQ(now.sa_handler, SIG_IGN);
  signal(SIGHUP, SIG_DFL);
}

TEST(StandardDescriptors, ClosedOnesAreFilledSoNewFilesNeverTakeTheirPlace) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(0);
    close(2);  // 1 stays open: a mix, as some launchers leave it
    OpenMissingStandardDescriptors();
    const int next = open("/dev/null", O_RDONLY);
    const bool filled = fcntl(0, F_GETFD) >= 0 && fcntl(2, F_GETFD) >= 0;
    _exit(filled && next > 2 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(Platform, UserChoiceThenX11ThenWaylandThenHeadless) {
  auto platform = [](const char* qpa, const char* display, const char* wayland, bool plugin) {
    const PlatformChoice choice = ChoosePlatform(qpa, display, wayland, plugin);
    EXPECT_EQ(choice.refusal, "");
    return choice.platform;
  };
  EXPECT_EQ(platform("wayland", ":0", "wayland-0", false), "");
  EXPECT_EQ(platform(nullptr, ":0", "wayland-0", false), "xcb;offscreen");
  EXPECT_EQ(platform("", ":1", nullptr, false), "xcb;offscreen");
  EXPECT_EQ(platform(nullptr, nullptr, "wayland-0", true), "wayland");
  EXPECT_EQ(platform(nullptr, nullptr, nullptr, false), "offscreen");
  EXPECT_EQ(platform("", "", "", false), "offscreen");
  // Only Wayland, and Qt cannot use it: the user is told what to install or set.
  const PlatformChoice refused = ChoosePlatform(nullptr, "", "wayland-0", false);
  EXPECT_EQ(refused.platform, "");
  EXPECT_NE(refused.refusal.find("qt6-wayland"), std::string::npos) << refused.refusal;
  EXPECT_NE(refused.refusal.find("DISPLAY"), std::string::npos) << refused.refusal;
}

TEST(ProgramFolder, AFolderCountsOnlyWhenItsPathNamesThisVeryExecutable) {
  namespace fs = std::filesystem;
  const fs::path self = fs::read_symlink("/proc/self/exe");
  const std::string real = self.parent_path().string();
  const auto folder = TempFolder();
  fs::create_directories(folder / "link");
  fs::create_directories(folder / "other");
  fs::create_symlink(self, folder / "link" / "prog");
  { std::ofstream(folder / "other" / "prog") << "#!/bin/sh\n"; }
  chmod((folder / "other" / "prog").c_str(), 0755);

  // Through a path: its folder when it names us (links left alone, made absolute), else ours.
  EXPECT_EQ(ProgramFolder((folder / "link" / "prog").string()), (folder / "link").string());
  EXPECT_EQ(ProgramFolder(self.string()), real);
  EXPECT_EQ(ProgramFolder((folder / "other" / "prog").string()), real);
  EXPECT_EQ(ProgramFolder("/nonexistent/prog"), real);
  EXPECT_EQ(ProgramFolder(""), real);
  const fs::path cwd = fs::current_path();
  fs::current_path(folder / "link");
  EXPECT_EQ(ProgramFolder("./prog"), (folder / "link").string());
  fs::current_path(folder / "other");
  EXPECT_EQ(ProgramFolder("./prog"), real) << "a file of the same name in the current folder";

  // A bare name: PATH's absolute entries only; the first match must be us.
  ScopedEnv path("PATH", ("/nonexistent:" + (folder / "link").string()).c_str());
  EXPECT_EQ(ProgramFolder("prog"), (folder / "link").string());
  EXPECT_EQ(ProgramFolder("no-such-program-here"), real);
  for (const char* crafted : {"", ":", ".", "::/nonexistent", "other", "/nonexistent"}) {
    ScopedEnv env("PATH", crafted);
    EXPECT_EQ(ProgramFolder("prog"), real) << "PATH=" << crafted;
  }
  {
    ScopedEnv env("PATH", (folder / "other").c_str());  // found, but not this executable
    EXPECT_EQ(ProgramFolder("prog"), real);
  }
  fs::current_path(cwd);
  fs::remove_all(folder);
}

}  // namespace
}  // namespace glimmerix::shell
