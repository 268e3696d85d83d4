// The built-in capture device's signal: a 440 Hz sine at -12 dBFS on every
// channel, in any PCM format the buffers accept.
#pragma once

#include <mmsystem.h>
#include <windows.h>

#include <cstdint>

namespace twplat::sound {

inline constexpr double kTestToneHz = 440.0;
inline constexpr double kTestToneDbfs = -12.0;

class TestTone {
 public:
  explicit TestTone(const WAVEFORMATEX& format) : format_(format) {}
  // Writes frames whole frames, continuing the phase of the previous call.
  void Fill(BYTE* out, DWORD frames);

 private:
  void WriteSample(BYTE* out, double value) const;

  WAVEFORMATEX format_;
  std::uint64_t frame_ = 0;
};

}  // namespace twplat::sound
