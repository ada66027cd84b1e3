// glimmerix-replay --wav and --png: sound files through the live capture's own fetch.
#include <gtest/gtest.h>
#include <samplerate.h>
#include <sndfile.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tools/replay/light_png.h"
#include "tools/replay/replay.h"

namespace glimmerix {
namespace {

namespace fs = std::filesystem;

class ReplayWav : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("glimmerix-wav-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Writes interleaved float frames with libsndfile; returns the path.
  std::string WriteSound(const std::string& name, const std::vector<float>& frames, int rate,
                         int channels, int format = SF_FORMAT_WAV | SF_FORMAT_FLOAT) {
    const std::string path = (dir_ / name).string();
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    EXPECT_NE(f, nullptr) << sf_strerror(nullptr);
    if (f) {
      sf_writef_float(f, frames.data(), static_cast<sf_count_t>(frames.size() / channels));
      sf_close(f);
    }
    return path;
  }

  struct Run {
    int code;
    std::vector<std::vector<int>> lamps;  // per pass
    std::string err;
  };
  Run Replay(std::vector<std::string> args) {
    std::istringstream in;
    std::ostringstream out, err;
    Run run{ReplayMain(args, in, out, err), {}, err.str()};
    std::istringstream lines(out.str());
    for (std::string line; std::getline(lines, line);) {
      const auto at = line.find("\"lamps\":[");
      std::vector<int> lamps;
      if (at != std::string::npos) {
        std::istringstream list(line.substr(at + 9));
        int v;
        char sep;
        while (lamps.size() < kChannels && list >> v) {
          lamps.push_back(v);
          list >> sep;
        }
      }
      run.lamps.push_back(lamps);
    }
    return run;
  }
  std::vector<std::string> Manual5Level35(const std::string& wav) {
    return {"--wav",   wav,  "--mode", "1",
            "--level", "35", "--bars", "5,5,5,5,5,5,5,5,5,5,5,5,5,5,5,5,5,5"};
  }

  fs::path dir_;
};

std::vector<float> Tone(double hz, double amplitude, double seconds, int rate) {
  std::vector<float> s(static_cast<std::size_t>(seconds * rate));
  for (std::size_t n = 0; n < s.size(); ++n) {
    s[n] = static_cast<float>(amplitude * std::sin(2 * std::numbers::pi * hz * n / rate));
  }
  return s;
}

std::vector<int> Only(int channel) {
  std::vector<int> lamps(kChannels, 0);
  if (channel) lamps[channel - 1] = 1;
  return lamps;
}

TEST_F(ReplayWav, SineLightsOnlyItsChannelWhileTheWindowIsInsideTheTone) {
  // 0.5 s silence, 2 s of 1 kHz, 0.5 s silence.
  std::vector<float> sound(11025, 0.0f);
  const auto tone = Tone(1000.0, 0.5, 2.0, 22050);
  sound.insert(sound.end(), tone.begin(), tone.end());
  sound.insert(sound.end(), 11025, 0.0f);
  const Run run = Replay(Manual5Level35(WriteSound("sine.wav", sound, 22050, 1)));
  ASSERT_EQ(run.code, 0) << run.err;
  ASSERT_EQ(run.lamps.size(), 60u);
  int inside = 0;
  for (int k = 0; k < 60; ++k) {
    const long long end = (k + 1) * 2205LL / 2;
    const long long start = end - 4096;
    if (end <= 11025) {
      EXPECT_EQ(run.lamps[k], Only(0)) << "pass " << k << " before the tone";
    } else if (start >= 11025 && end <= 11025 + 44100) {
      EXPECT_EQ(run.lamps[k], Only(11)) << "pass " << k << " inside the tone";
      ++inside;
    }
  }
  EXPECT_EQ(inside, 37);
}

TEST_F(ReplayWav, SilenceLightsNothingAndThreeSecondsGiveSixtyPasses) {
  const Run run = Replay(Manual5Level35(WriteSound("silence.flac", std::vector<float>(66150, 0.0f),
                                                   22050, 1, SF_FORMAT_FLAC | SF_FORMAT_PCM_16)));
  ASSERT_EQ(run.code, 0) << run.err;
  ASSERT_EQ(run.lamps.size(), 60u);
  for (const auto& lamps : run.lamps) EXPECT_EQ(lamps, Only(0));

  const Run short_file = Replay(Manual5Level35(WriteSound("short.wav", {0.0f}, 22050, 1)));
  EXPECT_EQ(short_file.code, 0);
  EXPECT_TRUE(short_file.lamps.empty()) << "less than one 50 ms step: no pass";
}

// Two tones that come and go, one per side of a 44.1 kHz stereo file, against the same sound
// made directly as its 22050 Hz mono mix.
TEST_F(ReplayWav, StereoAtFortyFourKilohertzLightsAsItsMonoMix) {
  auto mix_at = [](int rate, bool stereo) {
    std::vector<float> frames;
    const int count = 4 * rate;
    for (int n = 0; n < count; ++n) {
      const double t = static_cast<double>(n) / rate;
      // Smooth gates, so the comparison does not hang on where an abrupt edge falls.
      const double a = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * t / 2.0);
      const double b = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * t / 1.3);
      const double left = 0.8 * a * std::sin(2 * std::numbers::pi * 440.0 * t);
      const double right = 0.8 * b * std::sin(2 * std::numbers::pi * 3000.0 * t);
      if (stereo) {
        frames.push_back(static_cast<float>(left));
        frames.push_back(static_cast<float>(right));
      } else {
        frames.push_back(static_cast<float>((left + right) / 2));
      }
    }
    return frames;
  };
  const Run stereo =
      Replay(Manual5Level35(WriteSound("stereo.wav", mix_at(44100, true), 44100, 2)));
  const Run mono = Replay(Manual5Level35(WriteSound("mono.wav", mix_at(22050, false), 22050, 1)));
  ASSERT_EQ(stereo.code, 0) << stereo.err;
  ASSERT_EQ(mono.code, 0) << mono.err;
  ASSERT_EQ(stereo.lamps.size(), 80u);
  ASSERT_EQ(mono.lamps.size(), 80u);
  int lit = 0;
  for (std::size_t k = 0; k < mono.lamps.size(); ++k) {
    EXPECT_EQ(stereo.lamps[k], mono.lamps[k]) << "pass " << k;
    for (int v : mono.lamps[k]) lit += v;
  }
  EXPECT_GT(lit, 40) << "the sound must light something to compare";
}

