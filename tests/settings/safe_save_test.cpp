// Files the store must leave alone, what it says about them, huge files, and the temporary files
// a killed save leaves behind.
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
#include "tests/support/temp_folder.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define GLIMMERIX_SANITIZED 1
#else
#define GLIMMERIX_SANITIZED 0
#endif

// The 64 MB cases are single-threaded: nothing for the thread sanitizer to see, and minutes
// under it.
#if defined(__SANITIZE_THREAD__)
#define SKIP_HUGE_FILES_UNDER_THREAD_SANITIZER() \
  GTEST_SKIP() << "64 MB files, one thread: skipped under the thread sanitizer"
#else
#define SKIP_HUGE_FILES_UNDER_THREAD_SANITIZER() (void)0
#endif

namespace glimmerix {
namespace {

using testing::TempFolder;
using namespace std::string_literals;

// Writes count copies of line to path without holding them all in memory.
void WriteRepeated(const std::string& path, const std::string& line, std::size_t count) {
  std::FILE* out = std::fopen(path.c_str(), "wb");
  ASSERT_NE(out, nullptr);
  std::string block;
  for (int i = 0; i < 4096; ++i) block += line;
  for (std::size_t done = 0; done < count;) {
    const std::size_t lines = std::min<std::size_t>(4096, count - done);
    ASSERT_EQ(std::fwrite(block.data(), line.size(), lines, out), lines);
    done += lines;
  }
  ASSERT_EQ(std::fclose(out), 0);
}

class SafeSave : public ::testing::Test {
 protected:
  // Opens name, writes one key and closes; returns Close's result and what went to stderr.
  std::pair<bool, std::string> WriteOneKey(const std::string& name) {
    ::testing::internal::CaptureStderr();
    SettingsStore store(folder.path());
    store.Open(name);
    store.WriteNumber("fr1", 9);
    const bool saved = store.Close();
    return {saved, ::testing::internal::GetCapturedStderr()};
  }
  TempFolder folder;
};

// A file whose rewritten form would pass the cap stays as it was: written, the next start would
// refuse it and lose every setting in it.
TEST_F(SafeSave, SaveThatWouldPassTheReadCapIsRefused) {
  SKIP_HUGE_FILES_UNDER_THREAD_SANITIZER();
  // Exactly at the cap; each line grows by two bytes when written (LF to CR LF, ";" to "; ").
  const std::string comment = ";" + std::string(4094, 'c') + "\n";
  const std::size_t lines = SettingsStore::kMaxFileBytes / comment.size();
  WriteRepeated(folder / "setting.dat", comment, lines);
  const auto [saved, said] = WriteOneKey("setting.dat");
  EXPECT_FALSE(saved);
  EXPECT_NE(said.find("setting.dat would grow to"), std::string::npos) << said;
  EXPECT_EQ(std::filesystem::file_size(folder / "setting.dat"), SettingsStore::kMaxFileBytes);
  std::ifstream kept(folder / "setting.dat", std::ios::binary);
  std::string head(2 * comment.size(), '\0');
  kept.read(head.data(), static_cast<std::streamsize>(head.size()));
  EXPECT_EQ(head, comment + comment);
  EXPECT_EQ(folder.Count(), 1);  // no temporary file left

  // Just under the cap the file is written, and reads back.
  const std::string line = "k = " + std::string(4090, 'v') + "\r\n";
  WriteRepeated(folder / "setting.dat", line, SettingsStore::kMaxFileBytes / line.size() - 1);
  EXPECT_TRUE(WriteOneKey("setting.dat").first);
  SettingsStore store(folder.path());
  ASSERT_TRUE(store.Open("setting.dat"));
  EXPECT_EQ(store.ReadNumber("fr1"), 9);
}

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

TEST_F(SafeSave, Utf16FilesAreNeitherReadNorRewritten) {
  for (const std::string& mark : {"\xFF\xFE"s, "\xFE\xFF"s}) {
    const std::string name = mark[0] == '\xFF' ? "le.dat" : "be.dat";
    const std::string old = mark + "f\0r\0"s + "1\0=\0"s + "5\0\r\0\n\0"s;
    folder.Put(name, old);
    const auto [saved, said] = WriteOneKey(name);
    EXPECT_FALSE(saved);
    EXPECT_NE(said.find(name + " is a UTF-16 file"), std::string::npos) << said;
    EXPECT_EQ(WriteOneKey(name).second, "");  // said once
    SettingsStore store(folder.path());
    EXPECT_FALSE(store.Open(name));
    EXPECT_EQ(folder.Take(name), old);
  }
  EXPECT_EQ(folder.Count(), 2);
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
