// File permissions that must stop a write, tried as an unprivileged user: as root (as in CI)
// permissions stop nothing, so each case runs in a child process that drops to user and group
// 65534 first. A case whose permission does not bite is skipped, loudly.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include "settings/settings_store.h"
#include "tests/support/temp_folder.h"

namespace glimmerix {
namespace {

using testing::TempFolder;

constexpr uid_t kNobody = 65534;
constexpr int kCannotBite = 77;
constexpr int kCannotDrop = 78;

// Runs fn in a child process as the unprivileged user; its result is the child's exit code.
// A folder the user cannot even reach (a private TMPDIR) makes the case one that cannot fail.
int AsUnprivileged(const std::string& folder, const std::function<int()>& fn) {
  const pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    if (geteuid() == 0 &&
        (setgroups(0, nullptr) != 0 || setresgid(kNobody, kNobody, kNobody) != 0 ||
         setresuid(kNobody, kNobody, kNobody) != 0)) {
      _exit(kCannotDrop);
    }
    _exit(access(folder.c_str(), X_OK) == 0 ? fn() : kCannotBite);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void GiveAway(const std::string& path) {
  if (geteuid() == 0) {
    ASSERT_EQ(chown(path.c_str(), kNobody, kNobody), 0) << path;
  }
}

void ExpectRan(int code) {
  if (code == kCannotDrop) GTEST_SKIP() << "SKIPPED LOUDLY: cannot become user 65534 here";
  if (code == kCannotBite) {
    GTEST_SKIP()
        << "SKIPPED LOUDLY: the permission does not stop user 65534 (or the folder is out of "
           "its reach), so the case cannot fail";
  }
  EXPECT_EQ(code, 0);
}

class Permissions : public ::testing::Test {
 protected:
  void SetUp() override { chmod(folder.path().c_str(), 0755); }
  TempFolder folder;
  const std::string old = "; hand-made\r\nfr1 = 5\r\n";
};

TEST_F(Permissions, ReadOnlyFileIsReadButLeftUntouched) {
  folder.Put("setting.dat", old);
  GiveAway(folder.path());
  GiveAway(folder / "setting.dat");
  chmod((folder / "setting.dat").c_str(), 0444);
  ExpectRan(AsUnprivileged(folder.path(), [&] {
    if (const int fd = open((folder / "setting.dat").c_str(), O_WRONLY); fd >= 0)
      return kCannotBite;
    SettingsStore store(folder.path());
    if (!store.Open("setting.dat") || store.ReadNumber("fr1") != 5) return 1;
    store.WriteNumber("fr1", 9);
    return store.Close() ? 2 : 0;
  }));
  EXPECT_EQ(folder.Take("setting.dat"), old);
  EXPECT_EQ(folder.Count(), 1);
}

TEST_F(Permissions, UnwritableFolderLeavesTheFileIntact) {
  folder.Put("setting.dat", old);
  GiveAway(folder / "setting.dat");
  ExpectRan(AsUnprivileged(folder.path(), [&] {
    if (const int fd = open((folder / "probe").c_str(), O_WRONLY | O_CREAT, 0644); fd >= 0) {
      return kCannotBite;
    }
    SettingsStore store(folder.path());
    if (!store.Open("setting.dat")) return 1;
    store.WriteNumber("fr1", 9);
    return store.Close() ? 2 : 0;
  }));
  EXPECT_EQ(folder.Take("setting.dat"), old);
  EXPECT_EQ(folder.Count(), 1);
}

TEST_F(Permissions, UnreadableFileIsNeverReplaced) {
  folder.Put("setting.dat", old);
  GiveAway(folder.path());
  GiveAway(folder / "setting.dat");
  chmod((folder / "setting.dat").c_str(), 0200);
  ExpectRan(AsUnprivileged(folder.path(), [&] {
    if (const int fd = open((folder / "setting.dat").c_str(), O_RDONLY); fd >= 0)
      return kCannotBite;
    SettingsStore store(folder.path());
    if (store.Open("setting.dat")) return 1;
    store.WriteNumber("X_form", 1);
    return store.Close() ? 2 : 0;
  }));
  chmod((folder / "setting.dat").c_str(), 0600);
  EXPECT_EQ(folder.Take("setting.dat"), old);
  EXPECT_EQ(folder.Count(), 1);
}

// In a shared sticky folder, a link planted by another user (the folder's owner, whose links
// even a kernel that guards sticky folders follows) does not make a save overwrite a file of the
// user's; the user's own link there still works.
TEST_F(Permissions, LinkOfAnotherUserInASharedFolderIsNotFollowed) {
  if (geteuid() != 0) GTEST_SKIP() << "SKIPPED LOUDLY: needs root to plant another user's link";
  constexpr uid_t kOtherUser = 1;
  const std::string shared = folder / "shared", home = folder / "home";
  ASSERT_EQ(mkdir(shared.c_str(), 0777), 0);
  ASSERT_EQ(chown(shared.c_str(), kOtherUser, kOtherUser), 0);
  ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
  ASSERT_EQ(mkdir(home.c_str(), 0755), 0);
  GiveAway(home);
  for (const char* name : {"home/victim", "home/own"}) {
    folder.Put(name, old);
    GiveAway(folder / name);
  }
  ASSERT_EQ(symlink((home + "/victim").c_str(), (shared + "/setting.dat").c_str()), 0);
  ASSERT_EQ(lchown((shared + "/setting.dat").c_str(), kOtherUser, kOtherUser), 0);
  ExpectRan(AsUnprivileged(shared, [&] {
    if (symlink((home + "/own").c_str(), (shared + "/mine.patt").c_str()) != 0) return 3;
    SettingsStore store(shared);
    if (!store.Open("setting.dat") || store.ReadNumber("fr1") != 5) return 1;
    store.WriteNumber("fr1", 9);
    if (store.Close()) return 2;
    store.Open("mine.patt");
    store.WriteNumber("fr1", 9);
    return store.Close() ? 0 : 4;
  }));
  EXPECT_EQ(folder.Take("home/victim"), old);
  EXPECT_EQ(folder.Take("home/own"), "; hand-made\r\nfr1 = 9\r\n");
}

}  // namespace
}  // namespace glimmerix
