// Onset to light through the real recording path: tone bursts played into the private sound
// server's sink (scripts/with-test-services), recorded by the live capture, and the engine's passes
// on their own thread (Manual, every threshold 5, Level 35) until the tone's channel lights. Used
// by the functional test and by the latency benchmark, which differ only in how many bursts they
// play and what they make of the times.
//
// Threads: PlayOnsetsToLight starts and joins the engine thread itself; call it from one thread.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "engine/controls.h"
#include "engine/engine.h"

namespace glimmerix::testing {

inline constexpr double kOnsetToneHz = 1000.0;      // lands on channel 11 (bins 128..191)
inline constexpr double kOnsetToneAmplitude = 0.5;  // of full scale
inline constexpr int kOnsetChannel = 11;

// The settings every onset run uses: Manual, every band threshold 5, Level 35.
void SetUpOnsetControls(ControlTable& controls, EngineShared& shared);

struct OnsetRun {
  std::string error;              // empty when the run went through; else what failed
  int onsets = 0;                 // bursts played
  std::vector<double> delays_ms;  // per burst that lit the channel within 1 s: write to light
};

// Plays `onsets` bursts (0.5 s on, 0.7 s off, after one silent cycle), written to pacat in real
// time 5 ms at a time, so the moment a burst is written is the moment it starts to play (give or
// take pacat's 10 ms buffer). Takes about 1.2 s per burst plus start-up.
OnsetRun PlayOnsetsToLight(int onsets);

}  // namespace glimmerix::testing
