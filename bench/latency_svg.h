// One picture per link profile: the latency of each setup, second by
// second, with the link's spikes shaded, the Server's chosen target and
// every gap marked. Plain SVG, no library.
#pragma once

#include <string>
#include <vector>

namespace twbench {

struct LatencyPoint {
  double seconds = 0;  // since the connection through the link
  double ms = 0;
};

struct LatencyLine {
  std::string name;
  std::vector<LatencyPoint> perSecond;
  std::vector<double> gapSeconds;
  double targetMs = -1;  // the Server's chosen target; < 0 when not known
};

struct LatencyPicture {
  std::string title;
  double seconds = 0;
  std::vector<std::pair<double, double>> spikes;  // start and length, in seconds
  std::vector<LatencyLine> lines;
};

// False when the file cannot be written.
bool WriteLatencySvg(const LatencyPicture& picture, const std::string& path);

}  // namespace twbench
