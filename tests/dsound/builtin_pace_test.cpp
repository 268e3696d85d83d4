// The built-in output follows its writer's clock: a ring kept full plays
// faster than the format's rate, a ring left empty slower, each by about the
// correction's limit once it has moved there (1000 ppm a second, 5000 ppm at
// most), against the monotonic clock the built-in devices keep.
#include <gtest/gtest.h>

#include <dsound.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "tests/support/signal_analysis.h"
#include "tests/support/sound_helpers.h"

namespace {

using twtest::Held;
using Clock = std::chrono::steady_clock;

constexpr DWORD kRing = 44100;  // a quarter second of 44100 Hz, 2 ch, 16 bit
constexpr double kBytesPerSecond = 176400;

// A playing buffer and the bytes its play cursor has passed.
struct Pacer {
  Held<IDirectSoundBuffer> buffer;
  DWORD lastCursor = 0;
  DWORD writeOffset = 0;
  double played = 0;

  void Follow() {
    DWORD play = 0;
    DWORD write = 0;
    ASSERT_EQ(buffer->GetCurrentPosition(&play, &write), DS_OK);
    played += (play + kRing - lastCursor) % kRing;
    lastCursor = play;
  }

  // Writes silence from the last write up to a frame short of the cursor.
  void TopUp() {
    const DWORD free = (lastCursor + kRing - writeOffset) % kRing;
    const DWORD bytes = free == 0 ? kRing : free - 4;
    if (bytes == 0) {
      return;
    }
    LPVOID region1 = nullptr;
    LPVOID region2 = nullptr;
    DWORD bytes1 = 0;
    DWORD bytes2 = 0;
    ASSERT_EQ(buffer->Lock(writeOffset, bytes, &region1, &bytes1, &region2, &bytes2, 0), DS_OK);
    ASSERT_EQ(buffer->Unlock(region1, bytes1, region2, bytes2), DS_OK);
    writeOffset = (writeOffset + bytes) % kRing;
  }
};

TEST(BuiltinPace, FullRingPlaysFasterAndEmptyRingSlowerThanTheFormat) {
  const GUID silent = *twtest::SoundDeviceNamed(false, "Silent output");
  Held<IDirectSound> device;
  ASSERT_EQ(DirectSoundCreate(&silent, device.out(), nullptr), DS_OK);
  WAVEFORMATEX format = twtest::PcmFormat(2, 44100, 16);
  DSBUFFERDESC description = twtest::PlaybackDescription(&format, kRing);
  Pacer full;
  Pacer empty;
  for (Pacer* pacer : {&full, &empty}) {
    ASSERT_EQ(device->CreateSoundBuffer(&description, pacer->buffer.out(), nullptr), DS_OK);
  }
  full.TopUp();
  ASSERT_EQ(full.buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  ASSERT_EQ(empty.buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  // Ten seconds move the ratio to its limit; the next four are measured.
  const Clock::time_point start = Clock::now();
  double fullAtMeasure = 0;
  double emptyAtMeasure = 0;
  Clock::time_point measureFrom;
  bool measuring = false;
  while (Clock::now() - start < std::chrono::seconds(14)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    full.Follow();
    empty.Follow();
    full.TopUp();
    if (!measuring && Clock::now() - start >= std::chrono::seconds(10)) {
      measuring = true;
      measureFrom = Clock::now();
      fullAtMeasure = full.played;
      emptyAtMeasure = empty.played;
    }
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - measureFrom).count();
  const double fullRatio = (full.played - fullAtMeasure) / seconds / kBytesPerSecond;
  const double emptyRatio = (empty.played - emptyAtMeasure) / seconds / kBytesPerSecond;
  std::printf("[ measured ] full ring plays at %.4f, empty ring at %.4f of the rate\n", fullRatio,
              emptyRatio);
  // 0.5 % either way; the cursors are read at 10 ms steps, 0.25 % of 4 s.
  EXPECT_GT(fullRatio, 1.002);
  EXPECT_LT(fullRatio, 1.008);
  EXPECT_LT(emptyRatio, 0.998);
  EXPECT_GT(emptyRatio, 0.992);
}

}  // namespace
