// The program core on Windows with the platform's own outputs and recording: the parallel port
// through inpoutx64.dll (the recording stand-in beside the test program), the USB controller
// through the HID stand-in, the lock lamps and hot keys on Wine's key state, and waveIn.
#include "program/program_core.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "engine/capture/windows/wave_in_recording.h"
#include "outputs/windows/text.h"
#include "tests/outputs/windows/stand_in.h"
#include "tests/program/quiet_front_end.h"
#include "tests/support/temp_folder.h"

namespace glimmerix {
namespace {

using testing::HidStandIn;
using testing::kPid;
using testing::kVid;
using testing::QuietFrontEnd;
using testing::TempFolder;

struct FirstNumber : RandomSource {
  int Uniform(int) override { return 0; }
};

std::unique_ptr<ProgramCore> MakeCore(const std::string& program_folder, FrontEnd& front_end,
                                      const std::string& files_folder) {
  return std::make_unique<ProgramCore>(program_folder, front_end, FrontEndLinks{},
                                       OpenSystemOutputs(), std::make_unique<WaveInRecording>(),
                                       std::make_unique<FirstNumber>(), files_folder);
}

TEST(ProgramCoreWindows, WithoutInpoutx64TheFileMissingBoxNamesItAndNothingStarts) {
  TempFolder program_folder;
  QuietFrontEnd front_end;
  auto core = MakeCore(program_folder.path(), front_end, program_folder.path());
  EXPECT_FALSE(core->Start());
  EXPECT_EQ(front_end.file_missing, "For program to work file is required:\n\r inpoutx64.dll");
}

TEST(ProgramCoreWindows, RunsOnTheWindowsOutputsAndSwitchesThemOffOnExit) {
  HidStandIn stand_in;
  stand_in.Plug(0);
  TempFolder files;
  const std::string record = (std::filesystem::path(files.path()) / "out32.txt").string();
  _putenv_s("GLIMMERIX_LPT_RECORD", record.c_str());
  std::ofstream(std::filesystem::path(files.path()) / "setting.dat", std::ios::binary)
      << "VID = " << kVid << "\r\nPID = " << kPid << "\r\n";
  QuietFrontEnd front_end;
  auto core = MakeCore(Utf8(testing::ProgramFolder()), front_end, files.path());
  ASSERT_TRUE(core->Start()) << front_end.file_missing;
  core->TimerTick();
  EXPECT_TRUE(core->controller().has_handle()) << core->controller().problem();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // a few engine passes
  core->ExitCommand();
  EXPECT_EQ(front_end.quits, 1);

  const auto received = stand_in.Received(0);
  const std::vector<unsigned char> all_off = {0, 0x00, 0, 0x40, 0, 0x80};
  ASSERT_GE(received.size(), all_off.size());
  EXPECT_TRUE(std::equal(all_off.begin(), all_off.end(), received.end() - 6))
      << "the controller's last reports are the all-off ones";
  std::ifstream in(record);
  std::stringstream text;
  text << in.rdbuf();
  const std::string port = text.str();
  ASSERT_GE(port.size(), 22u);
  EXPECT_EQ(port.substr(port.size() - 22), "0x378 0x00\n0x37A 0x0B\n")
      << "the port's last values are the all-off ones";
  _putenv_s("GLIMMERIX_LPT_RECORD", "");
}

}  // namespace
}  // namespace glimmerix
