// The input choice on PipeWire's pulse service, Debian 12's desktop sound server: the tests of
// input_choice_test.cpp run again under scripts/with-test-services with PipeWire, WirePlumber and
// pipewire-pulse as the sound server.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace glimmerix {
namespace {

bool OnPath(const std::string& program) {
  return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

TEST(InputChoiceOnPipeWire, FollowsTheDefaultsAndTheChosenSource) {
  for (const char* program : {"pipewire", "wireplumber", "pipewire-pulse"}) {
    if (!OnPath(program)) {
      GTEST_SKIP() << program
                   << " is not installed here (Debian packages pipewire-pulse and wireplumber), "
                      "so the input choice cannot be tried on PipeWire";
    }
  }
  const std::string command = std::string("GLIMMERIX_TEST_SOUND_SERVER=pipewire bash ") +
                              GLIMMERIX_TEST_SERVICES_SCRIPT + " " + GLIMMERIX_INPUT_CHOICE_TESTS +
                              " --gtest_filter='InputChoice.*' 2>&1";
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
  const int status = pclose(pipe);
  std::fputs(output.c_str(), stdout);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the tests failed on PipeWire";
  // They ran, against PipeWire, and none was skipped.
  EXPECT_NE(output.find("[  PASSED  ] 4 tests"), std::string::npos);
  EXPECT_NE(output.find("(PipeWire)"), std::string::npos) << "the server was not PipeWire";
}

}  // namespace
}  // namespace glimmerix
