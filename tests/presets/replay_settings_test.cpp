// glimmerix-replay --settings DIR: the controls and mode as start-up leaves them, files untouched.
#include <gtest/gtest.h>

#include <sstream>

#include "engine/ports.h"
#include "tests/support/temp_folder.h"
#include "tools/replay/replay.h"

namespace glimmerix {
namespace {

using testing::TempFolder;

struct ReplayRun {
  int code;
  std::string out, err;
};

// One pass over a silent spectrum.
ReplayRun ReplayOnePass(std::vector<std::string> args) {
  args.insert(args.end(), {"--spectra", "-", "--passes", "1"});
  std::istringstream in(std::string(kSpectrumBins * sizeof(float), '\0'));
  std::ostringstream out, err;
  const int code = ReplayMain(args, in, out, err);
  return {code, out.str(), err.str()};
}

std::string Field(const std::string& json, const std::string& name) {
  const std::size_t at = json.find("\"" + name + "\":");
  if (at == std::string::npos) return "(none)";
  const std::size_t start = at + name.size() + 3;
  std::size_t end = start;
  for (int depth = 0; end < json.size(); ++end) {
    const char c = json[end];
    if (c == '[') ++depth;
    if (c == ']') --depth;
    if (depth == 0 && (c == ',' || c == '}')) break;
  }
  return json.substr(start, end - start);
}

TEST(ReplaySettings, StartsAsStartUpLeavesTheControlsAndWritesNothing) {
  TempFolder dir;
  std::string setting = "Preset = Show\r\nKEY_LED = 0\r\n";
  for (int n = 1; n <= 18; ++n)
    setting += "fr" + std::to_string(n) + " = " + std::to_string(n) + "\r\n";
  dir.Put("setting.dat", setting);
  dir.Put("Show.patt", "Effect = 1\r\nLevel = 70\r\nARU = 12\r\n");
  dir.Put("Other.patt", "Effect = 2\r\n");

  ReplayRun r = ReplayOnePass({"--settings", dir.path()});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(Field(r.out, "mode"), "1");
  EXPECT_EQ(Field(r.out, "bars"), "[1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18]");
  EXPECT_EQ(Field(r.out, "qwerty"), "60");
  EXPECT_EQ(Field(r.out, "agc"), "12");

  // Options beside --settings apply after it, wherever they stand.
  r = ReplayOnePass({"--mode", "3", "--level", "5", "--settings", dir.path()});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(Field(r.out, "mode"), "3");
  EXPECT_EQ(Field(r.out, "qwerty"), "5");

  EXPECT_EQ(dir.Take("setting.dat"), setting);
  EXPECT_EQ(dir.Take("Show.patt"), "Effect = 1\r\nLevel = 70\r\nARU = 12\r\n");
  EXPECT_EQ(dir.Count(), 3);
}

TEST(ReplaySettings, WithoutSettingDatTheEmptyPresetStillSelectsDotPatt) {
  TempFolder dir;
  dir.Put(".patt", "Effect = 2\r\nLevel = 40\r\n");
  ReplayRun r = ReplayOnePass({"--settings", dir.path()});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(Field(r.out, "mode"), "2");
  EXPECT_EQ(Field(r.out, "qwerty"), "40");
  EXPECT_FALSE(dir.Has("setting.dat"));

  TempFolder empty;
  r = ReplayOnePass({"--settings", empty.path()});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(Field(r.out, "mode"), "0");
  EXPECT_EQ(Field(r.out, "bars"), "[15,15,15,15,15,15,15,15,15,15,15,15,15,15,15,15,15,15]");
  EXPECT_EQ(empty.Count(), 0);

  r = ReplayOnePass({"--settings", empty / "nowhere"});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("not a folder"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace glimmerix
