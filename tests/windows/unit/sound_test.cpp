// The capture and playback rings against real DirectSound buffers on the
// default devices. Under Wine with a private sound server these are its null
// sink and a 1000 Hz sine source; the cursors are the system's own. A cursor
// that stops moving ends its test within a bound, with a "[ stalled ]" line
// that the harness looks for.
#include <winsock2.h>

#include <dsound.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/capture_context.h"
#include "audio/capture_ring.h"
#include "audio/playback_context.h"
#include "audio/playback_ring.h"
#include "core/app_state.h"

namespace {

constexpr double kRate = 44100;
constexpr double kPi = 3.14159265358979323846;
// Two seconds of sound take about three under Wine.
constexpr auto kRingTestBound = std::chrono::seconds(30);
// After a stop request, how long a call into the sound system may still take.
constexpr auto kStopGrace = std::chrono::seconds(10);

// Requests a stop when its test outlasts the bound, which ends a ring's wait
// for a cursor that stopped moving; ends the program if even that does not
// return, so that the harness hears of it at once.
class StallWatch {
 public:
  explicit StallWatch(const char* test) : thread_([this, test] { Watch(test); }) {}
  ~StallWatch() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    wake_.notify_one();
    thread_.join();
  }
  StallWatch(const StallWatch&) = delete;
  StallWatch& operator=(const StallWatch&) = delete;

 private:
  void Watch(const char* test) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (wake_.wait_for(lock, kRingTestBound, [this] { return done_; })) {
      return;
    }
    std::printf("[ stalled ] %s: not done after %lld s, stop requested\n", test,
                static_cast<long long>(kRingTestBound.count()));
    std::fflush(stdout);
    appState.stopRequested.store(1);
    if (wake_.wait_for(lock, kStopGrace, [this] { return done_; })) {
      return;
    }
    std::printf("[ stalled ] %s: still inside the sound system, program ended\n", test);
    std::fflush(stdout);
    std::_Exit(3);
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  bool done_ = false;
  std::thread thread_;  // last: it uses the members above
};

// Where a capture ring stood when a read gave up.
std::string CaptureCursors(CaptureContext& context, size_t bytesRead) {
  DWORD capture = 0;
  DWORD read = 0;
  DWORD status = 0;
  const HRESULT position = context.captureBuffer->GetCurrentPosition(&capture, &read);
  const HRESULT state = context.captureBuffer->GetStatus(&status);
  char text[200];
  std::snprintf(text, sizeof text,
                "after %zu bytes: read offset %ld, capture cursor %lu, read cursor %lu (0x%08lx), "
                "status %lu (0x%08lx), read failure 0x%08lx",
                bytesRead, static_cast<long>(context.readOffset),
                static_cast<unsigned long>(capture), static_cast<unsigned long>(read),
                static_cast<unsigned long>(position), static_cast<unsigned long>(status),
                static_cast<unsigned long>(state), static_cast<unsigned long>(context.readFailure));
  return text;
}

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
  const StallWatch watch("CaptureRing");  // first: it also covers the ring's release
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
    ASSERT_TRUE(ReadCaptureBlock(context, block.data(), header, length))
        << CaptureCursors(context, pcm.size());
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
  const StallWatch watch("PlaybackRing");
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
