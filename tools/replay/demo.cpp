// A built-in demonstration: ten seconds of synthetic music (a bass drum on every beat, a melody
// walking up the scale, hi-hats between) run through the engine in Manual mode, one line of
// 18 lamps per pass, 50 ms apart, as the lights would show it.
#include <chrono>
#include <cmath>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tools/replay/replay.h"

int main() {
  constexpr int kPasses = 200;
  std::string spectra;
  for (int pass = 0; pass < kPasses; ++pass) {
    std::vector<float> bins(glimmerix::kSpectrumBins, 0.0f);
    const int beat = pass % 10;
    if (beat < 2) bins[10] = 0.2f;                        // bass drum
    bins[60 + 20 * ((pass / 10) % 8)] = 0.05f;            // melody
    if (beat == 5) for (int k = 1200; k < 1300; ++k) bins[k] = 0.001f;  // hi-hat
    spectra.append(reinterpret_cast<const char*>(bins.data()), bins.size() * sizeof(float));
  }
  std::istringstream in(spectra);
  std::ostringstream out;
  const int code = glimmerix::ReplayMain(
      {"--spectra", "-", "--mode", "1", "--bars", "9,9,9,9,9,9,9,9,9,9,9,9,9,9,9,9,9,9"}, in, out,
      std::cerr);
  std::istringstream lines(out.str());
  std::cout << "Glimmerix demonstration: 18 channels, low to high ('#' lit)\n";
  for (std::string line; std::getline(lines, line);) {
    const auto at = line.find("\"lamps\":[") + 9;
    std::string row;
    for (int i = 0; i < 18; ++i) row += line[at + 2 * i] == '1' ? '#' : '.';
    std::cout << row << '\n' << std::flush;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return code;
}
