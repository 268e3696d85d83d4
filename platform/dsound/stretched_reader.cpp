#include "platform/dsound/stretched_reader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <numbers>

namespace twplat::sound {
namespace {

constexpr double kKaiserBeta = 8.0;  // side lobes about 80 dB down

// The sinc at u frames from the output, under a Kaiser window reaching
// `half` frames either side; exact at whole frames, where it is 1 or 0.
double Kernel(double u, double half) {
  if (u == std::round(u)) {
    return u == 0 ? 1.0 : 0.0;
  }
  const double edge = u / half;
  const double window = edge * edge >= 1
                            ? 0.0
                            : std::cyl_bessel_i(0.0, kKaiserBeta * std::sqrt(1 - edge * edge)) /
                                  std::cyl_bessel_i(0.0, kKaiserBeta);
  return std::sin(std::numbers::pi * u) / (std::numbers::pi * u) * window;
}

}  // namespace

bool StretchedReader::Allocate(const WAVEFORMATEX& format) {
  sampleBytes_ = format.wBitsPerSample / 8;
  channels_ = std::min<WORD>(format.nChannels, kMaxChannels);
  frameBytes_ = format.nBlockAlign;
  const bool known = format.wBitsPerSample % 8 == 0 && sampleBytes_ >= 1 && sampleBytes_ <= 4;
  if (!known || channels_ == 0 || frameBytes_ < sampleBytes_ * channels_) {
    return false;
  }
  padded_ = frameBytes_ > sampleBytes_ * channels_;
  top_ = std::ldexp(1.0, sampleBytes_ * 8 - 1);
  staging_.reset(new (std::nothrow) BYTE[kStagingFrames * frameBytes_]);
  kernel_.reset(new (std::nothrow) double[(kPhases + 1) * kTaps]);
  if (staging_ == nullptr || kernel_ == nullptr) {
    return false;
  }
  for (int phase = 0; phase <= kPhases; ++phase) {
    for (int tap = 0; tap < kTaps; ++tap) {
      const double u = static_cast<double>(phase) / kPhases - (tap - (kTaps / 2 - 1));
      kernel_[phase * kTaps + tap] = Kernel(u, kTaps / 2);
    }
  }
  return true;
}

DWORD StretchedReader::Fill(SoundRing& ring, BYTE* out, DWORD frames, double ratio) {
  // Frames the window will take in during this call, give or take the
  // rounding of the last one.
  auto pending = static_cast<std::uint64_t>(position_ + frames * ratio);
  DWORD taken = 0;
  for (DWORD frame = 0; frame < frames; ++frame, out += frameBytes_) {
    if (padded_) {
      std::memset(out, 0, frameBytes_);
    }
    double weights[kTaps];
    Weigh(position_, weights);
    for (WORD channel = 0; channel < channels_; ++channel) {
      Encode(Convolve(history_[channel].data() + head_, weights), out + channel * sampleBytes_);
    }
    position_ += ratio;
    while (position_ >= 1.0) {
      position_ -= 1.0;
      Advance(ring, taken, pending);
    }
  }
  return taken;
}

// Shifts the next ring frame into every channel's window.
void StretchedReader::Advance(SoundRing& ring, DWORD& taken, std::uint64_t& pending) {
  if (next_ == staged_) {
    taken += Stage(ring, static_cast<DWORD>(std::clamp<std::uint64_t>(pending, 1, kStagingFrames)));
  }
  const BYTE* frame = staging_.get() + static_cast<std::size_t>(next_) * frameBytes_;
  ++next_;
  pending = pending > 0 ? pending - 1 : 0;
  for (WORD channel = 0; channel < channels_; ++channel) {
    const double sample = Decode(frame + channel * sampleBytes_);
    history_[channel][head_] = sample;
    history_[channel][head_ + kTaps] = sample;
  }
  head_ = (head_ + 1) % kTaps;
}

// The weights for a position between two kernel rows, linearly between them.
void StretchedReader::Weigh(double position, double* weights) const {
  const double scaled = position * kPhases;
  const int row = std::min(static_cast<int>(scaled), kPhases - 1);
  const double along = scaled - row;
  const double* below = kernel_.get() + row * kTaps;
  const double* above = below + kTaps;
  for (int tap = 0; tap < kTaps; ++tap) {
    weights[tap] = along == 0 ? below[tap] : below[tap] + (above[tap] - below[tap]) * along;
  }
}

// The window's frames under the weights, summed in four independent runs
// so that the additions overlap instead of waiting on one another: a single
// running sum made the sum a chain of 16 dependent additions per sample.
// Exact where the weights are a single 1 and zeros.
double StretchedReader::Convolve(const double* window, const double* weights) {
  constexpr int kRuns = 4;
  double runs[kRuns] = {};
  for (int tap = 0; tap < kTaps; tap += kRuns) {
    for (int run = 0; run < kRuns; ++run) {
      runs[run] += window[tap + run] * weights[tap + run];
    }
  }
  return (runs[0] + runs[1]) + (runs[2] + runs[3]);
}

// Takes the next `wanted` frames from the ring; returns the bytes taken.
DWORD StretchedReader::Stage(SoundRing& ring, DWORD wanted) {
  const DWORD bytes = wanted * frameBytes_;
  ring.Render(staging_.get(), bytes);
  staged_ = wanted;
  next_ = 0;
  return bytes;
}

// Little-endian PCM; 8-bit samples are unsigned.
double StretchedReader::Decode(const BYTE* sample) const {
  switch (sampleBytes_) {
    case 1:
      return static_cast<double>(sample[0]) - 128;
    case 2:
      return static_cast<std::int16_t>(sample[0] | sample[1] << 8);
    case 3: {
      const std::int32_t value = sample[0] | sample[1] << 8 | sample[2] << 16;
      return value >= (1 << 23) ? value - (1 << 24) : value;
    }
    default: {
      std::uint32_t value = 0;
      std::memcpy(&value, sample, sizeof value);
      return static_cast<std::int32_t>(value);
    }
  }
}

// Rounds half away from zero by truncation, which is one instruction where
// a library rounding call costs more than the sum it rounds.
void StretchedReader::Encode(double value, BYTE* sample) const {
  const double bounded = std::clamp(value, -top_, top_ - 1);
  const auto whole = static_cast<std::int32_t>(bounded < 0 ? bounded - 0.5 : bounded + 0.5);
  switch (sampleBytes_) {
    case 1:
      sample[0] = static_cast<BYTE>(whole + 128);
      return;
    case 2: {
      const auto bits = static_cast<std::uint16_t>(whole);
      std::memcpy(sample, &bits, sizeof bits);
      return;
    }
    case 3: {
      const auto bits = static_cast<std::uint32_t>(whole);
      sample[0] = static_cast<BYTE>(bits);
      sample[1] = static_cast<BYTE>(bits >> 8);
      sample[2] = static_cast<BYTE>(bits >> 16);
      return;
    }
    default: {
      const auto bits = static_cast<std::uint32_t>(whole);
      std::memcpy(sample, &bits, sizeof bits);
      return;
    }
  }
}

}  // namespace twplat::sound
