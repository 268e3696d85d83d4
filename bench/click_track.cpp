#include "bench/click_track.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <numbers>

namespace twbench {
namespace {

constexpr size_t kPeriodFrames = static_cast<size_t>(kClickPeriodSeconds * kRate);
constexpr size_t kHalfClickFrames = kRate / 1000;  // 1 ms
constexpr size_t kClickFrames = 2 * kHalfClickFrames;
constexpr double kClickThreshold = 0.18;  // above the tone, below the smallest click
constexpr double kSmallestClick = 0.25;
constexpr double kClickStep = 0.1;
constexpr size_t kWindowFrames = kRate / 50;  // 20 ms
constexpr size_t kWindowStep = kWindowFrames / 2;
constexpr double kGapFloorDb = -40;
// A clean 16-bit tone leaves a few steps of the last bit; a jump of one
// sample in the tone leaves about 0.007.
constexpr double kBreakSize = 0.002;
constexpr size_t kClickGuardFrames = kClickFrames + kRate / 1000;

double ClickAmplitude(std::uint64_t number) {
  return kSmallestClick + kClickStep * static_cast<double>(number % kClickKinds);
}

std::int16_t ToPcm(double value) { return static_cast<std::int16_t>(std::lround(value * 32767)); }

double Rms(const std::vector<double>& samples, size_t from, size_t count) {
  double sum = 0;
  for (size_t i = from; i < from + count; ++i) {
    sum += samples[i] * samples[i];
  }
  return std::sqrt(sum / static_cast<double>(count));
}

bool NearClick(size_t at, const std::vector<Click>& clicks) {
  // Clicks are sorted: the one at or before `at` is the only candidate.
  auto after = std::upper_bound(clicks.begin(), clicks.end(), at,
                                [](size_t value, const Click& click) { return value < click.at; });
  if (after != clicks.end() && after->at - at <= kHalfClickFrames) {
    return true;  // the leftover looks one sample ahead
  }
  return after != clicks.begin() && at - std::prev(after)->at <= kClickGuardFrames;
}

}  // namespace

double ClickTrack::LeftSample(std::uint64_t frame) const {
  const std::uint64_t number = frame / kPeriodFrames;
  const std::uint64_t within = frame % kPeriodFrames;
  if (number > 0 && within < kClickFrames) {
    const double amplitude = ClickAmplitude(number);
    return within < kHalfClickFrames ? amplitude : -amplitude;
  }
  const double phase = 2 * std::numbers::pi * kToneHz * static_cast<double>(frame) / kRate;
  return kToneAmplitude * std::sin(phase);
}

std::vector<std::uint8_t> ClickTrack::Next(size_t frames) {
  std::vector<std::uint8_t> bytes(frames * 4, 0);
  for (size_t i = 0; i < frames; ++i, ++frame_) {
    const auto left = static_cast<std::uint16_t>(ToPcm(LeftSample(frame_)));
    bytes[i * 4] = static_cast<std::uint8_t>(left & 0xFF);
    bytes[i * 4 + 1] = static_cast<std::uint8_t>(left >> 8);
  }
  return bytes;
}

std::vector<Click> FindClicks(const std::vector<double>& samples, size_t from, size_t to) {
  std::vector<Click> clicks;
  to = std::min(to, samples.size());
  for (size_t i = from; i + kClickFrames < to; ++i) {
    if (std::fabs(samples[i]) <= kClickThreshold) {
      continue;
    }
    // The click's level is its middle value, not its peak: a Server that
    // resamples (its drift correction) rings at the click's edges by up to
    // 9 % of its height, enough to read the next height up.
    std::array<double, kClickFrames> levels;
    for (size_t j = 0; j < kClickFrames; ++j) {
      levels[j] = std::fabs(samples[i + j]);
    }
    std::nth_element(levels.begin(), levels.begin() + kClickFrames / 2, levels.end());
    const long kind = std::lround((levels[kClickFrames / 2] - kSmallestClick) / kClickStep);
    clicks.push_back(Click{i, static_cast<int>(std::clamp(kind, 0L, kClickKinds - 1L))});
    i += kPeriodFrames / 2;  // the next click is a period later
  }
  return clicks;
}

std::vector<ClickDelay> MatchClickDelays(const std::vector<Click>& sent,
                                         const std::vector<Click>& relayed) {
  constexpr size_t kLongest = kClickKinds * kPeriodFrames;
  std::vector<ClickDelay> delays;
  for (const Click& heard : relayed) {
    for (auto it = sent.rbegin(); it != sent.rend(); ++it) {
      if (it->at > heard.at) {
        continue;
      }
      if (heard.at - it->at >= kLongest) {
        break;
      }
      if (it->kind == heard.kind) {
        delays.push_back({heard.at, static_cast<double>(heard.at - it->at) * 1000.0 / kRate});
        break;
      }
    }
  }
  return delays;
}

std::vector<double> MatchClicks(const std::vector<Click>& sent, const std::vector<Click>& relayed) {
  std::vector<double> delaysMs;
  for (const ClickDelay& delay : MatchClickDelays(sent, relayed)) {
    delaysMs.push_back(delay.ms);
  }
  return delaysMs;
}

Continuity CheckContinuity(const std::vector<double>& samples, size_t from, size_t to,
                           const std::vector<Click>& clicks, double toneHz, double toneAmplitude) {
  Continuity found;
  found.quietestDb = std::numeric_limits<double>::infinity();
  to = std::min(to, samples.size());
  const double toneRms = toneAmplitude / std::numbers::sqrt2;
  bool inGap = false;
  for (size_t at = from; at + kWindowFrames <= to; at += kWindowStep) {
    const double level = 20 * std::log10(std::max(Rms(samples, at, kWindowFrames), 1e-9) / toneRms);
    found.quietestDb = std::min(found.quietestDb, level);
    const bool quiet = level < kGapFloorDb;
    if (quiet && !inGap) {
      ++found.gaps;
      found.gapSeconds.push_back(static_cast<double>(at - from) / kRate);
    }
    inGap = quiet;
  }
  const double twiceCosine = 2 * std::cos(2 * std::numbers::pi * toneHz / kRate);
  size_t lastBreak = 0;
  for (size_t i = std::max<size_t>(from, 1); i + 1 < to; ++i) {
    const double leftover = std::fabs(samples[i + 1] + samples[i - 1] - twiceCosine * samples[i]);
    if (leftover > kBreakSize && !NearClick(i, clicks) &&
        (found.breaks == 0 || i - lastBreak > kWindowFrames)) {
      ++found.breaks;
      found.breakSeconds.push_back(static_cast<double>(i - from) / kRate);
      lastBreak = i;
    }
  }
  return found;
}

}  // namespace twbench
