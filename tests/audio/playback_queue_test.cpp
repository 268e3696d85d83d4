// The queue before the playback ring: whole frames out whatever pieces came
// in, the oldest frames dropped when it overflows, and a skip that cuts
// whole frames with a fade on either side.
#include "audio/playback_queue.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

constexpr WORD kFrame = 4;  // 16-bit stereo

// Frame n holds n in its left sample and -n in its right.
std::vector<BYTE> Frames(int first, int count) {
  std::vector<BYTE> bytes(static_cast<size_t>(count) * kFrame);
  for (int i = 0; i < count; ++i) {
    const auto left = static_cast<std::int16_t>(first + i);
    const auto right = static_cast<std::int16_t>(-(first + i));
    std::memcpy(&bytes[static_cast<size_t>(i) * kFrame], &left, 2);
    std::memcpy(&bytes[static_cast<size_t>(i) * kFrame + 2], &right, 2);
  }
  return bytes;
}

// Everything whole the queue holds, popped run by run.
std::vector<std::int16_t> Drain(PlaybackQueue& queue) {
  std::vector<std::int16_t> samples;
  while (queue.FrameBytes() > 0) {
    DWORD run = 0;
    const BYTE* front = queue.Front(&run);
    EXPECT_EQ(run % kFrame, 0u);
    for (DWORD at = 0; at < run; at += 2) {
      std::int16_t sample = 0;
      std::memcpy(&sample, front + at, 2);
      samples.push_back(sample);
    }
    queue.Pop(run);
  }
  return samples;
}

TEST(PlaybackQueue, HandsOutWholeFramesInOrderWhateverPiecesCameIn) {
  PlaybackQueue queue(10 * kFrame + 2, kFrame, 16, 44100);  // 10 frames; wraps
  ASSERT_TRUE(queue.valid());
  int next = 1;
  std::vector<BYTE> pending;
  for (int round = 0; round < 5; ++round) {
    const std::vector<BYTE> sent = Frames(next, 7);
    next += 7;
    // 7 frames in pieces of 3, 9 and the rest bytes.
    queue.Push(sent.data(), 3);
    EXPECT_EQ(queue.FrameBytes() % kFrame, 0u);
    queue.Push(sent.data() + 3, 9);
    queue.Push(sent.data() + 12, static_cast<DWORD>(sent.size() - 12));
    const std::vector<std::int16_t> samples = Drain(queue);
    ASSERT_EQ(samples.size(), 14u) << round;
    for (size_t i = 0; i < 7; ++i) {
      EXPECT_EQ(samples[2 * i], next - 7 + static_cast<int>(i));
      EXPECT_EQ(samples[2 * i + 1], -(next - 7 + static_cast<int>(i)));
    }
  }
  // A partial frame is held but not handed out until its rest arrives.
  const std::vector<BYTE> frame = Frames(99, 1);
  queue.Push(frame.data(), 3);
  EXPECT_EQ(queue.Bytes(), 3u);
  EXPECT_EQ(queue.FrameBytes(), 0u);
  queue.Push(frame.data() + 3, 1);
  EXPECT_EQ(Drain(queue), (std::vector<std::int16_t>{99, -99}));
}

// Overflow drops the oldest whole frames, never a part of one: what is left
// is the newest sound, still frame-aligned.
TEST(PlaybackQueue, OverflowDropsTheOldestWholeFrames) {
  PlaybackQueue queue(8 * kFrame, kFrame, 16, 44100);
  const std::vector<BYTE> first = Frames(1, 6);
  queue.Push(first.data(), static_cast<DWORD>(first.size()) - 1);  // frame 6 cut short
  const std::vector<BYTE> rest = Frames(6, 4);
  queue.Push(rest.data() + kFrame - 1, 1);       // frame 6 completed
  queue.Push(rest.data() + kFrame, 3 * kFrame);  // frames 7 to 9: one too many
  const std::vector<std::int16_t> samples = Drain(queue);
  ASSERT_EQ(samples.size(), 16u);
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(samples[static_cast<size_t>(2 * i)], 2 + i);
  }
}

