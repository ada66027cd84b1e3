// The replay tool's command line, input handling and output format.
#include "tools/replay/replay.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <sstream>

namespace glimmerix {
namespace {

struct ReplayRun {
  int code;
  std::string out, err;
};

ReplayRun Replay(std::vector<std::string> args, const std::string& input = {}) {
  std::istringstream in(input);
  std::ostringstream out, err;
  const int code = ReplayMain(args, in, out, err);
  return {code, out.str(), err.str()};
}

std::string Spectra(const std::vector<std::vector<std::pair<int, float>>>& passes) {
  std::string bytes;
  for (const auto& pass : passes) {
    std::vector<float> v(kSpectrumBins, 0.0f);
    for (auto [bin, value] : pass) v[bin] = value;
    bytes.append(reinterpret_cast<const char*>(v.data()), v.size() * sizeof(float));
  }
  return bytes;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream s(text);
  for (std::string line; std::getline(s, line);) lines.push_back(line);
  return lines;
}

TEST(Replay, FirstPassOfTheDocumentedExample) {
  const ReplayRun r = Replay({"--spectra", "-", "--mode", "1"}, Spectra({{{200, 0.0101f}}}));
  ASSERT_EQ(r.code, 0) << r.err;
  const auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0],
            "{\"pass\":0,\"mode\":1,\"K\":24,\"Z\":[0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,"
            "0.100498751],\"lamps\":[0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0],\"usb\":[0,0,0,0,0,0,"
            "0,0,0,0,0,0,0,0,0,0,0,0],\"bars\":[15,15,15,15,15,15,15,15,15,15,15,15,15,15,15,15,"
            "15,15],\"reports\":[\"00\",\"40\",\"80\",\"cb\",\"d8\",\"e2\"],\"lpt\":[0,11],"
            "\"leds\":[0,0,0],\"qwerty\":35,\"agc\":35}");
}

TEST(Replay, OptionsReachTheControlsClampedAndZIsExact) {
  const std::string in = Spectra({{{150, 1.0f}}, {{150, 1.0f}}, {{150, 1.0f}}});
  const ReplayRun r =
      Replay({"--spectra", "-", "--mode", "1", "--level", "70", "--agc", "0", "--bars",
              "0,0,0,0,0,0,0,0,0,0,45,0,0,0,0,0,0,0", "--outputs",
              "11,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,99", "--lpt", "0", "--passes", "2"},
             in);
  ASSERT_EQ(r.code, 0) << r.err;
  const auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 2u);
  // Level 70 stands at 60, AGC 0 at 1, bar 45 at 39; channel 11 = sqrt(1 * 2) * 60 = 84.85.
  EXPECT_NE(lines[1].find("\"qwerty\":60,\"agc\":1"), std::string::npos) << lines[1];
  EXPECT_NE(lines[1].find("\"bars\":[0,0,0,0,0,0,0,0,0,0,39,"), std::string::npos);
  char z[32];
  std::snprintf(z, sizeof z, "%.9g", static_cast<double>(static_cast<float>(std::sqrt(2.0) * 60)));
  EXPECT_NE(lines[1].find(std::string(",") + z + ","), std::string::npos) << lines[1];
  EXPECT_NE(lines[1].find("\"reports\":[\"00\",\"40\",\"81\"]"), std::string::npos);
  EXPECT_NE(lines[1].find("\"lpt\":[0,11]"), std::string::npos) << "LPT unticked";
}

TEST(Replay, SameSeedSameLightsInRnd) {
  std::vector<std::vector<std::pair<int, float>>> passes(20, {{300, 0.5f}});
  const std::string in = Spectra(passes);
  const ReplayRun a = Replay({"--spectra", "-", "--mode", "3", "--seed", "7"}, in);
  const ReplayRun b = Replay({"--spectra", "-", "--mode", "3", "--seed", "7"}, in);
  const ReplayRun c = Replay({"--spectra", "-", "--mode", "3", "--seed", "8"}, in);
  EXPECT_EQ(a.out, b.out);
  EXPECT_NE(a.out, c.out);
}

TEST(Replay, InputEdges) {
  const std::string two = Spectra({{}, {}});
  ReplayRun r = Replay({"--spectra", "-"}, "");
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, "");
  r = Replay({"--spectra", "-", "--passes", "5"}, two);
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(Lines(r.out).size(), 2u);
  r = Replay({"--spectra", "-"}, two + "abc");
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(Lines(r.out).size(), 2u) << "whole passes first";
  EXPECT_NE(r.err.find("8192"), std::string::npos);
  // NaN and infinity read as 0: a pass of them is silence.
  std::string bad = Spectra({{}});
  const float nan = std::nanf(""), inf = INFINITY;
  std::memcpy(bad.data(), &nan, 4);
  std::memcpy(bad.data() + 400, &inf, 4);
  r = Replay({"--spectra", "-", "--mode", "2"}, bad);
  EXPECT_EQ(r.code, 0);
  EXPECT_NE(r.out.find("\"K\":0,"), std::string::npos) << r.out;
}

TEST(Replay, UsageErrorsExitTwoBeforeAnyOutput) {
  const std::string in = Spectra({{}});
  const std::vector<std::vector<std::string>> bad = {
      {"--spectra", "-", "--bogus", "1"},
      {"--spectra", "-", "--level", "ten"},
      {"--spectra", "-", "--level", "5x"},
      {"--spectra", "-", "--bars", "1,2,3"},
      {"--spectra", "-", "--outputs", "1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19"},
      {"--spectra", "-", "--level"},
      {"--spectra", "/nonexistent/spectra.raw"},
      {"--mode", "1"},
  };
  for (const auto& args : bad) {
    const ReplayRun r = Replay(args, in);
    EXPECT_EQ(r.code, 2) << args[2];
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(r.err.empty());
  }
}

}  // namespace
}  // namespace glimmerix
