// Gain ramps over PCM frames in a locked span that may wrap.
#include <gtest/gtest.h>

#include <winsock2.h>

#include <windows.h>

#include <vector>

#include "audio/pcm_ramp.h"

namespace {

// 8-bit sound is unsigned around 128; a ramp in rises from it.
TEST(PcmRamp, EightBitSoundRisesFromItsMiddleValue) {
  std::vector<BYTE> frames = {228, 28, 228, 28, 228, 28, 228, 28};  // +100/-100 stereo
  RingSpan span{frames.data(), 8, nullptr, 0};
  EXPECT_EQ(RampFrames(span, {2, 1, 4, 0, true}), 4);
  EXPECT_EQ(frames, (std::vector<BYTE>{128, 128, 153, 103, 178, 78, 203, 53}));
}

// 24-bit samples that the ring's end splits between the span's two regions
// keep their sign; a fade out that ends early leaves silence after it.
TEST(PcmRamp, TwentyFourBitSamplesAcrossTheRingEndFadeOutToSilence) {
  // Mono -4096 (0xFFF000) in three frames, split 4 bytes + 5 bytes.
  std::vector<BYTE> end = {0x00, 0xF0, 0xFF, 0x00};
  std::vector<BYTE> start = {0xF0, 0xFF, 0x00, 0xF0, 0xFF};
  RingSpan span{end.data(), 4, start.data(), 5};
  EXPECT_EQ(RampFrames(span, {3, 3, 2, 0, false}), 3);
  EXPECT_EQ(end, (std::vector<BYTE>{0x00, 0xF0, 0xFF, 0x00}));          // gain 1
  EXPECT_EQ(start, (std::vector<BYTE>{0xF8, 0xFF, 0x00, 0x00, 0x00}));  // -2048, then 0
}

}  // namespace
