#include "platform/dsound/stretched_reader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <numbers>
#include <type_traits>

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

// Little-endian PCM; 8-bit samples are unsigned.
template <int kBytes>
double DecodeSample(const BYTE* sample) {
  if constexpr (kBytes == 1) {
    return static_cast<double>(sample[0]) - 128;
  } else if constexpr (kBytes == 2) {
    return static_cast<std::int16_t>(sample[0] | sample[1] << 8);
  } else if constexpr (kBytes == 3) {
    const std::int32_t value = sample[0] | sample[1] << 8 | sample[2] << 16;
    return value >= (1 << 23) ? value - (1 << 24) : value;
  } else {
    std::uint32_t value = 0;
    std::memcpy(&value, sample, sizeof value);
    return static_cast<std::int32_t>(value);
  }
}

// Rounds half away from zero by truncation, which is one instruction where
// a library rounding call costs more than the sum it rounds.
template <int kBytes>
void EncodeSample(double value, double top, BYTE* sample) {
  const double bounded = std::clamp(value, -top, top - 1);
  const auto whole = static_cast<std::int32_t>(bounded < 0 ? bounded - 0.5 : bounded + 0.5);
  if constexpr (kBytes == 1) {
    sample[0] = static_cast<BYTE>(whole + 128);
  } else if constexpr (kBytes == 3) {
    const auto bits = static_cast<std::uint32_t>(whole);
    sample[0] = static_cast<BYTE>(bits);
    sample[1] = static_cast<BYTE>(bits >> 8);
    sample[2] = static_cast<BYTE>(bits >> 16);
  } else {
    using Bits = std::conditional_t<kBytes == 2, std::uint16_t, std::uint32_t>;
    const auto bits = static_cast<Bits>(whole);
    std::memcpy(sample, &bits, sizeof bits);
  }
}

template <int kBytes, typename Frame>
void DecodeFrames(const BYTE* in, DWORD frames, WORD channels, WORD frameBytes, Frame* out) {
  for (DWORD frame = 0; frame < frames; ++frame, in += frameBytes) {
    for (WORD channel = 0; channel < channels; ++channel) {
      out[frame][channel] = DecodeSample<kBytes>(in + channel * kBytes);
    }
  }
}

