#include "outputs/parallel_port.h"

#include <gtest/gtest.h>
#include <unistd.h>

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

  port.LPT_Out(0x378, 0x81);
  port.LPT_Out(0x37A, 0x0A);
  port.SwitchOff();
  port.LPT_Out(0x378, 0xFF);
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
  shared.exit_usb = 1;
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
  unbound.LPT_Out(0x378, 1);
  unbound.SwitchOff();

  Inpout32Library without;
  ASSERT_TRUE(without.Load(GLIMMERIX_NO_OUT32_DIR)) << without.error();
  EXPECT_EQ(without.Out32(), nullptr);
  LptPort port(without);
  port.LPT_Out(0x378, 1);
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
  port.LPT_Out(0x378, 0xFF);
  port.LPT_Out(0x37A, 0x04);
  port.LPT_Out(0x123, 0x01);
  port.SwitchOff();
}

}  // namespace
}  // namespace glimmerix