// A skip drops whole frames after a fade out and before a fade in of 5 ms
// each (220 frames at 44100 Hz): the fades fall to and rise from near
// silence, keep each sample's sign, and the frames after the fade in are
// the ones after the cut, untouched.
TEST(PlaybackQueue, SkipCutsWholeFramesBetweenTwoFades) {
  constexpr int kFade = 220;
  constexpr int kHeld = 2000;
  PlaybackQueue queue((kHeld + 1) * kFrame, kFrame, 16, 44100);  // a frame spare
  std::vector<BYTE> loud(kHeld * kFrame);
  for (int i = 0; i < kHeld; ++i) {
    const std::int16_t left = 20000;
    const auto right = static_cast<std::int16_t>(-20000 + i % 7);  // marks the frames
    std::memcpy(&loud[static_cast<size_t>(i) * kFrame], &left, 2);
    std::memcpy(&loud[static_cast<size_t>(i) * kFrame + 2], &right, 2);
  }
  queue.Push(loud.data(), static_cast<DWORD>(loud.size()));
  EXPECT_EQ(queue.Skip(1000 * kFrame + 3), 1000u * kFrame);  // whole frames only
  const std::vector<std::int16_t> samples = Drain(queue);
  ASSERT_EQ(samples.size(), 2u * (kHeld - 1000));
  EXPECT_GT(samples[0], 19000);                   // the fade out starts loud
  EXPECT_LT(samples[2 * (kFade - 1)], 200);       // and ends near silence
  EXPECT_GT(samples[2 * (kFade - 1)], 0);         // with the sign kept
  EXPECT_GT(samples[2 * (kFade - 1) + 1], -200);  // on both channels
  EXPECT_LT(samples[2 * (kFade - 1) + 1], 0);
  EXPECT_LT(samples[2 * kFade], 200);               // the fade in starts quiet
  EXPECT_GT(samples[2 * (2 * kFade - 1)], 19000);   // and ends loud
  for (int i = 2 * kFade; i < kHeld - 1000; ++i) {  // then the sound after the cut
    ASSERT_EQ(samples[static_cast<size_t>(2 * i)], 20000) << i;
    ASSERT_EQ(samples[static_cast<size_t>(2 * i + 1)], -20000 + (i + 1000) % 7) << i;
  }
  // Too little held for both fades: nothing is skipped.
  queue.Push(loud.data(), 400 * kFrame);
  EXPECT_EQ(queue.Skip(100 * kFrame), 0u);
  EXPECT_EQ(queue.FrameBytes(), 400u * kFrame);
}

// The fade scales 8-bit samples around their middle (128) and 24-bit ones
// as signed numbers.
TEST(PlaybackQueue, FadesEightAndTwentyFourBitSamplesAroundSilence) {
  {
    PlaybackQueue queue(1000, 1, 8, 8000);  // 40-frame fades
    std::vector<BYTE> high(1000, 255);
    queue.Push(high.data(), 999);
    EXPECT_EQ(queue.Skip(500), 500u);
    DWORD run = 0;
    const BYTE* front = queue.Front(&run);
    EXPECT_GT(front[0], 240);
    EXPECT_GE(front[39], 128);
    EXPECT_LT(front[39], 135);
    EXPECT_LT(front[40], 135);
    EXPECT_EQ(front[80], 255);
  }
  {
    PlaybackQueue queue(3 * 1000, 3, 24, 8000);
    std::vector<BYTE> low(3 * 999);
    for (size_t i = 0; i < low.size(); i += 3) {  // 0xC2F600: -4000256
      low[i] = 0x00;
      low[i + 1] = 0xF6;
      low[i + 2] = 0xC2;
    }
    queue.Push(low.data(), static_cast<DWORD>(low.size()));
    EXPECT_EQ(queue.Skip(3 * 500), 3u * 500);
    DWORD run = 0;
    const BYTE* front = queue.Front(&run);
    auto value = [&](int frame) {
      const BYTE* at = front + 3 * frame;
      const auto raw = static_cast<std::int32_t>(at[0] | (at[1] << 8) | (at[2] << 16));
      return (raw << 8) >> 8;
    };
    EXPECT_LT(value(0), -3800000);
    EXPECT_LT(value(39), 0);
    EXPECT_GT(value(39), -120000);
    EXPECT_EQ(value(80), -4000256);
  }
}

}  // namespace
