// Huge files read in a child process, links of other users, and the temporary files a killed save
// leaves behind (POSIX: fork, rlimits, file owners).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "settings/settings_store.h"
#include "tests/settings/safe_save_fixture.h"

namespace glimmerix {
namespace {

using testing::SafeSave;
using testing::WriteRepeated;
using namespace std::string_literals;

// A file at the cap made of the shortest lines is loaded in linear time, in memory a small
// multiple of its size, and a lookup in it still finds its one key.
TEST_F(SafeSave, HugeFilesLoadInLittleTimeAndMemory) {
  SKIP_HUGE_FILES_UNDER_THREAD_SANITIZER();
  const std::size_t lines = SettingsStore::kMaxFileBytes / 2 - 8;
  for (const std::string& line : {";\n"s, "a=\n"s}) {
    SCOPED_TRACE(line);
    WriteRepeated(folder / "setting.dat", line, lines * 2 / line.size());
    {
      std::FILE* tail = std::fopen((folder / "setting.dat").c_str(), "ab");
      std::fputs("fr1=4\n", tail);
      std::fclose(tail);
    }
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      const auto start = std::chrono::steady_clock::now();
      SettingsStore store(folder.path());
      const bool read = store.Open("setting.dat") && store.ReadNumber("fr1") == 4;
      const double seconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      rusage usage{};
      getrusage(RUSAGE_SELF, &usage);
      const double peak = static_cast<double>(usage.ru_maxrss) * 1024.0;
      if (!read) _exit(1);
      // Sanitizers slow everything down and keep their own shadow of every byte: only the plain
      // build is measured.
      if (GLIMMERIX_SANITIZED) _exit(0);
      if (seconds > 20) _exit(2);
      if (peak > 8.0 * static_cast<double>(SettingsStore::kMaxFileBytes)) _exit(3);
      _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: not read, 2: too slow, 3: too much memory";
  }
}

// A link of another user's is not followed for a save; the user's own links and root's are.
TEST_F(SafeSave, OnlyLinksOfTheUserOrRootAreFollowedForASave) {
  if (geteuid() != 0) GTEST_SKIP() << "SKIPPED LOUDLY: needs root to give a link away";
  const std::string old = "fr1 = 1\r\n";
  folder.Put("victim", old);
  std::filesystem::create_symlink("victim", folder / "setting.dat");
  ASSERT_EQ(lchown((folder / "setting.dat").c_str(), 65534, 65534), 0);
  // A link of the user's leading to somebody else's link is refused just the same.
  std::filesystem::create_symlink("setting.dat", folder / "mine.dat");

  for (const std::string& name : {"setting.dat"s, "mine.dat"s}) {
    SettingsStore store(folder.path());
    ASSERT_TRUE(store.Open(name));  // still read
    EXPECT_EQ(store.ReadNumber("fr1"), 1);
    store.Close();
    const auto [saved, said] = WriteOneKey(name);
    EXPECT_FALSE(saved) << name;
    EXPECT_NE(said.find("symbolic link of another user's"), std::string::npos) << said;
    EXPECT_EQ(folder.Take("victim"), old);
    EXPECT_TRUE(std::filesystem::is_symlink(folder / name));
  }
  EXPECT_EQ(folder.Count(), 3);

  ASSERT_EQ(lchown((folder / "setting.dat").c_str(), 0, 0), 0);
  EXPECT_TRUE(WriteOneKey("mine.dat").first);
  EXPECT_EQ(folder.Take("victim"), "fr1 = 9\r\n");
  EXPECT_TRUE(std::filesystem::is_symlink(folder / "setting.dat"));
}

// A save killed half-way leaves its temporary file; the next start removes it, and only such
// files: not another live process's, not someone else's, not what merely looks alike.
TEST_F(SafeSave, TemporaryFilesOfKilledSavesAreRemoved) {
  const std::string old = "; keep me\r\nfr1 = 5\r\n";
  folder.Put("setting.dat", old);
  const pid_t killed = fork();
  ASSERT_GE(killed, 0);
  if (killed == 0) {
    // A file-size limit with SIGXFSZ at its default ends the process in the middle of the write.
    signal(SIGXFSZ, SIG_DFL);
    const rlimit limit{64, 64};
    setrlimit(RLIMIT_FSIZE, &limit);
    SettingsStore store(folder.path());
    store.Open("setting.dat");
    store.WriteText("Preset", std::string(200, 'p'));
    store.Close();
    _exit(0);
  }
  int status = 0;
  waitpid(killed, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  ASSERT_EQ(folder.Count(), 2) << "the killed save left no temporary file";

  const pid_t alive = fork();
  ASSERT_GE(alive, 0);
  if (alive == 0) {
    pause();
    _exit(0);
  }
  const std::string dead = std::to_string(killed);
  const std::string kept[] = {
      ".glimmerix-" + std::to_string(alive) + "-0-1.tmp",     // its process still runs
      ".glimmerix-" + std::to_string(getpid()) + "-0-1.tmp",  // this very process
      ".glimmerix-" + dead + "-0.tmp",                        // not the store's pattern
      ".glimmerix-" + dead + "-0-1-2.tmp",
      ".glimmerix-" + dead + "-x-1.tmp",
      "glimmerix-" + dead + "-0-1.tmp",
      ".glimmerix-" + dead + "-0-1.tmp.patt",
      ".glimmerix--0-1.tmp",
  };
  for (const std::string& name : kept) folder.Put(name, "x");
  std::filesystem::create_directory(folder / (".glimmerix-" + dead + "-1-1.tmp"));
  std::filesystem::create_symlink("setting.dat", folder / (".glimmerix-" + dead + "-2-1.tmp"));
  const std::string foreign = ".glimmerix-" + dead + "-3-1.tmp";
  folder.Put(foreign, "x");
  if (geteuid() == 0) {
    ASSERT_EQ(chown((folder / foreign).c_str(), 65534, 65534), 0);
  }
  const int before = folder.Count();

  const int expected = geteuid() == 0 ? 1 : 2;
  EXPECT_EQ(RemoveStaleSaveFiles(folder.path()), expected);
  kill(alive, SIGKILL);
  waitpid(alive, &status, 0);

  EXPECT_EQ(folder.Count(), before - expected);
  for (const std::string& name : kept) EXPECT_TRUE(folder.Has(name)) << name;
  EXPECT_TRUE(folder.Has(".glimmerix-" + dead + "-1-1.tmp"));
  EXPECT_TRUE(folder.Has(".glimmerix-" + dead + "-2-1.tmp"));
  EXPECT_EQ(folder.Take("setting.dat"), old);
}

}  // namespace
}  // namespace glimmerix
