#include "outputs/windows/parallel_port_windows.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "outputs/system_outputs.h"
#include "outputs/windows/text.h"
#include "tests/outputs/windows/stand_in.h"
#include "tests/support/temp_folder.h"

// windows.h's macro of that name would rename the port's method here.
#undef LoadLibrary

namespace glimmerix {
namespace {

// The recording inpoutx64.dll beside the test program writes its calls to a file of this test.
class Record {
 public:
  Record() {
    path_ = (std::filesystem::path(folder_.path()) / "out32.txt").string();
    _putenv_s("GLIMMERIX_LPT_RECORD", path_.c_str());
  }
  ~Record() { _putenv_s("GLIMMERIX_LPT_RECORD", ""); }
  std::string Text() const {
    std::ifstream in(path_);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
  }

 private:
  testing::TempFolder folder_;
  std::string path_;
};

std::string ProgramFolder() {
  return Utf8(testing::ProgramFolder());
}

TEST(ParallelPortWindows, TheSystemOutputsLoadInpoutx64FromTheProgramFolderAndWriteThroughIt) {
  Record record;
  SystemOutputs outputs = OpenSystemOutputs();
  EXPECT_EQ(outputs.parallel_port->LibraryFileName(), "inpoutx64.dll");
  ASSERT_TRUE(outputs.parallel_port->LoadLibrary(ProgramFolder()));
  outputs.parallel_port->WriteRegister(0x378, 0x81);
  outputs.parallel_port->WriteRegister(0x37A, 0x0A);
  outputs.parallel_port->SwitchOff();
  outputs.parallel_port->WriteRegister(0x378, 0xFF);
  EXPECT_EQ(outputs.parallel_port->problem(), "");
  outputs.parallel_port->ReleaseLibrary();
  EXPECT_EQ(record.Text(), "0x378 0x81\n0x37A 0x0A\n0x378 0x00\n0x37A 0x0B\n");
}

TEST(ParallelPortWindows, OnlyTheProgramFolderIsLookedInAndAMissingOrBrokenFileIsNamed) {
  Record record;
  testing::TempFolder empty;
  InpoutLibrary library;
  EXPECT_FALSE(library.Load(empty.path()));
  EXPECT_NE(library.error().find("inpoutx64.dll"), std::string::npos) << library.error();
  EXPECT_FALSE(library.Load("")) << "no folder: not looked up through the search path";
  EXPECT_FALSE(library.Load(".")) << "a relative folder neither";

  std::ofstream(std::filesystem::path(empty.path()) / "inpoutx64.dll") << "not a library";
  EXPECT_FALSE(library.Load(empty.path()));
  EXPECT_NE(library.error().find(empty.path()), std::string::npos) << library.error();
  EXPECT_FALSE(library.loaded());
  LptPort unbound(library);
  EXPECT_FALSE(unbound.has_entry_point());
  unbound.WriteRegister(0x378, 1);
  unbound.SwitchOff();
  EXPECT_EQ(record.Text(), "");
}

}  // namespace
}  // namespace glimmerix
