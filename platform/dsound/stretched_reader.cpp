#include "platform/dsound/stretched_reader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <numbers>
#include <type_traits>

// The wide build of the loop exists for x86 processors only.
#if defined(__x86_64__) || defined(__i386__)
#define TW_WIDE_VECTORS 1
#else
#define TW_WIDE_VECTORS 0
#endif

namespace twplat::sound {
namespace {

// Two doubles fill a 128-bit register, which every 64-bit x86 has; four fill
// a 256-bit one.
using Pair = double __attribute__((vector_size(2 * sizeof(double))));
using Quad = double __attribute__((vector_size(4 * sizeof(double))));

bool WideVectorsAvailable() {
#if TW_WIDE_VECTORS
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
#else
  return false;
#endif
}

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

// Eight 32-bit channels are a frame's lanes as they stand: one run of
// conversions.
template <typename Frame>
[[gnu::always_inline]] inline void DecodeFullFrames(const BYTE* in, DWORD frames, Frame* out) {
  for (DWORD frame = 0; frame < frames; ++frame, in += 4 * kMaxChannels) {
    for (int lane = 0; lane < kMaxChannels; ++lane) {
      out[frame][lane] = DecodeSample<4>(in + 4 * lane);
    }
  }
}

// Bounds every lane to the sample's range and rounds it half away from zero
// by truncation, which is one instruction where a library rounding call
// costs more than the sum it rounds. One flat run without branches, which
// the compiler turns into vectors.
[[gnu::always_inline]] inline void RoundLanes(const double* sums, std::size_t count, double top,
                                              std::int32_t* out) {
  for (std::size_t i = 0; i < count; ++i) {
    const double bounded = std::min(std::max(sums[i], -top), top - 1);
    out[i] = static_cast<std::int32_t>(bounded + std::copysign(0.5, bounded));
  }
}

template <int kBytes>
void StoreSample(std::int32_t whole, BYTE* sample) {
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

// Each frame's channels from its lanes.
template <int kBytes>
void PackFrames(const std::int32_t* lanes, DWORD frames, WORD channels, WORD frameBytes,
                BYTE* out) {
  for (DWORD frame = 0; frame < frames; ++frame, out += frameBytes, lanes += kMaxChannels) {
    for (WORD channel = 0; channel < channels; ++channel) {
      StoreSample<kBytes>(lanes[channel], out + channel * kBytes);
    }
  }
}

}  // namespace

bool StretchedReader::Allocate(const WAVEFORMATEX& format, Vectors vectors) {
  sampleBytes_ = format.wBitsPerSample / 8;
  channels_ = std::min<WORD>(format.nChannels, kMaxChannels);
  frameBytes_ = format.nBlockAlign;
  const bool known = format.wBitsPerSample % 8 == 0 && sampleBytes_ >= 1 && sampleBytes_ <= 4;
  if (!known || channels_ == 0 || frameBytes_ < sampleBytes_ * channels_) {
    return false;
  }
  padded_ = frameBytes_ > sampleBytes_ * channels_;
  wide_ = vectors == Vectors::kWidest && WideVectorsAvailable();
  top_ = std::ldexp(1.0, sampleBytes_ * 8 - 1);
  staging_.reset(new (std::nothrow) BYTE[kStagingFrames * frameBytes_]);
  decoded_.reset(new (std::nothrow) Lanes[kStagingFrames]());
  mixed_.reset(new (std::nothrow) double[kStagingFrames * kMaxChannels]());
  rounded_.reset(new (std::nothrow) std::int32_t[kStagingFrames * kMaxChannels]);
  kernel_.reset(new (std::nothrow) double[kPhases * 2 * kTaps]);
  if (staging_ == nullptr || decoded_ == nullptr || mixed_ == nullptr || rounded_ == nullptr ||
      kernel_ == nullptr) {
    return false;
  }
  for (int phase = 0; phase <= kPhases; ++phase) {
    for (int tap = 0; tap < kTaps; ++tap) {
      const double u = static_cast<double>(phase) / kPhases - (tap - (kTaps / 2 - 1));
      const double weight = Kernel(u, kTaps / 2);
      if (phase < kPhases) {
        kernel_[phase * 2 * kTaps + tap] = weight;
      }
      if (phase > 0) {
        const int below = (phase - 1) * 2 * kTaps + tap;
        kernel_[below + kTaps] = weight - kernel_[below];
      }
    }
  }
  return true;
}

// A staging's worth of output frames at a time: interpolated, then encoded
// together, so that the sample format is looked at once per batch. Inlined
// into both builds of the loop, so that each has its own vectors.
template <typename Vector, int kVectors>
[[gnu::always_inline]] inline DWORD StretchedReader::FillVectors(SoundRing& ring, BYTE* out,
                                                                 DWORD frames, double ratio) {
  // Frames the window will take in during this call, give or take the
  // rounding of the last one.
  auto pending = static_cast<std::uint64_t>(position_ + frames * ratio);
  DWORD taken = 0;
  while (frames > 0) {
    const DWORD part = std::min(frames, kStagingFrames);
    for (DWORD frame = 0; frame < part; ++frame) {
      Interpolate<Vector, kVectors>(mixed_.get() + static_cast<std::size_t>(frame) * kMaxChannels);
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

// The window's frames under the weights for position_ (linearly between two
// kernel rows), kVectors vectors of channels at a time, summed in two
// independent runs so that the additions overlap instead of waiting on one
// another. Exact where the weights are a single 1 and zeros.
template <typename Vector, int kVectors>
[[gnu::always_inline]] inline void StretchedReader::Interpolate(double* result) const {
  constexpr int kWidth = sizeof(Vector) / sizeof(double);
  const double scaled = position_ * kPhases;
  const int row = std::min(static_cast<int>(scaled), kPhases - 1);
  const double along = scaled - row;
  const double* rowWeights = kernel_.get() + row * 2 * kTaps;
  double weights[kTaps];
  for (int tap = 0; tap < kTaps; tap += kWidth) {
    Vector weight;
    Vector rise;
    std::memcpy(&weight, rowWeights + tap, sizeof weight);
    std::memcpy(&rise, rowWeights + kTaps + tap, sizeof rise);
    weight += rise * along;
    std::memcpy(weights + tap, &weight, sizeof weight);
  }
  const Lanes* window = history_.data() + head_;
  Vector sums[2][kVectors] = {};
  for (int tap = 0; tap < kTaps; tap += 2) {
    for (int run = 0; run < 2; ++run) {
      for (int part = 0; part < kVectors; ++part) {
        Vector frame;
        std::memcpy(&frame, window[tap + run].data() + kWidth * part, sizeof frame);
        sums[run][part] += frame * weights[tap + run];
      }
    }
  }
  for (int part = 0; part < kVectors; ++part) {
    const Vector sum = sums[0][part] + sums[1][part];
    std::memcpy(result + kWidth * part, &sum, sizeof sum);
  }
}

// Shifts the next ring frame into the window.
[[gnu::always_inline]] inline void StretchedReader::Advance(SoundRing& ring, DWORD& taken,
                                                            std::uint64_t& pending) {
  if (next_ == staged_) {
    taken += Stage(ring, static_cast<DWORD>(std::clamp<std::uint64_t>(pending, 1, kStagingFrames)));
  }
  history_[head_] = decoded_[next_];
  history_[head_ + kTaps] = decoded_[next_];
  ++next_;
  pending = pending > 0 ? pending - 1 : 0;
  head_ = (head_ + 1) % kTaps;
}

// Takes the next `wanted` frames from the ring, at most the ring's own
// frames (more would be its bytes again); returns the bytes taken.
[[gnu::always_inline]] inline DWORD StretchedReader::Stage(SoundRing& ring, DWORD wanted) {
  wanted = std::clamp<DWORD>(wanted, 1, std::max<DWORD>(ring.size() / frameBytes_, 1));
  const DWORD bytes = wanted * frameBytes_;
  ring.Render(staging_.get(), bytes);
  Decode(staging_.get(), wanted);
  staged_ = wanted;
  next_ = 0;
  return bytes;
}

// Eight 32-bit channels and nothing else: a frame is its lanes, as integers.
bool StretchedReader::FullLanes() const {
  return sampleBytes_ == 4 && channels_ == kMaxChannels && !padded_;
}

[[gnu::always_inline]] inline void StretchedReader::Decode(const BYTE* in, DWORD frames) {
  if (FullLanes()) {
    return DecodeFullFrames(in, frames, decoded_.get());
  }
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

// A padded frame's bytes beyond its samples are zero. Eight 32-bit channels
// are the lanes as they stand.
[[gnu::always_inline]] inline void StretchedReader::Encode(DWORD frames, BYTE* out) const {
  const std::size_t lanes = static_cast<std::size_t>(frames) * kMaxChannels;
  RoundLanes(mixed_.get(), lanes, top_, rounded_.get());
  if (FullLanes()) {
    std::memcpy(out, rounded_.get(), lanes * sizeof(std::int32_t));
    return;
  }
  if (padded_) {
    std::memset(out, 0, static_cast<std::size_t>(frames) * frameBytes_);
  }
  switch (sampleBytes_) {
    case 1:
      return PackFrames<1>(rounded_.get(), frames, channels_, frameBytes_, out);
    case 2:
      return PackFrames<2>(rounded_.get(), frames, channels_, frameBytes_, out);
    case 3:
      return PackFrames<3>(rounded_.get(), frames, channels_, frameBytes_, out);
    default:
      return PackFrames<4>(rounded_.get(), frames, channels_, frameBytes_, out);
  }
}

DWORD StretchedReader::Fill(SoundRing& ring, BYTE* out, DWORD frames, double ratio) {
  return wide_ ? FillWide(ring, out, frames, ratio) : FillBaseline(ring, out, frames, ratio);
}

DWORD StretchedReader::FillBaseline(SoundRing& ring, BYTE* out, DWORD frames, double ratio) {
  if (channels_ > 4) {
    return FillVectors<Pair, 4>(ring, out, frames, ratio);
  }
  return channels_ > 2 ? FillVectors<Pair, 2>(ring, out, frames, ratio)
                       : FillVectors<Pair, 1>(ring, out, frames, ratio);
}

#if TW_WIDE_VECTORS
[[gnu::target("avx2,fma")]] DWORD StretchedReader::FillWide(SoundRing& ring, BYTE* out,
                                                            DWORD frames, double ratio) {
  return channels_ > 4 ? FillVectors<Quad, 2>(ring, out, frames, ratio)
                       : FillVectors<Quad, 1>(ring, out, frames, ratio);
}
#else
DWORD StretchedReader::FillWide(SoundRing& ring, BYTE* out, DWORD frames, double ratio) {
  return FillBaseline(ring, out, frames, ratio);
}
#endif

}  // namespace twplat::sound
