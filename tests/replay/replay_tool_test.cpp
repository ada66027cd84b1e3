// The built glimmerix-replay as a shell runs it: standard descriptors closed, pointed at a full
// device or a folder; its usage and exit codes; memory and work on a long sound file.
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// What the child's fd 0 or fd 1 is: a path opened on it, closed, or (stdout only) a pipe read
// back into ToolRun::out.
struct Stdio {
  enum Kind { kPath, kClosed, kCaptured } kind;
  std::string path;
};
const Stdio kCaptured{Stdio::kCaptured, {}};
const Stdio kClosed{Stdio::kClosed, {}};
Stdio Path(const std::string& path) {
  return {Stdio::kPath, path};
}

struct ToolRun {
  int code = -1;  // exit status; -1 if it did not exit normally
  std::string out, err;
  long max_rss_kb = 0;
  double cpu_seconds = 0;
};

ToolRun RunTool(const std::vector<std::string>& args, const Stdio& in = Path("/dev/null"),
                const Stdio& out = kCaptured) {
  int out_pipe[2], err_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(err_pipe[1], 2);
    auto place = [](const Stdio& s, int fd, int flags, int captured) {
      if (s.kind == Stdio::kClosed) {
        close(fd);
      } else if (s.kind == Stdio::kCaptured) {
        dup2(captured, fd);
      } else {
        const int opened = open(s.path.c_str(), flags);
        if (opened < 0) _exit(126);
        if (opened != fd) {
          dup2(opened, fd);
          close(opened);
        }
      }
    };
    place(in, 0, O_RDONLY, -1);
    place(out, 1, O_WRONLY, out_pipe[1]);
    std::vector<char*> argv{const_cast<char*>(GLIMMERIX_REPLAY)};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(GLIMMERIX_REPLAY, argv.data());
    _exit(127);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  ToolRun run;
  pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&run.out, &run.err};
  for (int open_pipes = 2; open_pipes > 0;) {
    if (poll(fds, 2, -1) < 0) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !fds[i].revents) continue;
      char buffer[65536];
      const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(got));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_pipes;
      }
    }
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  if (WIFEXITED(status)) run.code = WEXITSTATUS(status);
  run.max_rss_kb = usage.ru_maxrss;
  run.cpu_seconds = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
                    (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  return run;
}

