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

}  // namespace twtest
