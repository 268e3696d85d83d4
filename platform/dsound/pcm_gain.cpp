#include "platform/dsound/pcm_gain.h"

#include <cmath>

namespace twplat::sound {
namespace {

// Rounds to nearest and clamps to the sample's range.
std::int64_t Scale(std::int64_t sample, std::int32_t gain, std::int64_t low, std::int64_t high) {
  std::int64_t scaled = sample * gain;
  scaled = scaled >= 0 ? (scaled + 32768) >> 16 : -((-scaled + 32768) >> 16);
  return scaled < low ? low : (scaled > high ? high : scaled);
}

void Scale8(BYTE* p, DWORD count, std::int32_t gain) {
  for (DWORD i = 0; i < count; ++i) {
    p[i] = static_cast<BYTE>(Scale(static_cast<int>(p[i]) - 128, gain, -128, 127) + 128);
  }
}

void Scale16(BYTE* p, DWORD count, std::int32_t gain) {
  for (DWORD i = 0; i < count; ++i, p += 2) {
    const auto sample = static_cast<std::int16_t>(p[0] | (p[1] << 8));
    const auto out = static_cast<std::uint16_t>(Scale(sample, gain, -32768, 32767));
    p[0] = static_cast<BYTE>(out);
    p[1] = static_cast<BYTE>(out >> 8);
  }
}

void Scale24(BYTE* p, DWORD count, std::int32_t gain) {
  for (DWORD i = 0; i < count; ++i, p += 3) {
    std::int32_t sample = p[0] | (p[1] << 8) | (p[2] << 16);
    sample = (sample ^ 0x800000) - 0x800000;  // sign-extend 24 bits
    const auto out = static_cast<std::uint32_t>(Scale(sample, gain, -8388608, 8388607));
    p[0] = static_cast<BYTE>(out);
    p[1] = static_cast<BYTE>(out >> 8);
    p[2] = static_cast<BYTE>(out >> 16);
  }
}

void Scale32(BYTE* p, DWORD count, std::int32_t gain) {
  for (DWORD i = 0; i < count; ++i, p += 4) {
    const auto raw = static_cast<std::uint32_t>(p[0] | (p[1] << 8) | (p[2] << 16)) |
                     (static_cast<std::uint32_t>(p[3]) << 24);
    const auto sample = static_cast<std::int32_t>(raw);
    const auto out = static_cast<std::uint32_t>(Scale(sample, gain, INT32_MIN, INT32_MAX));
    p[0] = static_cast<BYTE>(out);
    p[1] = static_cast<BYTE>(out >> 8);
    p[2] = static_cast<BYTE>(out >> 16);
    p[3] = static_cast<BYTE>(out >> 24);
  }
}

}  // namespace

std::int32_t GainFromVolume(LONG volume) {
  if (volume >= 0) {
    return kUnityGain;
  }
  return static_cast<std::int32_t>(std::lround(kUnityGain * std::pow(10.0, volume / 2000.0)));
}

void ApplyGain(BYTE* samples, DWORD bytes, WORD bitsPerSample, std::int32_t gain) {
  if (gain == kUnityGain) {
    return;
  }
  switch (bitsPerSample) {
    case 8:
      Scale8(samples, bytes, gain);
      break;
    case 16:
      Scale16(samples, bytes / 2, gain);
      break;
    case 24:
      Scale24(samples, bytes / 3, gain);
      break;
    case 32:
      Scale32(samples, bytes / 4, gain);
      break;
    default:
      break;
  }
}

}  // namespace twplat::sound
