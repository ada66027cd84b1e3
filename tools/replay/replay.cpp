#include "tools/replay/replay.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <span>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <istream>
#include <ostream>

#include "engine/realtime.h"
#include "tools/replay/light_png.h"
#include "tools/replay/sound_file.h"
#include "presets/presets.h"
#include "presets/settings_file.h"

namespace glimmerix {
namespace {

constexpr std::size_t kPassBytes = kSpectrumBins * sizeof(float);

bool ParseInt(const std::string& text, long long& value) {
  const char* first = text.data();
  const char* last = text.data() + text.size();
  if (first != last && *first == '+') ++first;
  auto [ptr, ec] = std::from_chars(first, last, value);
  return ec == std::errc() && ptr == last && first != last;
}

bool ParseList(const std::string& text, std::vector<int>& values) {
  values.clear();
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = text.find(',', start);
    const std::string item =
        text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    long long v = 0;
    if (!ParseInt(item, v) || v < INT32_MIN || v > INT32_MAX) return false;
    values.push_back(static_cast<int>(v));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return true;
}

class RecordingUsb : public UsbPort {
 public:
  explicit RecordingUsb(std::vector<std::uint8_t>& sink) : sink_(sink) {}
  void SendCommand(std::uint8_t command) override { sink_.push_back(command); }

 private:
  std::vector<std::uint8_t>& sink_;
};

class RecordingLpt : public ParallelPort {
 public:
  explicit RecordingLpt(std::vector<int>& sink) : sink_(sink) {}
  void LPT_Out(int, int value) override { sink_.push_back(value & 0xFF); }

 private:
  std::vector<int>& sink_;
};

// Spectra from a raw float32 stream, one pass of 2048 values at a time.
class StreamSpectra : public SpectrumSource {
 public:
  explicit StreamSpectra(std::istream& in) : in_(in) {}

  // Reads the next pass into the buffer; false at the end (partial() tells a cut-off pass).
  bool Next() {
    char bytes[kPassBytes];
    in_.read(bytes, kPassBytes);
    const std::size_t got = static_cast<std::size_t>(in_.gcount());
    if (got != kPassBytes) {
      partial_ = got != 0;
      return false;
    }
    for (int k = 0; k < kSpectrumBins; ++k) {
      std::uint32_t word;
      std::memcpy(&word, bytes + k * sizeof(float), sizeof word);
      if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap32(word);
      float v;
      std::memcpy(&v, &word, sizeof v);
      next_[k] = std::isfinite(v) ? v : 0.0f;
    }
    return true;
  }
  bool partial() const { return partial_; }
  void Fetch(float* fft) override { std::memcpy(fft, next_, sizeof next_); }

