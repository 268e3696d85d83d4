// The capture pacer between a device's deliveries and a capture ring, driven
// with a made-up clock in microseconds.
#include <gtest/gtest.h>

#include <windows.h>

#include <vector>

#include "platform/dsound/capture_pacer.h"
#include "platform/dsound/sound_ring.h"
#include "tests/support/cd_format.h"
#include "tests/support/signal_analysis.h"

namespace {

using twplat::sound::CapturePacer;
using twplat::sound::SoundRing;

const WAVEFORMATEX kCd = twtest::CdFormat();
constexpr DWORD kSecond = 176400;

// Bytes numbered 0, 1, 2, ... (mod 251, so a lost or repeated byte shows).
std::vector<BYTE> Numbered(DWORD from, DWORD count) {
  std::vector<BYTE> bytes(count);
  for (DWORD i = 0; i < count; ++i) {
    bytes[i] = static_cast<BYTE>((from + i) % 251);
  }
  return bytes;
}

class Pacer : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(ring_.Allocate(kCd, 5 * kSecond));  // never wraps here
    ASSERT_TRUE(pacer_.Allocate(kCd, 16u << 20));
  }
  // What the ring holds from offset 0 up to its cursor.
  std::vector<BYTE> InRing() {
    LPVOID region = nullptr;
    DWORD bytes = 0;
    const DWORD cursor = ring_.Cursor();
    if (cursor == 0) {
      return {};
    }
    EXPECT_EQ(ring_.Lock(0, cursor, &region, &bytes, nullptr, nullptr), DS_OK);
    std::vector<BYTE> copy(static_cast<BYTE*>(region), static_cast<BYTE*>(region) + bytes);
    ring_.Unlock(region, bytes, nullptr, 0, false);
    return copy;
  }

  SoundRing ring_;
  CapturePacer pacer_;
};

// A source that hands over 2 s at once: at most the allowed lead goes in at
// once, then the ring fills at about the device's pace (up to half as fast
// again while the backlog is long), and every byte arrives in order.
TEST_F(Pacer, LetsABurstIntoTheRingAtTheDevicesPace) {
  const std::vector<BYTE> burst = Numbered(0, 2 * kSecond);
  pacer_.Push(burst.data(), 2 * kSecond);
  pacer_.Release(ring_, 1000000);
  const DWORD lead = kSecond * CapturePacer::kAheadMs / 1000;
  EXPECT_EQ(ring_.BytesMoved(), lead);
  std::uint64_t now = 1000000;
  for (int step = 1; step <= 100; ++step) {  // one second in 10 ms steps
    const std::uint64_t before = ring_.BytesMoved();
    now += 10000;
    pacer_.Release(ring_, now);
    const std::uint64_t moved = ring_.BytesMoved() - before;
    ASSERT_GE(moved, kSecond / 100 - 4) << "step " << step;
    ASSERT_LE(moved, kSecond / 100 * 3 / 2 + 4) << "step " << step;
  }
  // Between the device's pace and half as fast again.
  EXPECT_GT(ring_.BytesMoved(), lead + kSecond);
  EXPECT_LT(ring_.BytesMoved(), lead + kSecond * 3 / 2);
  EXPECT_EQ(ring_.BytesMoved() % 4, 0u);
  while (pacer_.Release(ring_, now += 10000) > 0) {
  }
  EXPECT_EQ(ring_.BytesMoved(), 2 * kSecond);
  EXPECT_EQ(InRing(), burst);
  EXPECT_EQ(pacer_.dropped(), 0u);
}

// A device that delivers 10 ms fragments on time loses no time in the pacer,
// even when one fragment comes late and two arrive together.
TEST_F(Pacer, PassesRegularFragmentsThroughAtOnce) {
  constexpr DWORD kFragment = 1764;
  std::uint64_t now = 0;
  DWORD sent = 0;
  for (int i = 0; i < 300; ++i) {
    now += 10000;
    const int together = i % 50 == 49 ? 2 : 1;  // every half second, a late pair
    for (int k = 0; k < together; ++k) {
      pacer_.Push(Numbered(sent, kFragment).data(), kFragment);
      sent += kFragment;
    }
    EXPECT_EQ(pacer_.Release(ring_, now), 0u) << "fragment " << i;
  }
  EXPECT_EQ(ring_.BytesMoved(), sent);
  EXPECT_EQ(InRing(), Numbered(0, sent));
}

// More than the queue holds: the oldest sound goes, the newest stays in
// order, and silence (a hole in the recording) is queued like sound.
TEST_F(Pacer, KeepsTheNewestSoundWhenTheQueueOverflows) {
  const DWORD capacity = kSecond * CapturePacer::kStagingMs / 1000;
  const std::vector<BYTE> first = Numbered(0, capacity);
  pacer_.Push(first.data(), capacity);
  const std::vector<BYTE> more = Numbered(capacity, 4000);
  pacer_.Push(more.data(), 4000);
  pacer_.Push(nullptr, 400);
  EXPECT_EQ(pacer_.queued(), capacity);
  EXPECT_EQ(pacer_.dropped(), 4400u);
  std::uint64_t now = 0;
  while (pacer_.Release(ring_, now += 100000) > 0) {
  }
  std::vector<BYTE> expected = Numbered(4400, capacity - 400);
  expected.insert(expected.end(), 400, 0);
  ASSERT_EQ(ring_.BytesMoved(), capacity);
  EXPECT_EQ(InRing(), expected);
}

}  // namespace
