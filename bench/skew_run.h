// The stream benchmark's skew mode: two sound clocks on one machine. A
// tonewire-cli Client captures the built-in "Test tone" with its built-in
// clock run `ppm` fast or slow; a tonewire-cli Server plays it into
// "Speakers" on the rig's sound server, with its drift correction on or off.
//
// The test tone's phase names the sample being heard (437 Hz, set through
// TONEWIRE_TEST_TONE_HZ: 437 whole periods a second), so following the relayed tone's phase every
// 10 ms gives the Client's sample index n heard at each recorded frame, starting from n = 0 at the
// first sound. The latency of that sample is the time since the Client captured it: since
// "Transmitting" (its capture start), less n samples of the Client's skewed clock.
#pragma once

#include <string>
#include <vector>

#include "bench/click_rig.h"
#include "bench/click_track.h"

namespace twbench {

struct SkewFigures {
  int ppm = 0;
  bool corrected = true;
  std::string failure;
  double measuredSeconds = 0;
  std::vector<double> latencyMs;  // one a second, in order, on our clock
  double recordingPpm = 0;        // the recorded sink's clock against ours
  Continuity continuity;
};

SkewFigures MeasureSkew(const ClickRig& rig, const std::string& cliPath, int ppm, bool corrected,
                        double seconds);

void PrintSkew(const std::vector<SkewFigures>& rows);

}  // namespace twbench