 private:
  std::istream& in_;
  float next_[kSpectrumBins] = {};
  bool partial_ = false;
};

void WriteFloat(std::ostream& out, float v) {
  if (!std::isfinite(v)) {
    out << "null";
    return;
  }
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.9g", static_cast<double>(v));
  out << buffer;
}

template <typename Range, typename Fn>
void WriteArray(std::ostream& out, const Range& range, Fn write) {
  out << '[';
  bool first = true;
  for (const auto& item : range) {
    if (!first) out << ',';
    first = false;
    write(item);
  }
  out << ']';
}

}  // namespace

bool ParseReplayArgs(const std::vector<std::string>& args, ReplayOptions& options,
                     std::string& error) {
  auto bar_option = [&](int gadget_number) {
    return [gadget_number](long long v) {
      return [gadget_number, v](ControlTable& c, EngineShared&) {
        c.set_value(gadget_number,
                    static_cast<int>(std::clamp<long long>(v, INT32_MIN, INT32_MAX)));
      };
    };
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& name = args[i];
    if (i + 1 >= args.size()) {
      error = name.rfind("--", 0) == 0 ? "option " + name + " needs a value"
                                       : "unknown argument: " + name;
      return false;
    }
    const std::string& text = args[++i];
    long long v = 0;
    std::vector<int> list;
    auto need_number = [&]() {
      if (ParseInt(text, v)) return true;
      error = "option " + name + ": not a number: " + text;
      return false;
    };
    if (name == "--spectra") {
      options.spectra_path = text;
    } else if (name == "--wav") {
      options.wav_path = text;
    } else if (name == "--png") {
      options.png_path = text;
    } else if (name == "--mode") {
      if (!need_number()) return false;
      const int mode = static_cast<int>(std::clamp<long long>(v, INT32_MIN, INT32_MAX));
      options.settings.push_back(
          [mode](ControlTable&, EngineShared& s) { s.EFFECT_ZMU.store(mode); });
    } else if (name == "--level" || name == "--agc" || name == "--bright" ||
               name == "--step" || name == "--invert" || name == "--lpt" || name == "--key") {
      if (!need_number()) return false;
      const int g = name == "--level"    ? gadget::kLevelBar
                    : name == "--agc"    ? gadget::kAgcBar
                    : name == "--bright" ? gadget::kBrightBar
                    : name == "--step"   ? gadget::kStepBar
                    : name == "--invert" ? gadget::kInvertCheck
                    : name == "--lpt"    ? gadget::kLptCheck
                                         : gadget::kKeyCheck;
      options.settings.push_back(bar_option(g)(v));
    } else if (name == "--bars" || name == "--outputs") {
      if (!ParseList(text, list)) {
        error = "option " + name + ": not a list of numbers: " + text;
        return false;
      }
      if (list.size() != kChannels) {
        error = "option " + name + " needs 18 values, got " + std::to_string(list.size());
        return false;
      }
      const int first = name == "--bars" ? gadget::kFirstBandBar : gadget::kFirstOutputList;
      options.settings.push_back([first, list](ControlTable& c, EngineShared&) {
        for (int n = 0; n < kChannels; ++n) c.set_value(first + n, list[n]);
      });
    } else if (name == "--settings") {
      options.settings_dir = text;
    } else if (name == "--seed") {
      if (!need_number()) return false;
      options.seed = static_cast<std::uint32_t>(v);
    } else if (name == "--passes") {
      if (!need_number()) return false;
      if (v < 0) {
        error = "option --passes must not be negative";
        return false;
      }
      options.passes = v;
    } else {
      error = "unknown option: " + name;
      return false;
    }
  }
  if (options.spectra_path.empty() == options.wav_path.empty()) {
    error = "give one of --spectra FILE and --wav FILE";
    return false;
  }
  return true;
}

void WritePassJson(std::ostream& out, const PassRecord& r, const Engine& engine,
                   const ControlTable& controls, const EngineShared& shared) {
  out << "{\"pass\":" << r.pass << ",\"mode\":" << r.mode << ",\"K\":" << engine.K()
      << ",\"Z\":";
  WriteArray(out, std::span(engine.Z().data(), 19), [&](float v) { WriteFloat(out, v); });
  out << ",\"lamps\":[";
  for (int i = 0; i < kChannels; ++i) out << (i ? "," : "") << engine.column_lamp(i);
  out << "],\"usb\":[";
  for (int n = 1; n <= kChannels; ++n) out << (n > 1 ? "," : "") << engine.USB()[n];
  out << "],\"bars\":[";
  for (int n = 1; n <= kChannels; ++n) out << (n > 1 ? "," : "") << controls.band_bar(n);
  out << "],\"reports\":";
  WriteArray(out, r.reports, [&](std::uint8_t b) {
    static const char* kHex = "0123456789abcdef";
    out << '"' << kHex[b >> 4] << kHex[b & 15] << '"';
  });
  out << ",\"lpt\":";
  WriteArray(out, r.lpt, [&](int v) { out << v; });
  out << ",\"leds\":[" << engine.NUM() << ',' << engine.CAPS() << ',' << engine.SCROLL()
      << "],\"qwerty\":" << shared.QWERTY.load() << ",\"agc\":" << shared.qqqqqq.load() << '}';
}

int ReplayMain(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
               std::ostream& err) {
  ReplayOptions options;
  std::string error;
  if (!ParseReplayArgs(args, options, error)) {
    err << "glimmerix-replay: " << error << "\n";
    return 2;
  }

  std::ifstream file;
  std::istream* input = &in;
  std::vector<float> sound;
  if (!options.wav_path.empty()) {
    if (!ReadSoundFile(options.wav_path, sound, error)) {
      err << "glimmerix-replay: " << error << "\n";
      return 2;
    }
  } else if (options.spectra_path != "-") {
    file.open(options.spectra_path, std::ios::binary);
    if (!file) {
      err << "glimmerix-replay: cannot open " << options.spectra_path << ": "
          << std::strerror(errno) << "\n";
      return 2;
    }
    input = &file;
  }

  ControlTable controls;
  EngineShared shared;
  if (options.settings_dir) {
    const std::string& dir = *options.settings_dir;
    if (std::error_code ec; !std::filesystem::is_directory(dir, ec)) {
      err << "glimmerix-replay: --settings: not a folder: " << dir << "\n";
      return 2;
    }
    // Start-up's reads of setting.dat and the preset in force, with DIR as the program's folder
    // and the current folder. Nothing here writes a file.
    std::atomic<int> flag_wr{0};
    Presets presets(controls, shared, flag_wr, dir);
    presets.FillPresetList(dir, ReadStartupSettings(dir).Preset);
    ReadControlSettings(controls, dir);
    presets.ApplyAtStartup();
  }
  for (const auto& apply : options.settings) apply(controls, shared);
  // The engine starts as the program does: a device present, Bright and Step requested.
  shared.flag_bright.store(1);

  PassRecord record;
  RecordingUsb usb(record.reports);
  RecordingLpt lpt(record.lpt);
  Mt19937Random random(options.seed);
  StreamSpectra spectra(*input);
  SoundFileSpectra sound_spectra(std::move(sound));
  const bool from_sound = !options.wav_path.empty();
  LightPicture picture;
  EnginePorts ports;
  ports.spectrum = from_sound ? static_cast<SpectrumSource*>(&sound_spectra) : &spectra;
  ports.usb = &usb;
  ports.lpt = &lpt;
  ports.random = &random;
  Engine engine(controls, shared, ports);

  for (long long pass = 0; !options.passes || pass < *options.passes; ++pass) {
    if (from_sound ? !sound_spectra.Next() : !spectra.Next()) {
      if (!from_sound && spectra.partial()) {
        out.flush();
        err << "glimmerix-replay: input ends inside pass " << pass
            << " (not a multiple of 8192 bytes)\n";
        return 2;
      }
      break;
    }
    record.pass = pass;
    record.mode = shared.EFFECT_ZMU.load();
    record.reports.clear();
    record.lpt.clear();
    engine.RunPass();
    WritePassJson(out, record, engine, controls, shared);
    out << '\n';
    if (!options.png_path.empty()) {
      int lamps[kChannels];
      for (int i = 0; i < kChannels; ++i) lamps[i] = engine.column_lamp(i);
      picture.AddPass(engine.Z().data(), lamps);
    }
  }
  out.flush();
  if (!options.png_path.empty() && !picture.WritePng(options.png_path, error)) {
    err << "glimmerix-replay: --png: " << error << "\n";
    return 2;
  }
  return 0;
}

}  // namespace glimmerix
