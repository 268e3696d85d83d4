#include "bench/latency_svg.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace twbench {
namespace {

constexpr double kWidth = 960;
constexpr double kHeight = 360;
constexpr double kLeft = 60;
constexpr double kRight = 170;  // the legend
constexpr double kTop = 30;
constexpr double kBottom = 40;
const char* const kColours[] = {"#d62728", "#1f77b4", "#2ca02c", "#9467bd"};

struct Scale {
  double seconds;
  double ms;
  double X(double at) const { return kLeft + at / seconds * (kWidth - kLeft - kRight); }
  double Y(double value) const {
    return kHeight - kBottom - std::min(value, ms) / ms * (kHeight - kTop - kBottom);
  }
};

double TopMs(const LatencyPicture& picture) {
  double top = 500;
  for (const LatencyLine& line : picture.lines) {
    for (const LatencyPoint& point : line.perSecond) {
      top = std::max(top, point.ms * 1.1);
    }
  }
  return std::min(top, 4000.0);
}

void Axes(std::ostringstream& svg, const Scale& scale) {
  svg << "<line x1='" << kLeft << "' y1='" << scale.Y(0) << "' x2='" << scale.X(scale.seconds)
      << "' y2='" << scale.Y(0) << "' stroke='black'/>\n";
  svg << "<line x1='" << kLeft << "' y1='" << scale.Y(0) << "' x2='" << kLeft << "' y2='"
      << scale.Y(scale.ms) << "' stroke='black'/>\n";
  const double msStep = scale.ms > 2000 ? 500 : scale.ms > 800 ? 200 : 100;
  for (double ms = 0; ms <= scale.ms; ms += msStep) {
    svg << "<text x='" << kLeft - 6 << "' y='" << scale.Y(ms) + 4
        << "' text-anchor='end' font-size='11'>" << ms << "</text>\n";
  }
  const double secondStep = scale.seconds > 300 ? 60 : 10;
  for (double at = 0; at <= scale.seconds; at += secondStep) {
    svg << "<text x='" << scale.X(at) << "' y='" << scale.Y(0) + 16
        << "' text-anchor='middle' font-size='11'>" << at << "</text>\n";
  }
  svg << "<text x='" << (kLeft + kWidth - kRight) / 2 << "' y='" << kHeight - 6
      << "' text-anchor='middle' font-size='12'>seconds since connecting</text>\n";
  svg << "<text x='14' y='" << kTop + 10 << "' font-size='12'>latency, ms</text>\n";
}

void Line(std::ostringstream& svg, const Scale& scale, const LatencyLine& line, int index) {
  const char* colour = kColours[index % 4];
  svg << "<polyline fill='none' stroke='" << colour << "' stroke-width='1.5' points='";
  for (const LatencyPoint& point : line.perSecond) {
    svg << scale.X(point.seconds) << ',' << scale.Y(point.ms) << ' ';
  }
  svg << "'/>\n";
  if (line.targetMs >= 0) {
    svg << "<line x1='" << kLeft << "' y1='" << scale.Y(line.targetMs) << "' x2='"
        << scale.X(scale.seconds) << "' y2='" << scale.Y(line.targetMs) << "' stroke='" << colour
        << "' stroke-dasharray='6,4'/>\n";
  }
  for (double gap : line.gapSeconds) {  // gaps: ticks under the axis
    svg << "<line x1='" << scale.X(gap) << "' y1='" << scale.Y(0) + 2 + 4 * index << "' x2='"
        << scale.X(gap) << "' y2='" << scale.Y(0) - 8 << "' stroke='" << colour
        << "' stroke-width='2'/>\n";
  }
  const double y = kTop + 16 * index;
  svg << "<line x1='" << kWidth - kRight + 10 << "' y1='" << y << "' x2='" << kWidth - kRight + 30
      << "' y2='" << y << "' stroke='" << colour << "' stroke-width='2'/>\n";
  svg << "<text x='" << kWidth - kRight + 34 << "' y='" << y + 4 << "' font-size='11'>" << line.name
      << "</text>\n";
}

}  // namespace

bool WriteLatencySvg(const LatencyPicture& picture, const std::string& path) {
  const Scale scale{std::max(picture.seconds, 1.0), TopMs(picture)};
  std::ostringstream svg;
  svg << "<svg xmlns='http://www.w3.org/2000/svg' width='" << kWidth << "' height='" << kHeight
      << "' font-family='sans-serif'>\n<rect width='100%' height='100%' fill='white'/>\n";
  svg << "<text x='" << kLeft << "' y='18' font-size='14'>" << picture.title << "</text>\n";
  for (const auto& [start, length] : picture.spikes) {
    svg << "<rect x='" << scale.X(start) << "' y='" << kTop << "' width='"
        << std::max(1.0, scale.X(start + length) - scale.X(start)) << "' height='"
        << scale.Y(0) - kTop << "' fill='#dddddd'/>\n";
  }
  Axes(svg, scale);
  for (size_t i = 0; i < picture.lines.size(); ++i) {
    Line(svg, scale, picture.lines[i], static_cast<int>(i));
  }
  const double y = kTop + 16 * static_cast<double>(picture.lines.size()) + 10;
  svg << "<text x='" << kWidth - kRight + 10 << "' y='" << y + 4
      << "' font-size='10'>grey: link held or cut</text>\n";
  svg << "<text x='" << kWidth - kRight + 10 << "' y='" << y + 18
      << "' font-size='10'>ticks: gaps; dashed: target</text>\n";
  svg << "</svg>\n";
  std::ofstream file(path);
  file << svg.str();
  return static_cast<bool>(file);
}

}  // namespace twbench
