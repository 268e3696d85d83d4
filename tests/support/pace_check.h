// How fast a playback device plays buffers whose frequency was set 0.5 %
// above and below the format's (DSBCAPS_CTRLFREQUENCY), against the
// monotonic clock: the frequency control is what the playback controller
// steers the rate with.
#pragma once

#include <string>

namespace twtest {

struct PaceRatios {
  std::string failure;
  double full = 0;   // bytes played per second / the format's bytes per second, set faster
  double empty = 0;  // set slower
};

// Two 44100 Hz stereo 16-bit quarter-second buffers on the playback device
// with this description, one kept full and set to 44321 Hz, one never fed
// and set to 43880 Hz, played for 18 s; the last 8 s are measured, as the
// slope through the cursors' readings every 10 ms.
PaceRatios MeasurePaceRatios(const std::string& device);

// Measures, prints the figures and checks them: 0.5 % either way; the
// cursors move in steps of up to 20 ms (the sound server's requests), which
// the slope through some 800 readings evens out. Also checks the control's
// answers: what was set is read back, a frequency out of range is refused,
// and a buffer made without the control refuses it.
void ExpectPaceFollowsTheRing(const std::string& device);

}  // namespace twtest
