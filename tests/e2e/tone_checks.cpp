#include "tests/e2e/tone_checks.h"

#include <algorithm>
#include <cmath>
#include <complex>
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

std::vector<size_t> QuietStretchesBelow(const std::vector<double>& samples, Span span,
                                        size_t windowSamples, double referenceRms, double floorDb) {
  std::vector<size_t> gaps;
  const size_t end = std::min(samples.size(), span.from + span.count);
  const size_t step = std::max<size_t>(1, windowSamples / 10);
  size_t lastQuietEnd = 0;
  for (size_t at = span.from; at + windowSamples <= end; at += step) {
    if (DecibelsOf(RmsOf(samples, Span{at, windowSamples}) / referenceRms) >= floorDb) {
      continue;
    }
    if (gaps.empty() || at > lastQuietEnd) {
      gaps.push_back(at);
    }
    lastQuietEnd = at + windowSamples;
  }
  return gaps;
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

namespace {

constexpr size_t kPhaseWindow = 1103;  // 25 ms, odd: its middle is a frame

// The tone's phase over a Hann window at frame `at`, as the offset n - f
// modulo one period; NAN where the tone is below half its level.
double OffsetModPeriod(const std::vector<double>& samples, size_t at, double hz, double amplitude) {
  const double omega = 2 * std::numbers::pi * hz / kRecordRate;
  std::complex<double> sum;
  for (size_t k = 0; k < kPhaseWindow; ++k) {
    const double weight = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * k / (kPhaseWindow - 1));
    const double angle = -omega * static_cast<double>(at + k);
    sum += weight * samples[at + k] * std::complex<double>(std::cos(angle), std::sin(angle));
  }
  // A steady tone of amplitude A gives |sum| = A / 2 * (the window's sum).
  const double full = amplitude / 2 * (kPhaseWindow - 1) / 2.0;
  if (std::abs(sum) < full / 2) {
    return NAN;
  }
  return (std::arg(sum) + std::numbers::pi / 2) / omega;
}

}  // namespace

std::vector<ToneOffset> FollowToneOffsets(const std::vector<double>& samples, size_t first,
                                          double hz, double amplitude, size_t stepFrames) {
  const double period = kRecordRate / hz;
  std::vector<ToneOffset> offsets;
  double offset = -static_cast<double>(first);
  for (size_t at = first; at + kPhaseWindow <= samples.size(); at += stepFrames) {
    const double measured = OffsetModPeriod(samples, at, hz, amplitude);
    if (!std::isnan(measured)) {
      offset = measured + std::round((offset - measured) / period) * period;
    }
    offsets.push_back({at + kPhaseWindow / 2, offset});
  }
  return offsets;
}

}  // namespace twtest
