// The ring reader and writer on the engine's built-in devices: real
// threads, real pace, every byte checked.
#include <gtest/gtest.h>

#include <winsock2.h>

#include <dsound.h>
#include <windows.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "audio/capture_context.h"
#include "audio/capture_ring.h"
#include "audio/playback_context.h"
#include "audio/playback_ring.h"
#include "core/app_state.h"
#include "tests/support/output_recorder.h"
#include "tests/support/signal_analysis.h"
#include "tests/support/test_host.h"

namespace {

class BuiltinRoundTrip : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("TONEWIRE_AUDIO", "builtin", 1);
    appState.stopRequested.store(0);
    appState.volume.store(0);
  }

  twtest::TestHost host_;
};

// Four blocks in a row from the test tone: the block starts follow the ring
// (0, 24576, 5056, 29632) and the sound runs on without a seam.
TEST_F(BuiltinRoundTrip, CaptureReaderTakesWholeBlocksOfTheLiveTone) {
  CaptureContext context;
  ASSERT_EQ(DirectSoundCaptureCreate(nullptr, &context.captureDevice, nullptr), DS_OK);
  ASSERT_EQ(SetUpCaptureBuffer(context, context.captureDevice, &context.captureBuffer), DS_OK);
  ASSERT_EQ(context.captureBuffer->Start(DSCBSTART_LOOPING), DS_OK);
  StreamHeader header{};
  header.blockLength = kBlockBytes;
  std::vector<BYTE> recorded;
  std::vector<LONG> starts;
  std::vector<BYTE> block(kBlockBytes);
  for (int i = 0; i < 4; ++i) {
    starts.push_back(context.readOffset);
    LONG length = 0;
    ASSERT_TRUE(ReadCaptureBlock(context, block.data(), header, length));
    ASSERT_EQ(length, static_cast<LONG>(kBlockBytes));
    recorded.insert(recorded.end(), block.begin(), block.end());
  }
  EXPECT_EQ(starts, (std::vector<LONG>{0, 24576, 5056, 29632}));
  const WAVEFORMATEX format = twtest::PcmFormat(2, 44100, 16);
  const auto samples = twtest::ChannelSamples(recorded, format, 0);
  EXPECT_NEAR(twtest::FrequencyHz(samples, 44100), 440, 4.4);
  double largestStep = 0;
  for (size_t i = 1; i < samples.size(); ++i) {
    largestStep = std::max(largestStep, std::fabs(samples[i] - samples[i - 1]));
  }
  // A 440 Hz sine at -12 dBFS moves at most 0.016 of full scale per sample.
  EXPECT_LT(largestStep, 0.02);
}

// Chunks of odd sizes written as the receiver writes them, playback started
// after the second: the output plays them back to back, byte for byte, at
// the volume the slider had.
TEST_F(BuiltinRoundTrip, PlaybackWriterFeedsTheOutputInOrder) {
  StreamHeader header{};
  std::memcpy(header.magic, kHeaderMagic, sizeof header.magic);
  header.samplesPerSecond = 8000;
  header.channels = 1;
  header.bitsPerSample = 8;
  header.averageBytesPerSecond = 8000;
  header.blockAlign = 1;
  header.blockLength = kBlockBytes;
  appState.currentHeader.Store(EncodeHeader(header));
  appState.volume.store(-2000);

  PlaybackContext context;
  ASSERT_EQ(DirectSoundCreate(nullptr, &context.playbackDevice, nullptr), DS_OK);
  ASSERT_EQ(SetUpPlaybackBuffer(context, context.playbackDevice, &context.playbackBuffer), DS_OK);
  ASSERT_EQ(context.bufferBytes, 2000);
  std::vector<BYTE> sent;
  twtest::OutputRecorder recorder;
  for (int chunk = 0; chunk < 12; ++chunk) {
    std::vector<BYTE> bytes(331 + chunk * 17);
    for (BYTE& value : bytes) {
      value = static_cast<BYTE>(128 + (sent.size() % 101) - 50);
      sent.push_back(value);
    }
    ASSERT_TRUE(WritePlaybackBlock(context, bytes.data(), static_cast<LONG>(bytes.size())));
    if (chunk == 1) {
      ASSERT_EQ(context.playbackBuffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    }
  }
  std::vector<BYTE> played;
  for (int i = 0; i < 1000 && played.size() < sent.size(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    played = recorder.played();
  }
  ReleasePlaybackBuffer(context);
  ASSERT_GE(played.size(), sent.size());
  for (size_t i = 0; i < sent.size(); ++i) {
    const int meant = static_cast<int>(std::lround((sent[i] - 128) / 10.0));
    ASSERT_NEAR(played[i] - 128, meant, 1) << i;
  }
}

}  // namespace
