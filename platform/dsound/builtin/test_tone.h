// The built-in capture device's signal: a 440 Hz sine at -12 dBFS on every
// channel, in any PCM format the buffers accept. TONEWIRE_TEST_TONE_HZ (whole
// hertz, 20 to 20000, read once) sets another pitch: 440 Hz fits a
// quarter-second ring exactly (110 periods), so a ring that plays its stale
// quarter second again continues the waveform; a pitch such as 437 Hz shows
// that as a break.
#pragma once

#include <mmsystem.h>
#include <windows.h>

#include <cstdint>

namespace twplat::sound {

inline constexpr double kTestToneDbfs = -12.0;

// 440, or TONEWIRE_TEST_TONE_HZ (platform/env's table); read once.
int TestToneHz();

class TestTone {
 public:
  explicit TestTone(const WAVEFORMATEX& format) : format_(format), hz_(TestToneHz()) {}
  // Writes frames whole frames, continuing the phase of the previous call.
  void Fill(BYTE* out, DWORD frames);

 private:
  void WriteSample(BYTE* out, double value) const;

  WAVEFORMATEX format_;
  const int hz_;
  std::uint64_t frame_ = 0;
};

}  // namespace twplat::sound
