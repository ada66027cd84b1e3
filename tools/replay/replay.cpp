#include "tools/replay/replay.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <istream>
#include <memory>
#include <ostream>
#include <span>

#include "engine/realtime.h"
#include "outputs/dmx_frames.h"
#include "presets/presets.h"
#include "presets/settings_file.h"
#include "program/startup.h"
#include "tools/replay/fd_stream.h"
#include "tools/replay/light_png.h"
#include "tools/replay/sound_input.h"

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
  void WriteRegister(int, int value) override { sink_.push_back(value & 0xFF); }

 private:
  std::vector<int>& sink_;
};

// The DMX output's values for each pass that sends, as the program would put them in its frame.
class RecordingDmx : public ChannelSink {
 public:
  RecordingDmx(const DmxSettings& settings, std::optional<std::array<std::uint8_t, 18>>& sink)
      : settings_(settings), sink_(sink) {}
  void ChannelsSent(const int* states, const float* band_values, bool inverted) override {
    sink_ = DmxChannelValues(settings_, states, band_values, inverted);
  }

 private:
  DmxSettings settings_;
  std::optional<std::array<std::uint8_t, 18>>& sink_;
};

// Spectra from a raw float32 stream, one pass of 2048 values at a time.
class StreamSpectra : public SpectrumSource {
 public:
  explicit StreamSpectra(std::istream& in) : in_(in) {}

  // Reads the next pass into the buffer; false at the end or on a read error (failed() tells
  // it), partial() tells a cut-off pass.
  bool Next() {
    char bytes[kPassBytes];
    in_.read(bytes, kPassBytes);
    const std::size_t got = static_cast<std::size_t>(in_.gcount());
    if (in_.bad()) return false;
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
  bool failed() const { return in_.bad(); }
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

std::string ReplayUsage() {
  return R"(Usage: glimmerix-replay --spectra FILE [options]
       glimmerix-replay --wav FILE [--png PICTURE] [options]
Runs the Glimmerix light-music engine over recorded sound, as the program would, and prints one
JSON line per 50 ms pass: the gain K, the band values Z, the lamps, the USB channel states, the
band bars, the bytes sent to the controller and the parallel port, the keyboard lamp states and
the Level and AGC copies.

  --spectra FILE   raw little-endian float32, 2048 values per pass, passes back to back;
                   "-" reads standard input
)" + std::string(kWavOptionUsage) +
         R"(  --png PICTURE    also draw the light show as a PNG: a pixel column per pass, a band of rows
                   per channel (lamp red when lit, band value in green), channel numbers on the
                   left, time along the bottom (a tick every second)
  --quiet          print no pass lines (with --png: only the picture)
  --dmx            end each pass line with "dmx": the 18 values the DMX output sends to slots
                   start..start+17 (its level and mapping from --settings, else on = 255)
  --settings DIR   start the controls and the mode as the program would with setting.dat and
                   the pattern files of DIR (nothing is written); the options below are applied
                   after it
  --mode N         the mode (1 Manual, 2 Auto, 3 Rnd; other values decide nothing)
  --level N --agc N --bright N --step N    the Level, AGC, Bright and Step bars
  --bars a,b,...   the 18 band-bar positions
  --outputs a,b,...  the 18 output-assignment selections
  --invert 0|1 --lpt 0|1 --key 0|1         the three check boxes
  --seed N         seed of the random generator (default 1)
  --passes N       stop after N passes (only what they need is read)
  --help           print this text

Exit codes:
  0  success
  1  the output could not be written (standard output, the picture)
  2  bad usage, or the input could not be read (missing, unreadable or cut-off file, a folder,
     standard input closed)
)";
}

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
    if (name == "--help") {
      options.help = true;
      return true;
    }
    if (name == "--quiet") {
      options.quiet = true;
      continue;
    }
    if (name == "--dmx") {
      options.dmx = true;
      continue;
    }
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
      options.settings.push_back([mode](ControlTable&, EngineShared& s) { s.mode.store(mode); });
    } else if (name == "--level" || name == "--agc" || name == "--bright" || name == "--step" ||
               name == "--invert" || name == "--lpt" || name == "--key") {
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
  out << "{\"pass\":" << r.pass << ",\"mode\":" << r.mode << ",\"K\":" << engine.gain()
      << ",\"Z\":";
  WriteArray(out, std::span(engine.band_values().data(), 19), [&](float v) { WriteFloat(out, v); });
  out << ",\"lamps\":[";
  for (int i = 0; i < kChannels; ++i) out << (i ? "," : "") << engine.column_lamp(i);
  out << "],\"usb\":[";
  for (int n = 1; n <= kChannels; ++n) out << (n > 1 ? "," : "") << engine.channel_states()[n];
  out << "],\"bars\":[";
  for (int n = 1; n <= kChannels; ++n) out << (n > 1 ? "," : "") << controls.band_bar(n);
  out << "],\"reports\":";
  WriteArray(out, r.reports, [&](std::uint8_t b) {
    static const char* kHex = "0123456789abcdef";
    out << '"' << kHex[b >> 4] << kHex[b & 15] << '"';
  });
  out << ",\"lpt\":";
  WriteArray(out, r.lpt, [&](int v) { out << v; });
  out << ",\"leds\":[" << engine.num_lock_lamp() << ',' << engine.caps_lock_lamp() << ','
      << engine.scroll_lock_lamp() << "],\"qwerty\":" << shared.engine_level_bar.load()
      << ",\"agc\":" << shared.engine_agc_bar.load();
  if (r.dmx) {
    out << ",\"dmx\":";
    WriteArray(out, *r.dmx, [&](std::uint8_t v) { out << static_cast<int>(v); });
  }
  out << '}';
}

