// The capture and playback rings against real DirectSound buffers on the
// default devices. Under Wine with a private sound server these are its null
// sink and a 1000 Hz sine source; the cursors are the system's own.
#include <winsock2.h>

#include <dsound.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "audio/capture_context.h"
#include "audio/capture_ring.h"
#include "audio/playback_context.h"
#include "audio/playback_ring.h"
#include "core/app_state.h"

namespace {

constexpr double kRate = 44100;
constexpr double kPi = 3.14159265358979323846;

// Left-channel samples of 16-bit stereo, in -1 .. 1.
std::vector<double> LeftChannel(const std::vector<std::uint8_t>& pcm) {
  std::vector<double> samples;
  for (size_t at = 0; at + 4 <= pcm.size(); at += 4) {
    std::int16_t value;
    std::memcpy(&value, &pcm[at], sizeof value);
    samples.push_back(value / 32768.0);
  }
  return samples;
}

// Rising zero crossings per second: the frequency of a clean tone.
double CrossingRate(const std::vector<double>& samples) {
  int rising = 0;
  for (size_t i = 1; i < samples.size(); ++i) {
    rising += samples[i - 1] < 0 && samples[i] >= 0;
  }
  return rising * kRate / static_cast<double>(samples.size());
}

double Rms(const std::vector<double>& samples) {
  double sum = 0;
  for (double value : samples) {
    sum += value * value;
  }
  return samples.empty() ? 0 : std::sqrt(sum / static_cast<double>(samples.size()));
}

TEST(CaptureRing, ReadsBackToBackBlocksOfTheSourceAcrossTheRingEnd) {
  appState.stopRequested.store(0);
  CaptureContext context;
  ASSERT_EQ(DirectSoundCaptureCreate(nullptr, &context.captureDevice, nullptr), DS_OK);
  ASSERT_EQ(SetUpCaptureBuffer(context, context.captureDevice, &context.captureBuffer), DS_OK);
  WAVEFORMATEX format = {};
  ASSERT_EQ(context.captureBuffer->GetFormat(&format, sizeof format, nullptr), DS_OK);
  EXPECT_EQ(format.nSamplesPerSec, 44100u);
  EXPECT_EQ(format.nChannels, 2);
  const StreamHeader header = MakeHeader(format, kBlockBytes);
  ASSERT_EQ(context.captureBuffer->Start(DSCBSTART_LOOPING), DS_OK);

  // Two seconds in blocks longer than half the ring: most of them wrap.
  std::vector<std::uint8_t> pcm;
  std::vector<std::uint8_t> block(kBlockBytes);
  int wrapped = 0;
  while (pcm.size() < 2 * 44100 * 4) {
    const LONG before = context.readOffset;
    LONG length = 0;
    ASSERT_TRUE(ReadCaptureBlock(context, block.data(), header, length));
    ASSERT_EQ(length, static_cast<LONG>(kBlockBytes));
    EXPECT_EQ(context.readOffset, (before + length) % kCaptureRingBytes);
    wrapped += context.readOffset < before;
    pcm.insert(pcm.end(), block.begin(), block.end());
  }
  context.captureBuffer->Stop();
  EXPECT_GE(wrapped, 5);
  // Leave out the first block: the source may start with a short silence.
  std::vector<double> samples = LeftChannel(pcm);
  samples.erase(samples.begin(), samples.begin() + kBlockBytes / 4);
  EXPECT_GT(Rms(samples), 0.05);
  EXPECT_NEAR(CrossingRate(samples), 1000, 20);
}

TEST(PlaybackRing, WritesArePacedByThePlayCursor) {
  appState.stopRequested.store(0);
  appState.volume.store(0);
  PlaybackContext context;
  ASSERT_EQ(DirectSoundCreate(nullptr, &context.playbackDevice, nullptr), DS_OK);
  ASSERT_EQ(context.playbackDevice->SetCooperativeLevel(GetDesktopWindow(), DSSCL_EXCLUSIVE),
            DS_OK);
  WAVEFORMATEX format = {WAVE_FORMAT_PCM, 2, 44100, 44100 * 4, 4, 16, 0};
  appState.currentHeader.Store(EncodeHeader(MakeHeader(format, kBlockBytes)));
  ASSERT_EQ(SetUpPlaybackBuffer(context, context.playbackDevice, &context.playbackBuffer), DS_OK);
  EXPECT_EQ(context.bufferBytes, 44100);

  std::vector<std::int16_t> tone(kBlockBytes / 2);
  for (size_t i = 0; i < tone.size(); ++i) {
    tone[i] = static_cast<std::int16_t>(8000 * std::sin(2 * kPi * 440 * (i / 2) / kRate));
  }
  const DWORD start = GetTickCount();
  // Two seconds through a quarter-second ring: the writer has to wait for
  // the play cursor to make room, about 1.75 s in all.
  for (int written = 0; written < 2 * 44100 * 4; written += kBlockBytes) {
    ASSERT_TRUE(WritePlaybackBlock(context, tone.data(), kBlockBytes));
    if (written == 0) {
      ASSERT_EQ(context.playbackBuffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    }
  }
  EXPECT_GE(GetTickCount() - start, 1000u);
  DWORD play = 0;
  DWORD write = 0;
  ASSERT_EQ(context.playbackBuffer->GetCurrentPosition(&play, &write), DS_OK);
  EXPECT_LT(play, 44100u);
  EXPECT_LT(write, 44100u);
  LONG volume = 1;
  ASSERT_EQ(context.playbackBuffer->GetVolume(&volume), DS_OK);
  EXPECT_EQ(volume, 0);
  ReleasePlaybackBuffer(context);
  EXPECT_EQ(context.playbackBuffer, nullptr);
}

}  // namespace
