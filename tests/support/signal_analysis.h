// Measurements on recorded PCM: one channel as samples in -1 .. 1 of full
// scale, its frequency from interpolated zero crossings, its level.
#pragma once

#include <mmsystem.h>
#include <windows.h>

#include <vector>

namespace twtest {

// 8-bit unsigned or 16/24/32-bit signed little-endian PCM.
std::vector<double> ChannelSamples(const BYTE* bytes, size_t count, const WAVEFORMATEX& format,
                                   int channel);
inline std::vector<double> ChannelSamples(const std::vector<BYTE>& bytes,
                                          const WAVEFORMATEX& format, int channel) {
  return ChannelSamples(bytes.data(), bytes.size(), format, channel);
}

// Hz from the rising zero crossings; 0 with fewer than two.
double FrequencyHz(const std::vector<double>& samples, double sampleRate);
double Rms(const std::vector<double>& samples);
double PeakDbfs(const std::vector<double>& samples);
// The middle value (the upper one of an even count); `none` when empty.
double Median(std::vector<double> values, double none = 0);

WAVEFORMATEX PcmFormat(WORD channels, DWORD samplesPerSec, WORD bitsPerSample);

// The least-squares slope of y over t, added a point at a time (a rate from
// timed counts, which one late reading hardly moves); `none` with fewer than
// two distinct times.
class SlopeFit {
 public:
  void Add(double t, double y);
  double Slope(double none = 0) const;

 private:
  double count_ = 0;
  double sumT_ = 0;
  double sumY_ = 0;
  double sumTT_ = 0;
  double sumTY_ = 0;
};

}  // namespace twtest