class ReplayTool : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("glimmerix-replay-tool-" + std::to_string(getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
    spectra_ = (dir_ / "two-passes.raw").string();
    std::ofstream(spectra_, std::ios::binary) << std::string(2 * 2048 * sizeof(float), '\0');
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path dir_;
  std::string spectra_;
};

// A run that must fail: its exit code and the message that says why.
struct Failure {
  const char* what;
  std::vector<std::string> args;
  Stdio in, out;
  std::string reason;
};

void ExpectFailures(const std::vector<Failure>& failures, int code) {
  for (const Failure& f : failures) {
    const ToolRun run = RunTool(f.args, f.in, f.out);
    EXPECT_EQ(run.code, code) << f.what << ": " << run.err;
    EXPECT_NE(run.err.find(f.reason), std::string::npos) << f.what << ": " << run.err;
    if (code == 2) {
      EXPECT_EQ(run.out, "") << f.what << ": no pass from input that fails at once";
    }
  }
}

TEST_F(ReplayTool, OutputThatCannotBeWrittenIsExitCodeOneWithTheReason) {
  const Stdio null = Path("/dev/null"), full = Path("/dev/full");
  const std::string folder = dir_.string();
  const std::string no_space = "cannot write standard output: No space left on device";
  ExpectFailures(
      {
          {"standard output on a full device", {"--spectra", spectra_}, null, full, no_space},
          {"standard output closed",
           {"--spectra", spectra_},
           null,
           kClosed,
           "cannot write standard output: Bad file descriptor"},
          {"--help on a full device", {"--help"}, null, full, no_space},
          {"the picture into a folder",
           {"--spectra", spectra_, "--png", folder},
           null,
           kCaptured,
           "cannot write " + folder + ": Is a directory"},
          {"the picture in a missing folder",
           {"--spectra", spectra_, "--png", folder + "/no/x.png"},
           null,
           kCaptured,
           "No such file or directory"},
      },
      1);
}

TEST_F(ReplayTool, InputThatCannotBeReadIsExitCodeTwoWithTheReasonAndNoPass) {
  const Stdio null = Path("/dev/null");
  const std::string folder = dir_.string();
  ExpectFailures(
      {
          {"standard input closed",
           {"--spectra", "-"},
           kClosed,
           kCaptured,
           "cannot read standard input: Bad file descriptor"},
          {"standard input a folder",
           {"--spectra", "-"},
           Path(folder),
           kCaptured,
           "cannot read standard input: Is a directory"},
          {"--spectra a folder",
           {"--spectra", folder},
           null,
           kCaptured,
           "cannot read " + folder + ": Is a directory"},
          {"--wav a folder",
           {"--wav", folder},
           null,
           kCaptured,
           "cannot read " + folder + ": it is a folder"},
      },
      2);
}

TEST_F(ReplayTool, HelpNoArgumentsAndQuiet) {
  const ToolRun help = RunTool({"--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_EQ(help.err, "");
  EXPECT_EQ(help.out.rfind("Usage: glimmerix-replay", 0), 0u) << help.out;
  for (const char* part : {"--quiet", "--png", "Exit codes", "  1  ", "  2  "}) {
    EXPECT_NE(help.out.find(part), std::string::npos) << part;
  }

  const ToolRun bare = RunTool({});
  EXPECT_EQ(bare.code, 2);
  EXPECT_EQ(bare.out, "");
  EXPECT_EQ(bare.err, help.out) << "the usage goes to stderr";

  const std::string png = (dir_ / "show.png").string();
  const ToolRun quiet = RunTool({"--spectra", spectra_, "--quiet", "--png", png});
  EXPECT_EQ(quiet.code, 0) << quiet.err;
  EXPECT_EQ(quiet.out, "");
  std::error_code ec;
  EXPECT_GT(fs::file_size(png, ec), 50u) << ec.message();
  const ToolRun loud = RunTool({"--spectra", spectra_});
  EXPECT_EQ(std::count(loud.out.begin(), loud.out.end(), '\n'), 2);
}

// Three minutes of 48 kHz stereo (about 35 MB): the whole file in a few megabytes, and three passes
// without reading and converting the rest.
TEST_F(ReplayTool, LongSoundFileInBoundedMemoryAndPassesReadOnlyWhatTheyNeed) {
  const std::string wav = (dir_ / "long.wav").string();
  const std::string sox = "sox -n -r 48000 -c 2 -e floating-point -b 32 '" + wav +
                          "' synth 180 sine 100-8000 sine 440 tremolo 3 80";
  ASSERT_EQ(std::system(sox.c_str()), 0) << "needs sox";
  ASSERT_GT(fs::file_size(wav), 30'000'000u);

  const ToolRun whole = RunTool({"--wav", wav, "--mode", "2"});
  EXPECT_EQ(whole.code, 0) << whole.err;
  // 180 s at 22050 Hz is 3600 passes; the converter's output ends a few samples short of that.
  EXPECT_NEAR(std::count(whole.out.begin(), whole.out.end(), '\n'), 3600, 1);
  EXPECT_LT(whole.max_rss_kb, 25'000) << "peak memory in KB";

  const ToolRun three = RunTool({"--wav", wav, "--mode", "2", "--passes", "3"});
  EXPECT_EQ(three.code, 0) << three.err;
  EXPECT_EQ(std::count(three.out.begin(), three.out.end(), '\n'), 3);
  EXPECT_LT(three.cpu_seconds, whole.cpu_seconds / 20)
      << "the whole run took " << whole.cpu_seconds << " s";
}

}  // namespace
