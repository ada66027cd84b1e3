#include "outputs/linux/parallel_port.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "engine/engine.h"

namespace glimmerix {
namespace {

// The recorded Out32 calls, one "0xAAA 0xVV" line each.
class Record {
 public:
  Record() {
    char pattern[] = "/tmp/glimmerix-lpt-XXXXXX";
    const int fd = mkstemp(pattern);
    close(fd);
    path_ = pattern;
    setenv("GLIMMERIX_LPT_RECORD", path_.c_str(), 1);
  }
  ~Record() {
    unsetenv("GLIMMERIX_LPT_RECORD");
    std::filesystem::remove(path_);
  }
  std::string Text() const {
    std::ifstream in(path_);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
  }

 private:
  std::string path_;
};

TEST(ParallelPort, WritesThroughTheLoadedLibraryAndSwitchOffIsLast) {
  Record record;
  Inpout32Library library;
  ASSERT_TRUE(library.Load(GLIMMERIX_RECORDING_INPOUT32_DIR)) << library.error();
  EXPECT_EQ(std::filesystem::path(library.path()).parent_path(),
            std::filesystem::path(GLIMMERIX_RECORDING_INPOUT32_DIR));
  LptPort port(library);
  ASSERT_TRUE(port.has_entry_point());

  port.WriteRegister(0x378, 0x81);
  port.WriteRegister(0x37A, 0x0A);
  port.SwitchOff();
  port.WriteRegister(0x378, 0xFF);
  port.SwitchOff();
  EXPECT_EQ(record.Text(), "0x378 0x81\n0x37A 0x0A\n0x378 0x00\n0x37A 0x0B\n");
}

TEST(ParallelPort, EnginePassReachesThePort) {
  Record record;
  Inpout32Library library;
  ASSERT_TRUE(library.Load(GLIMMERIX_RECORDING_INPOUT32_DIR)) << library.error();
  LptPort port(library);
  ControlTable controls;
  EngineShared shared;
  controls.set_value(gadget::kLptCheck, 1);
  EnginePorts ports;
  ports.lpt = &port;
  Engine engine(controls, shared, ports);
  engine.RunPass();
  shared.closing = 1;
  engine.RunPass();
  EXPECT_EQ(record.Text(), "0x378 0x00\n0x37A 0x0B\n");
}

TEST(ParallelPort, MissingLibraryOrEntryPointWritesNothing) {
  Record record;
  Inpout32Library missing;
  const std::string empty_folder = std::filesystem::temp_directory_path() / "glimmerix-no-such";
  EXPECT_FALSE(missing.Load(empty_folder));
  EXPECT_FALSE(missing.loaded());
  EXPECT_NE(missing.error().find(Inpout32Library::kFileName), std::string::npos) << missing.error();
  const auto broken_folder = std::filesystem::temp_directory_path() / "glimmerix-broken-inpout32";
  std::filesystem::create_directories(broken_folder);
  std::ofstream(broken_folder / Inpout32Library::kFileName) << "not a library";
  EXPECT_FALSE(missing.Load(broken_folder));
  EXPECT_NE(missing.error().find(broken_folder.string()), std::string::npos)
      << "the file that is there but broken is named: " << missing.error();
  std::filesystem::remove_all(broken_folder);
  LptPort unbound(missing);
  EXPECT_FALSE(unbound.has_entry_point());
  unbound.WriteRegister(0x378, 1);
  unbound.SwitchOff();

  Inpout32Library without;
  ASSERT_TRUE(without.Load(GLIMMERIX_NO_OUT32_DIR)) << without.error();
  EXPECT_EQ(without.Out32(), nullptr);
  LptPort port(without);
  port.WriteRegister(0x378, 1);
  port.SwitchOff();
  without.Release();
  EXPECT_FALSE(without.loaded());
  EXPECT_EQ(record.Text(), "");
}

TEST(ParallelPort, RealPlugInExportsOut32AndDoesNothingWithoutAPort) {
  if (std::filesystem::exists("/dev/parport0")) GTEST_SKIP() << "a real port is here";
  Inpout32Library library;
  ASSERT_TRUE(library.Load(GLIMMERIX_STAGE_DIR)) << library.error();
  ASSERT_NE(library.Out32(), nullptr);
  LptPort port(library);
  port.WriteRegister(0x378, 0xFF);
  port.WriteRegister(0x37A, 0x04);
  port.WriteRegister(0x123, 0x01);
  port.SwitchOff();
}

// The real plug-in with a node the program user may not open, said once per attempt.
TEST(ParallelPort, AProblemIsSaidOnceAndAgainAfterARetry) {
  Inpout32Library library;
  ASSERT_TRUE(library.Load(GLIMMERIX_STAGE_DIR)) << library.error();
  const std::string node = std::filesystem::temp_directory_path() / "glimmerix-no-parport";
  std::filesystem::remove(node);
  setenv("GLIMMERIX_PARPORT", node.c_str(), 1);
  LptPort port(library);
  char* said = nullptr;
  size_t said_size = 0;
  std::FILE* out = open_memstream(&said, &said_size);
  port.SayProblemOnce(out);
  EXPECT_EQ(port.problem(), "") << "nothing tried before the first write";
  port.WriteRegister(0x378, 1);
  EXPECT_NE(port.problem().find(node + ": cannot open: No such file or directory"),
            std::string::npos)
      << port.problem();
  port.SayProblemOnce(out);
  port.WriteRegister(0x378, 1);
  port.SayProblemOnce(out);
  std::fflush(out);
  EXPECT_EQ(std::string(said, said_size),
            "glimmerix: the parallel port cannot be written: " + port.problem() + "\n");

  // Retried: a node that is there now (a plain file: ppdev's claim fails) gives a new reason.
  { std::ofstream(node) << ""; }
  port.Retry();
  port.WriteRegister(0x378, 1);
  port.SayProblemOnce(out);
  port.SayProblemOnce(out);
  std::fflush(out);
  EXPECT_NE(std::string(said, said_size).find(node + ": cannot claim the port"), std::string::npos)
      << said;
  EXPECT_EQ(std::count(said, said + said_size, '\n'), 2);
  std::fclose(out);
  std::free(said);
  std::filesystem::remove(node);
  unsetenv("GLIMMERIX_PARPORT");

  // A plug-in without the optional entry points keeps working and reports nothing.
  Inpout32Library recording;
  ASSERT_TRUE(recording.Load(GLIMMERIX_RECORDING_INPOUT32_DIR));
  LptPort plain(recording);
  plain.WriteRegister(0x378, 1);
  plain.Retry();
  EXPECT_EQ(plain.problem(), "");
}

// Without the lp group the port node cannot be opened: the hint says how to join it.
TEST(ParallelPort, PermissionProblemNamesTheLpGroup) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to drop to another user";
  const std::string node = std::filesystem::temp_directory_path() / "glimmerix-root-parport";
  { std::ofstream(node) << ""; }
  chmod(node.c_str(), 0600);
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 ||
        setresuid(65534, 65534, 65534) != 0)
      _exit(126);
    setenv("GLIMMERIX_PARPORT", node.c_str(), 1);
    Inpout32Library library;
    if (!library.Load(GLIMMERIX_STAGE_DIR)) _exit(125);
    LptPort port(library);
    port.WriteRegister(0x378, 1);
    const std::string text = port.problem();
    _exit(write(pipe_fds[1], text.data(), text.size()) == static_cast<ssize_t>(text.size()) ? 0
                                                                                            : 124);
  }
  close(pipe_fds[1]);
  std::string text;
  char buffer[256];
  ssize_t n;
  while ((n = read(pipe_fds[0], buffer, sizeof buffer)) > 0) text.append(buffer, n);
  close(pipe_fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  std::filesystem::remove(node);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_NE(text.find(node + ": cannot open: Permission denied"), std::string::npos) << text;
  EXPECT_NE(text.find("sudo usermod -aG lp $USER"), std::string::npos) << text;
}

}  // namespace
}  // namespace glimmerix
