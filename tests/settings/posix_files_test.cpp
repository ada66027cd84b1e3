// The settings store on a POSIX file system: permission bits, inodes, symbolic links, FIFOs and a
// write cut short by a file-size limit.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "settings/settings_store.h"
#include "tests/support/temp_folder.h"

namespace glimmerix {
namespace {

using testing::TempFolder;

class PosixSettingsFile : public ::testing::Test {
 protected:
  TempFolder folder;
  SettingsStore store{folder.path()};
};

TEST_F(PosixSettingsFile, ReplacesAtomicallyKeepingPermissionsAndComments) {
  folder.Put("setting.dat", "; mine\r\nfr1 = 3\r\n[Extra]\r\nx = 1\r\n");
  chmod((folder / "setting.dat").c_str(), 0640);
  struct stat before;
  stat((folder / "setting.dat").c_str(), &before);
  ASSERT_TRUE(store.Open("setting.dat"));
  EXPECT_EQ(store.ReadNumber("FR1"), 3);
  store.WriteNumber("fr1", 7);
  ASSERT_TRUE(store.Close());
  struct stat after;
  stat((folder / "setting.dat").c_str(), &after);
  EXPECT_EQ(folder.Take("setting.dat"), "; mine\r\nfr1 = 7\r\n[Extra]\r\nx = 1\r\n");
  EXPECT_EQ(after.st_mode & 07777, 0640u);
  EXPECT_NE(after.st_ino, before.st_ino);  // a new file renamed over the old one
  EXPECT_EQ(folder.Count(), 1);
}

TEST_F(PosixSettingsFile, UnchangedFileIsNotRewritten) {
  folder.Put("setting.dat", "a=1");
  struct stat before, after;
  stat((folder / "setting.dat").c_str(), &before);
  ASSERT_TRUE(store.Open("setting.dat"));
  store.ReadText("a", "");
  store.Close();
  stat((folder / "setting.dat").c_str(), &after);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(folder.Take("setting.dat"), "a=1");
}

TEST_F(PosixSettingsFile, SymbolicLinksAreUpdatedWhereTheyPoint) {
  std::filesystem::create_directory(folder / "real");
  folder.Put("real/target.dat", "a = 1\r\n");
  std::filesystem::create_symlink("real/target.dat", folder / "setting.dat");
  ASSERT_TRUE(store.Open("setting.dat"));
  store.WriteNumber("b", 2);
  ASSERT_TRUE(store.Close());
  EXPECT_TRUE(std::filesystem::is_symlink(folder / "setting.dat"));
  EXPECT_EQ(folder.Take("real/target.dat"), "a = 1\r\nb = 2\r\n");

  // A link whose target does not exist yet gets its target created.
  std::filesystem::create_symlink(folder / "real/new.patt", folder / "x.patt");
  EXPECT_FALSE(store.Open("x.patt"));
  store.WriteNumber("Effect", 1);
  ASSERT_TRUE(store.Close());
  EXPECT_TRUE(std::filesystem::is_symlink(folder / "x.patt"));
  EXPECT_EQ(folder.Take("real/new.patt"), "Effect = 1\r\n");
}

TEST_F(PosixSettingsFile, FifosAreNeverWritten) {
  ASSERT_EQ(mkfifo((folder / "fifo.dat").c_str(), 0644), 0);
  EXPECT_FALSE(store.Open("fifo.dat"));  // returns at once, no writer needed
  store.WriteNumber("a", 1);
  EXPECT_FALSE(store.Close());
  EXPECT_EQ(folder.Count(), 1);
}

// A write that fails half-way (here a file-size limit, as a full disk would) leaves the old
// file byte for byte as it was and the program running.
TEST_F(PosixSettingsFile, FailedWriteLeavesTheOldFileIntact) {
  const std::string old = "; keep me\r\nfr1 = 5\r\n";
  folder.Put("setting.dat", old);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    IgnoreFileSizeSignal();
    const rlimit limit{64, 64};
    setrlimit(RLIMIT_FSIZE, &limit);
    SettingsStore s(folder.path());
    if (!s.Open("setting.dat")) _exit(3);
    s.WriteText("Preset", std::string(200, 'p'));
    _exit(s.Close() ? 4 : 0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status)) << "the write killed the process (signal "
                                 << (WIFSIGNALED(status) ? WTERMSIG(status) : 0) << ")";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the failed write was reported as done";
  EXPECT_EQ(folder.Take("setting.dat"), old);
  EXPECT_EQ(folder.Count(), 1);
}

}  // namespace
}  // namespace glimmerix
