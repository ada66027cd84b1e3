#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

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

  // A lock file that cannot be made counts as a first instance.
  SingleInstance nowhere((folder / "missing" / "Glimmerix").string());
  EXPECT_TRUE(nowhere.first());

  // A symbolic link planted in its place is not followed.
  std::filesystem::remove(path);
  std::filesystem::create_symlink(folder / "elsewhere", path);
  SingleInstance linked(path);
  EXPECT_FALSE(std::filesystem::exists(folder / "elsewhere"));
  std::filesystem::remove_all(folder);
}

TEST(SingleInstance, LockPathPrefersTheRuntimeFolder) {
  const char* saved = getenv("XDG_RUNTIME_DIR");
  const std::string restore = saved ? saved : "";
  setenv("XDG_RUNTIME_DIR", "/run/user/4242", 1);
  EXPECT_EQ(InstanceLockPath(), "/run/user/4242/Glimmerix");
  setenv("XDG_RUNTIME_DIR", "", 1);
  EXPECT_EQ(InstanceLockPath(), (std::filesystem::temp_directory_path() / "Glimmerix").string());
  if (saved) {
    setenv("XDG_RUNTIME_DIR", restore.c_str(), 1);
  } else {
    unsetenv("XDG_RUNTIME_DIR");
  }
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

TEST(Platform, UserChoiceThenX11ThenWaylandThenHeadless) {
  EXPECT_EQ(ChoosePlatform("wayland", ":0", "wayland-0"), "");
  EXPECT_EQ(ChoosePlatform(nullptr, ":0", "wayland-0"), "xcb;offscreen");
  EXPECT_EQ(ChoosePlatform("", ":1", nullptr), "xcb;offscreen");
  EXPECT_EQ(ChoosePlatform(nullptr, nullptr, "wayland-0"), "");
  EXPECT_EQ(ChoosePlatform(nullptr, nullptr, nullptr), "offscreen");
  EXPECT_EQ(ChoosePlatform("", "", ""), "offscreen");
}

TEST(ProgramFolder, TheStartingPathsFolderWithLinksLeftAlone) {
  EXPECT_EQ(ProgramFolder("/opt/glimmerix/glimmerix"), "/opt/glimmerix");
  EXPECT_EQ(ProgramFolder("./glimmerix"), ".");
  EXPECT_EQ(ProgramFolder("../x/glimmerix"), "../x");
  EXPECT_EQ(ProgramFolder("/glimmerix"), "/");

  // A bare name is found where PATH found it, through a link without resolving it.
  const auto folder = TempFolder();
  std::filesystem::create_directories(folder / "bin");
  std::filesystem::create_directories(folder / "real");
  { std::ofstream(folder / "real" / "glimmerix-test-prog") << "#!/bin/sh\n"; }
  chmod((folder / "real" / "glimmerix-test-prog").c_str(), 0755);
  std::filesystem::create_symlink(folder / "real" / "glimmerix-test-prog",
                                  folder / "bin" / "glimmerix-test-prog");
  const char* saved = getenv("PATH");
  const std::string restore = saved ? saved : "";
  setenv("PATH", ("/nonexistent:" + (folder / "bin").string()).c_str(), 1);
  EXPECT_EQ(ProgramFolder("glimmerix-test-prog"), (folder / "bin").string());
  EXPECT_EQ(ProgramFolder("no-such-program-here"), ".");
  setenv("PATH", restore.c_str(), 1);
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace glimmerix::shell
