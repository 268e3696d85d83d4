#include "tests/support/signal_analysis.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace twtest {

std::vector<double> ChannelSamples(const BYTE* bytes, size_t count, const WAVEFORMATEX& format,
                                   int channel) {
  std::vector<double> samples;
  const size_t sampleBytes = format.wBitsPerSample / 8;
  const double fullScale = std::ldexp(1.0, format.wBitsPerSample - 1);
  for (size_t frame = 0; (frame + 1) * format.nBlockAlign <= count; ++frame) {
    const BYTE* p = bytes + frame * format.nBlockAlign + channel * sampleBytes;
    if (sampleBytes == 1) {
      samples.push_back((p[0] - 128) / fullScale);
      continue;
    }
    std::uint32_t raw = 0;
    for (size_t i = 0; i < sampleBytes; ++i) {
      raw |= static_cast<std::uint32_t>(p[i]) << (8 * i);
    }
    const int shift = 32 - static_cast<int>(8 * sampleBytes);
    const auto value = static_cast<std::int32_t>(raw << shift) >> shift;
    samples.push_back(value / fullScale);
  }
  return samples;
}

double FrequencyHz(const std::vector<double>& samples, double sampleRate) {
  double first = -1;
  double last = -1;
  int crossings = 0;
  for (size_t i = 1; i < samples.size(); ++i) {
    if (samples[i - 1] < 0 && samples[i] >= 0) {
      const double at = (i - 1) + samples[i - 1] / (samples[i - 1] - samples[i]);
      first = crossings == 0 ? at : first;
      last = at;
      ++crossings;
    }
  }
  return crossings < 2 ? 0 : (crossings - 1) * sampleRate / (last - first);
}

double Median(std::vector<double> values, double none) {
  if (values.empty()) {
    return none;
  }
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2),
                   values.end());
  return values[values.size() / 2];
}

void SlopeFit::Add(double t, double y) {
  count_ += 1;
  sumT_ += t;
  sumY_ += y;
  sumTT_ += t * t;
  sumTY_ += t * y;
}

double SlopeFit::Slope(double none) const {
  const double spread = count_ * sumTT_ - sumT_ * sumT_;
  return spread > 0 ? (count_ * sumTY_ - sumT_ * sumY_) / spread : none;
}

double Rms(const std::vector<double>& samples) {
  double sum = 0;
  for (double value : samples) {
    sum += value * value;
  }
  return samples.empty() ? 0 : std::sqrt(sum / samples.size());
}

double PeakDbfs(const std::vector<double>& samples) {
  double peak = 0;
  for (double value : samples) {
    peak = std::max(peak, std::fabs(value));
  }
  return 20 * std::log10(peak);
}

WAVEFORMATEX PcmFormat(WORD channels, DWORD samplesPerSec, WORD bitsPerSample) {
  WAVEFORMATEX format{};
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = channels;
  format.nSamplesPerSec = samplesPerSec;
  format.wBitsPerSample = bitsPerSample;
  format.nBlockAlign = static_cast<WORD>(channels * bitsPerSample / 8);
  format.nAvgBytesPerSec = samplesPerSec * format.nBlockAlign;
  return format;
}

}  // namespace twtest
