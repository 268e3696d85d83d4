// How fast a playback device plays a ring that its writer keeps full, and
// one that is never fed, against the monotonic clock: the drift correction
// makes the first faster and the second slower than the format's rate.
#pragma once

#include <string>

namespace twtest {

struct PaceRatios {
  std::string failure;
  double full = 0;  // bytes played per second / the format's bytes per second
  double empty = 0;
};

// Two 44100 Hz stereo 16-bit quarter-second buffers on the playback device
// with this description, played for 18 s; the last 8 s are measured.
PaceRatios MeasurePaceRatios(const std::string& device);

// Measures, prints the figures and checks them: 0.5 % either way once the
// ratio is at its limit; the cursors are read in 10 ms steps and move in
// steps of up to 20 ms (the sound server's requests), 0.25 % of the 8 s.
// A late top-up on a busy machine lets the full ring's low point dip and the
// ratio back off for a while, so the two are checked against each other.
void ExpectPaceFollowsTheRing(const std::string& device);

}  // namespace twtest