TEST_F(ReplayWav, UnreadableFilesAreAClearErrorWithCodeTwo) {
  const std::string text = (dir_ / "notes.wav").string();
  std::ofstream(text) << "not a sound file\n";
  for (const std::string& path : {text, (dir_ / "missing.wav").string()}) {
    const Run run = Replay({"--wav", path});
    EXPECT_EQ(run.code, 2);
    EXPECT_NE(run.err.find("cannot read " + path), std::string::npos) << run.err;
    EXPECT_TRUE(run.lamps.empty());
  }
  const Run both = Replay({"--wav", text, "--spectra", "-"});
  EXPECT_EQ(both.code, 2);
}

// A long file made by sox at 48 kHz stereo, read block by block, lights exactly as the same file
// mixed down and converted in one go (what a whole-file reader would do) and replayed at 22050 Hz.
TEST_F(ReplayWav, LongFileLightsAsTheWholeFileConvertedInOneGo) {
  const std::string wav = (dir_ / "long.wav").string();
  const std::string sox = "sox -n -r 48000 -c 2 -e floating-point -b 32 '" + wav +
                          "' synth 100 sine 60-9000 sine 440 tremolo 3 80";
  ASSERT_EQ(std::system(sox.c_str()), 0) << "needs sox";

  SF_INFO info{};
  SNDFILE* f = sf_open(wav.c_str(), SFM_READ, &info);
  ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
  std::vector<float> frames(static_cast<std::size_t>(info.frames * info.channels));
  ASSERT_EQ(sf_readf_float(f, frames.data(), info.frames), info.frames);
  sf_close(f);
  std::vector<float> mono(static_cast<std::size_t>(info.frames));
  for (std::size_t n = 0; n < mono.size(); ++n) {
    double sum = 0;
    for (int c = 0; c < info.channels; ++c) sum += frames[n * info.channels + c];
    mono[n] = static_cast<float>(sum / info.channels);
  }
  std::vector<float> converted(mono.size() / 2 + 64);
  SRC_DATA data{};
  data.data_in = mono.data();
  data.input_frames = static_cast<long>(mono.size());
  data.data_out = converted.data();
  data.output_frames = static_cast<long>(converted.size());
  data.src_ratio = 22050.0 / 48000.0;
  data.end_of_input = 1;
  ASSERT_EQ(src_simple(&data, SRC_SINC_MEDIUM_QUALITY, 1), 0);
  converted.resize(static_cast<std::size_t>(data.output_frames_gen));
  const std::string at_22050 = WriteSound("converted.wav", converted, 22050, 1);

  auto json = [](const std::vector<std::string>& args) {
    std::istringstream in;
    std::ostringstream out, err;
    EXPECT_EQ(ReplayMain(args, in, out, err), 0) << err.str();
    return out.str();
  };
  for (const char* mode : {"1", "2"}) {
    const std::string streamed = json({"--wav", wav, "--mode", mode, "--level", "35"});
    const std::string reference = json({"--wav", at_22050, "--mode", mode, "--level", "35"});
    EXPECT_EQ(std::count(streamed.begin(), streamed.end(), '\n'), 1999) << "mode " << mode;
    EXPECT_TRUE(streamed == reference) << "mode " << mode << ": the lines differ";
  }
}

