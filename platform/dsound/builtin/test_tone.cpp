#include "platform/dsound/builtin/test_tone.h"

#include <cmath>
#include <numbers>

#include "platform/env/environment.h"

namespace twplat::sound {

int TestToneHz() {
  static const int hz = static_cast<int>(env::Read(env::kTestToneHz));
  return hz;
}

void TestTone::Fill(BYTE* out, DWORD frames) {
  const double amplitude = std::pow(10.0, kTestToneDbfs / 20.0);
  const DWORD rate = format_.nSamplesPerSec;
  const WORD sampleBytes = format_.wBitsPerSample / 8;
  for (DWORD i = 0; i < frames; ++i, ++frame_) {
    // The phase restarts every second: whole hertz make whole cycles, and
    // the angle never loses precision however long the tone runs.
    const double seconds = static_cast<double>(frame_ % rate) / rate;
    const double value = amplitude * std::sin(2.0 * std::numbers::pi * hz_ * seconds);
    for (WORD channel = 0; channel < format_.nChannels; ++channel) {
      WriteSample(out, value);
      out += sampleBytes;
    }
  }
}

// value in -1 .. 1 of full scale (2^(bits-1)).
void TestTone::WriteSample(BYTE* out, double value) const {
  const WORD bits = format_.wBitsPerSample;
  const double fullScale = std::ldexp(1.0, bits - 1);
  auto sample = static_cast<std::int64_t>(std::lround(value * fullScale));
  const std::int64_t highest = static_cast<std::int64_t>(fullScale) - 1;
  sample = sample > highest ? highest : sample;
  if (bits == 8) {
    out[0] = static_cast<BYTE>(sample + 128);
    return;
  }
  const auto raw = static_cast<std::uint64_t>(sample);
  for (WORD i = 0; i < bits / 8; ++i) {
    out[i] = static_cast<BYTE>(raw >> (8 * i));
  }
}

}  // namespace twplat::sound
