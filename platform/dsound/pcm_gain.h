// Volume as the devices apply it: an attenuation in hundredths of a decibel
// turned into a linear factor and applied to PCM samples in place.
#pragma once

#include <windows.h>

#include <cstdint>

namespace twplat::sound {

// Q16 fixed point: 65536 is unity.
inline constexpr std::int32_t kUnityGain = 65536;

// volume: DSBVOLUME_MIN (-10000, -100 dB) .. 0.
std::int32_t GainFromVolume(LONG volume);

// Scales whole samples of 8-bit unsigned or 16/24/32-bit signed little-endian
// PCM; a trailing partial sample is left as it is. No allocation.
void ApplyGain(BYTE* samples, DWORD bytes, WORD bitsPerSample, std::int32_t gain);

}  // namespace twplat::sound
