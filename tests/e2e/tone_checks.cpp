#include "tests/e2e/tone_checks.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace twtest {

std::vector<double> StereoChannel(const std::vector<std::uint8_t>& pcm, int channel) {
  constexpr size_t kFrameBytes = 4;
  std::vector<double> samples;
  samples.reserve(pcm.size() / kFrameBytes);
  for (size_t at = channel * 2; at + 1 < pcm.size(); at += kFrameBytes) {
    const auto value = static_cast<std::int16_t>(pcm[at] | (pcm[at + 1] << 8));
    samples.push_back(value / 32768.0);
  }
  return samples;
}

size_t FirstAbove(const std::vector<double>& samples, double threshold, size_t from) {
  for (size_t i = from; i < samples.size(); ++i) {
    if (std::fabs(samples[i]) > threshold) {
      return i;
    }
  }
  return samples.size();
}

double RmsOf(const std::vector<double>& samples, Span span) {
  const size_t end = std::min(samples.size(), span.from + span.count);
  double sum = 0;
  for (size_t i = span.from; i < end; ++i) {
    sum += samples[i] * samples[i];
  }
  return end > span.from ? std::sqrt(sum / static_cast<double>(end - span.from)) : 0;
}

double DecibelsOf(double ratio) {
  return ratio > 0 ? 20 * std::log10(ratio) : -std::numeric_limits<double>::infinity();
}

Stretch QuietestStretch(const std::vector<double>& samples, Span span, size_t windowSamples,
                        double referenceRms) {
  Stretch quietest{std::numeric_limits<double>::infinity(), span.from};
  const size_t end = std::min(samples.size(), span.from + span.count);
  // Windows a tenth of their length apart: a gap of a window's length
  // fills at least nine tenths of one of them.
  const size_t step = std::max<size_t>(1, windowSamples / 10);
  for (size_t at = span.from; at + windowSamples <= end; at += step) {
    const double level = DecibelsOf(RmsOf(samples, Span{at, windowSamples}) / referenceRms);
    if (level < quietest.levelDb) {
      quietest = Stretch{level, at};
    }
  }
  return quietest;
}

namespace {

// Calls found(index, leftover) for every sample of the span.
template <typename Found>
void ForEachLeftover(const std::vector<double>& samples, Span span, double frequencyHz,
                     Found found) {
  const double twiceCosine = 2 * std::cos(2 * std::numbers::pi * frequencyHz / kRecordRate);
  const size_t end = std::min(samples.size(), span.from + span.count);
  for (size_t i = std::max<size_t>(span.from, 1); i + 1 < end; ++i) {
    found(i, std::fabs(samples[i + 1] + samples[i - 1] - twiceCosine * samples[i]));
  }
}

}  // namespace

Break LargestBreak(const std::vector<double>& samples, Span span, double frequencyHz) {
  Break largest;
  ForEachLeftover(samples, span, frequencyHz, [&](size_t i, double leftover) {
    if (leftover > largest.size) {
      largest = Break{leftover, i};
    }
  });
  return largest;
}

std::vector<size_t> BreaksAbove(const std::vector<double>& samples, Span span, double frequencyHz,
                                double threshold, size_t apart) {
  std::vector<size_t> found;
  ForEachLeftover(samples, span, frequencyHz, [&](size_t i, double leftover) {
    if (leftover > threshold && (found.empty() || i - found.back() > apart)) {
      found.push_back(i);
    }
  });
  return found;
}

}  // namespace twtest