template <int kBytes, typename Frame>
void EncodeFrames(const Frame* sums, DWORD frames, WORD channels, WORD frameBytes, double top,
                  BYTE* out) {
  for (DWORD frame = 0; frame < frames; ++frame, out += frameBytes) {
    for (WORD channel = 0; channel < channels; ++channel) {
      EncodeSample<kBytes>(sums[frame][channel], top, out + channel * kBytes);
    }
  }
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
  lanes_ = channels_ <= 2 ? channels_ : channels_ <= 4 ? 4 : 8;
  top_ = std::ldexp(1.0, sampleBytes_ * 8 - 1);
  staging_.reset(new (std::nothrow) BYTE[kStagingFrames * frameBytes_]);
  decoded_.reset(new (std::nothrow) Lanes[kStagingFrames]());
  mixed_.reset(new (std::nothrow) Lanes[kStagingFrames]());
  kernel_.reset(new (std::nothrow) double[(kPhases + 1) * kTaps]);
  if (staging_ == nullptr || decoded_ == nullptr || mixed_ == nullptr || kernel_ == nullptr) {
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
  switch (lanes_) {
    case 1:
      return FillLanes<1>(ring, out, frames, ratio);
    case 2:
      return FillLanes<2>(ring, out, frames, ratio);
    case 4:
      return FillLanes<4>(ring, out, frames, ratio);
    default:
      return FillLanes<8>(ring, out, frames, ratio);
  }
}

// A staging's worth of output frames at a time: interpolated, then encoded
// together, so that the sample format is looked at once per batch.
template <int kLanes>
DWORD StretchedReader::FillLanes(SoundRing& ring, BYTE* out, DWORD frames, double ratio) {
  // Frames the window will take in during this call, give or take the
  // rounding of the last one.
  auto pending = static_cast<std::uint64_t>(position_ + frames * ratio);
  DWORD taken = 0;
  while (frames > 0) {
    const DWORD part = std::min(frames, kStagingFrames);
    for (DWORD frame = 0; frame < part; ++frame) {
      Interpolate<kLanes>(mixed_[frame]);
      position_ += ratio;
      while (position_ >= 1.0) {
        position_ -= 1.0;
        Advance(ring, taken, pending);
      }
    }
    Encode(part, out);
    out += static_cast<std::size_t>(part) * frameBytes_;
    frames -= part;
  }
  return taken;
}

// The window's frames under the weights for position_, every lane at once,
// summed in independent runs so that the additions overlap instead of
// waiting on one another (one running sum per lane made it a chain of 16
// dependent additions). Exact where the weights are a single 1 and zeros.
template <int kLanes>
void StretchedReader::Interpolate(Lanes& result) const {
  constexpr int kRuns = kLanes >= 8 ? 2 : 4;
  double weights[kTaps];
  Weigh(position_, weights);
  const Lanes* window = history_.data() + head_;
  double runs[kRuns][kLanes] = {};
  for (int tap = 0; tap < kTaps; tap += kRuns) {
    for (int run = 0; run < kRuns; ++run) {
      for (int lane = 0; lane < kLanes; ++lane) {
        runs[run][lane] += window[tap + run][lane] * weights[tap + run];
      }
    }
  }
  for (int lane = 0; lane < kLanes; ++lane) {
    double sum = 0;
    for (int run = 0; run < kRuns; ++run) {
      sum += runs[run][lane];
    }
    result[lane] = sum;
  }
}

// Shifts the next ring frame into the window.
void StretchedReader::Advance(SoundRing& ring, DWORD& taken, std::uint64_t& pending) {
  if (next_ == staged_) {
    taken += Stage(ring, static_cast<DWORD>(std::clamp<std::uint64_t>(pending, 1, kStagingFrames)));
  }
  history_[head_] = decoded_[next_];
  history_[head_ + kTaps] = decoded_[next_];
  ++next_;
  pending = pending > 0 ? pending - 1 : 0;
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

// Takes the next `wanted` frames from the ring; returns the bytes taken.
DWORD StretchedReader::Stage(SoundRing& ring, DWORD wanted) {
  const DWORD bytes = wanted * frameBytes_;
  ring.Render(staging_.get(), bytes);
  Decode(staging_.get(), wanted);
  staged_ = wanted;
  next_ = 0;
  return bytes;
}

void StretchedReader::Decode(const BYTE* in, DWORD frames) {
  switch (sampleBytes_) {
    case 1:
      return DecodeFrames<1>(in, frames, channels_, frameBytes_, decoded_.get());
    case 2:
      return DecodeFrames<2>(in, frames, channels_, frameBytes_, decoded_.get());
    case 3:
      return DecodeFrames<3>(in, frames, channels_, frameBytes_, decoded_.get());
    default:
      return DecodeFrames<4>(in, frames, channels_, frameBytes_, decoded_.get());
  }
}

// A padded frame's bytes beyond its samples are zero.
void StretchedReader::Encode(DWORD frames, BYTE* out) const {
  if (padded_) {
    std::memset(out, 0, static_cast<std::size_t>(frames) * frameBytes_);
  }
  const Lanes* sums = mixed_.get();
  switch (sampleBytes_) {
    case 1:
      return EncodeFrames<1>(sums, frames, channels_, frameBytes_, top_, out);
    case 2:
      return EncodeFrames<2>(sums, frames, channels_, frameBytes_, top_, out);
    case 3:
      return EncodeFrames<3>(sums, frames, channels_, frameBytes_, top_, out);
    default:
      return EncodeFrames<4>(sums, frames, channels_, frameBytes_, top_, out);
  }
}

}  // namespace twplat::sound
