// glimmerix-replay --dmx: the DMX output's 18 values per pass, as a last key of each line.
#include <gtest/gtest.h>

#include <sstream>

#include "tests/support/temp_folder.h"
#include "tools/replay/replay.h"

namespace glimmerix {
namespace {

std::string Replay(std::vector<std::string> args, const std::string& input) {
  std::istringstream in(input);
  std::ostringstream out, err;
  EXPECT_EQ(ReplayMain(args, in, out, err), 0) << err.str();
  return out.str();
}

// One pass of spectrum with all its energy in bin `bin`.
std::string OneBin(int bin, float value) {
  std::vector<float> v(kSpectrumBins, 0.0f);
  v[bin] = value;
  return std::string(reinterpret_cast<const char*>(v.data()), v.size() * sizeof(float));
}

// The "dmx" array of the last pass line.
std::string Dmx(const std::string& out) {
  const std::string line = out.substr(out.rfind('\n', out.size() - 2) + 1);
  const auto at = line.find(",\"dmx\":[");
  return at == std::string::npos ? "(none)" : line.substr(at + 8, line.find(']', at) - at - 8);
}

TEST(ReplayDmx, TheValuesComeLastAndLeaveEveryOtherKeyAsItWas) {
  const std::string in = OneBin(200, 0.0101f);
  const std::string plain = Replay({"--spectra", "-", "--mode", "1"}, in);
  const std::string with_dmx = Replay({"--spectra", "-", "--mode", "1", "--dmx"}, in);
  ASSERT_GT(plain.size(), 2u);
  EXPECT_EQ(with_dmx, plain.substr(0, plain.size() - 2) +
                          ",\"dmx\":[0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0]}\n");
}

TEST(ReplayDmx, ChannelElevenLitSendsTheLevelInItsSlotAndInvertTurnsEveryValue) {
  // Energy in band 11 only, every threshold at 0: channel 11 alone is on from the second pass (the
  // first has no Level copy yet).
  const std::vector<std::string> manual = {
      "--spectra", "-",  "--mode", "1",
      "--level",   "70", "--bars", "0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0",
      "--dmx"};
  EXPECT_EQ(Dmx(Replay(manual, OneBin(150, 1.0f) + OneBin(150, 1.0f))),
            "0,0,0,0,0,0,0,0,0,0,255,0,0,0,0,0,0,0");
  auto inverted = manual;
  inverted.insert(inverted.end(), {"--invert", "1"});
  EXPECT_EQ(Dmx(Replay(inverted, OneBin(150, 1.0f) + OneBin(150, 1.0f))),
            "255,255,255,255,255,255,255,255,255,255,0,255,255,255,255,255,255,255");

  // The level and the mapping come from setting.dat with --settings.
  testing::TempFolder folder;
  folder.Put("setting.dat", "DMX = 1\r\nDMX_LEVEL = 100\r\n");
  auto dimmed = manual;
  dimmed.insert(dimmed.end(), {"--settings", folder.path()});
  EXPECT_EQ(Dmx(Replay(dimmed, OneBin(150, 1.0f) + OneBin(150, 1.0f))),
            "0,0,0,0,0,0,0,0,0,0,100,0,0,0,0,0,0,0");
}

}  // namespace
}  // namespace glimmerix