int ReplayMain(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
               std::ostream& err) {
  constexpr int kOutputFailed = 1, kInputFailed = 2;
  auto fail = [&](int code, const std::string& message) {
    err << "glimmerix-replay: " << message << "\n";
    return code;
  };
  auto output_failed = [&] {
    return fail(kOutputFailed, "cannot write " + StreamFailure(out, "the output"));
  };

  ReplayOptions options;
  std::string error;
  if (args.empty()) {
    err << ReplayUsage();
    return kInputFailed;
  }
  if (!ParseReplayArgs(args, options, error)) {
    return fail(kInputFailed, error + " (--help shows the usage)");
  }
  if (options.help) {
    out << ReplayUsage();
    out.flush();
    return out ? 0 : output_failed();
  }

  std::optional<FdInBuf> spectra_file;
  std::istream spectra_in(nullptr);
  std::istream* input = &in;
  std::unique_ptr<SoundFileInput> sound_spectra;
  const bool from_sound = !options.wav_path.empty();
  if (from_sound) {
    sound_spectra = MakeSoundFileInput();
    if (!sound_spectra) {
      return fail(kInputFailed, "--wav: this build reads no sound files (--help says more)");
    }
    if (!sound_spectra->Open(options.wav_path, error)) return fail(kInputFailed, error);
  } else if (options.spectra_path != "-") {
    spectra_file.emplace(options.spectra_path);
    if (spectra_file->error() != 0) {
      return fail(kInputFailed, "cannot open " + options.spectra_path + ": " +
                                    std::strerror(spectra_file->error()));
    }
    spectra_in.rdbuf(&*spectra_file);
    input = &spectra_in;
  }

  ControlTable controls;
  EngineShared shared;
  if (options.settings_dir) {
    const std::string& dir = *options.settings_dir;
    if (std::error_code ec; !std::filesystem::is_directory(dir, ec)) {
      return fail(kInputFailed, "--settings: not a folder: " + dir);
    }
    // Start-up's reads of setting.dat and the preset in force, with DIR as the program's folder
    // and the current folder. Nothing here writes a file.
    std::atomic<int> flag_wr{0};
    Presets presets(controls, shared, flag_wr, dir);
    SetControlsAsAtStartup(presets, dir);
  }
  DmxSettings dmx_settings;
  if (options.settings_dir) {
    const DmxKeys keys = ReadDmxKeys(*options.settings_dir);
    dmx_settings =
        CheckDmxSettings(1, keys.universe, keys.start_address, keys.on_level, keys.level_mapping)
            .settings;
  }
  for (const auto& apply : options.settings) apply(controls, shared);
  // The engine starts as the program does: a device present, Bright and Step requested.
  shared.send_bright_and_step.store(1);

  PassRecord record;
  RecordingUsb usb(record.reports);
  RecordingLpt lpt(record.lpt);
  Mt19937Random random(options.seed);
  StreamSpectra spectra(*input);
  LightPicture picture;
  EnginePorts ports;
  ports.spectrum = from_sound ? static_cast<SpectrumSource*>(sound_spectra.get()) : &spectra;
  ports.usb = &usb;
  ports.lpt = &lpt;
  ports.random = &random;
  RecordingDmx dmx(dmx_settings, record.dmx);
  if (options.dmx) ports.channels = &dmx;
  Engine engine(controls, shared, ports);

  for (long long pass = 0; !options.passes || pass < *options.passes; ++pass) {
    if (from_sound) {
      const SoundFileInput::Step step = sound_spectra->Next(error);
      if (step == SoundFileInput::Step::kError) {
        out.flush();
        return fail(kInputFailed, error + " (in pass " + std::to_string(pass) + ")");
      }
      if (step == SoundFileInput::Step::kEnd) break;
    } else if (!spectra.Next()) {
      if (spectra.failed()) {
        out.flush();
        return fail(kInputFailed, "cannot read " + StreamFailure(*input, "the input"));
      }
      if (spectra.partial()) {
        out.flush();
        return fail(kInputFailed, "input ends inside pass " + std::to_string(pass) +
                                      " (not a multiple of 8192 bytes)");
      }
      break;
    }
    record.pass = pass;
    record.mode = shared.mode.load();
    record.reports.clear();
    record.lpt.clear();
    if (options.dmx) record.dmx = std::array<std::uint8_t, 18>{};
    engine.RunPass();
    if (!options.quiet) {
      WritePassJson(out, record, engine, controls, shared);
      out << '\n';
      if (!out) return output_failed();
    }
    if (!options.png_path.empty()) {
      int lamps[kChannels];
      for (int i = 0; i < kChannels; ++i) lamps[i] = engine.column_lamp(i);
      picture.AddPass(engine.band_values().data(), lamps);
    }
  }
  if (!out.flush()) return output_failed();
  if (!options.png_path.empty() && !picture.WritePng(options.png_path, error)) {
    return fail(kOutputFailed, "--png: " + error);
  }
  return 0;
}

}  // namespace glimmerix