// The picture: a margin with the channel numbers, then one pixel column per pass, 8 rows per
// channel with channel 18 on top; the lamp rows of a lit channel are red. Under it the time axis.
TEST_F(ReplayWav, PngShowsTheLampsPassByPassWithItsLegend) {
  std::vector<float> sound(22050, 0.0f);
  const auto tone = Tone(1000.0, 0.5, 1.0, 22050);
  sound.insert(sound.end(), tone.begin(), tone.end());
  const std::string png = (dir_ / "show.png").string();
  auto args = Manual5Level35(WriteSound("half.wav", sound, 22050, 1));
  args.insert(args.end(), {"--png", png});
  const Run run = Replay(args);
  ASSERT_EQ(run.code, 0) << run.err;
  ASSERT_EQ(run.lamps.size(), 40u);

  std::stringstream bytes;
  bytes << std::ifstream(png, std::ios::binary).rdbuf();
  const std::string file = bytes.str();
  ASSERT_GT(file.size(), 33u);
  ASSERT_EQ(file.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  auto be32 = [&](std::size_t at) {
    return (std::uint32_t(std::uint8_t(file[at])) << 24) |
           (std::uint32_t(std::uint8_t(file[at + 1])) << 16) |
           (std::uint32_t(std::uint8_t(file[at + 2])) << 8) | std::uint8_t(file[at + 3]);
  };
  ASSERT_EQ(file.substr(12, 4), "IHDR");
  const std::uint32_t width = be32(16), height = be32(20);
  constexpr int kMargin = LightPicture::kLegendWidth;
  EXPECT_EQ(width, kMargin + 40u);
  ASSERT_EQ(height, 144u + LightPicture::kTimeAxisHeight);
  // The image data may span several IDAT chunks.
  std::string packed;
  for (std::size_t at = 8; at + 8 <= file.size();) {
    const std::uint32_t length = be32(at);
    if (file.substr(at + 4, 4) == "IDAT") packed += file.substr(at + 8, length);
    at += 12 + length;
  }
  std::vector<unsigned char> raw(height * (1 + 3 * width));
  uLongf raw_size = raw.size();
  ASSERT_EQ(uncompress(raw.data(), &raw_size, reinterpret_cast<const Bytef*>(packed.data()),
                       packed.size()),
            Z_OK);
  ASSERT_EQ(raw_size, raw.size());
  auto pixel = [&](int x, int y) { return &raw[y * (1 + 3 * width) + 1 + 3 * x]; };
  auto red = [&](int x, int y) { return pixel(x, y)[0]; };
  const int ch11_lamp_row = (18 - 11) * 8, ch10_lamp_row = (18 - 10) * 8;
  for (int k = 0; k < 40; ++k) {
    EXPECT_EQ(red(kMargin + k, ch11_lamp_row) > 200, run.lamps[k][10] == 1) << "pass " << k;
    EXPECT_EQ(red(kMargin + k, ch10_lamp_row) > 200, run.lamps[k][9] == 1) << "pass " << k;
  }
  EXPECT_GT(red(kMargin + 39, ch11_lamp_row), 200) << "the tone's last pass is lit";
  EXPECT_LT(red(kMargin + 5, ch11_lamp_row), 200) << "silence is dark";

  // Each channel's band carries its own number in the margin: 18 different, non-empty marks.
  std::set<std::string> marks;
  for (int channel = 1; channel <= 18; ++channel) {
    std::string mark;
    for (int y = (18 - channel) * 8; y < (19 - channel) * 8; ++y) {
      for (int x = 0; x < kMargin; ++x) mark += pixel(x, y)[0] > 100 ? '#' : '.';
    }
    EXPECT_NE(mark.find('#'), std::string::npos) << "channel " << channel;
    marks.insert(mark);
  }
  EXPECT_EQ(marks.size(), 18u);
  // The time axis: a tick at each whole second (20 passes), nothing between.
  for (int k = 0; k < 40; ++k) {
    EXPECT_EQ(pixel(kMargin + k, 144)[0] > 100, k % 20 == 0) << "pass " << k;
  }
}

}  // namespace
}  // namespace glimmerix
