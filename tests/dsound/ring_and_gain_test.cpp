// The engine's ring and volume, driven directly as a device stream would.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "platform/dsound/pcm_gain.h"
#include "platform/dsound/sound_ring.h"
#include "tests/support/signal_analysis.h"

namespace {

using twplat::sound::ApplyGain;
using twplat::sound::GainFromVolume;
using twplat::sound::SoundRing;

TEST(PcmGain, AttenuatesEverySampleSizeAroundItsOwnZero) {
  const std::int32_t tenth = GainFromVolume(-2000);
  EXPECT_NEAR(tenth / 65536.0, 0.1, 0.0001);
  EXPECT_EQ(GainFromVolume(0), twplat::sound::kUnityGain);

  std::vector<BYTE> unsigned8 = {128, 228, 28, 255, 0};
  ApplyGain(unsigned8.data(), 5, 8, tenth);
  EXPECT_EQ(unsigned8, (std::vector<BYTE>{128, 138, 118, 141, 115}));

  std::vector<BYTE> signed16 = {0x10, 0x27, 0xF0, 0xD8};  // 10000, -10000
  ApplyGain(signed16.data(), 4, 16, tenth);
  EXPECT_EQ(signed16, (std::vector<BYTE>{0xE8, 0x03, 0x18, 0xFC}));  // 1000, -1000

  // Wider samples, decoded back as fractions of full scale.
  std::vector<BYTE> signed24 = {0x80, 0x96, 0x98, 0x00, 0x00, 0x80};  // -6777216, -8388608
  ApplyGain(signed24.data(), 6, 24, tenth);
  const auto wide24 = twtest::ChannelSamples(signed24, twtest::PcmFormat(2, 8000, 24), 0);
  const auto full24 = twtest::ChannelSamples(signed24, twtest::PcmFormat(2, 8000, 24), 1);
  EXPECT_NEAR(wide24[0], -0.1 * 6777216 / 8388608, 1e-5);
  EXPECT_NEAR(full24[0], -0.1, 1e-5);

  std::vector<BYTE> signed32 = {0x00, 0x00, 0x00, 0x80, 0xFF, 0xFF, 0xFF, 0x7F};
  ApplyGain(signed32.data(), 8, 32, tenth);
  const auto wide32 = twtest::ChannelSamples(signed32, twtest::PcmFormat(2, 8000, 32), 0);
  const auto full32 = twtest::ChannelSamples(signed32, twtest::PcmFormat(2, 8000, 32), 1);
  EXPECT_NEAR(wide32[0], -0.1, 1e-5);
  EXPECT_NEAR(full32[0], 0.1, 1e-5);
}

class RingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(ring_.Allocate(twtest::PcmFormat(1, 8000, 8), 100));
    for (int i = 0; i < 8; ++i) {
      events_[i] = CreateEventA(nullptr, FALSE, FALSE, nullptr);
      positions_[i] = DSBPOSITIONNOTIFY{static_cast<DWORD>(i * 100 / 8), events_[i]};
    }
  }
  void TearDown() override {
    for (HANDLE event : events_) {
      CloseHandle(event);
    }
  }

  // The positions whose events are signalled now (and resets them).
  std::vector<DWORD> Signalled() {
    std::vector<DWORD> offsets;
    for (int i = 0; i < 8; ++i) {
      if (WaitForSingleObject(events_[i], 0) == WAIT_OBJECT_0) {
        offsets.push_back(positions_[i].dwOffset);
      }
    }
    return offsets;
  }

  void Write(DWORD offset, const std::vector<BYTE>& bytes) {
    LPVOID region1 = nullptr;
    LPVOID region2 = nullptr;
    DWORD bytes1 = 0;
    DWORD bytes2 = 0;
    ASSERT_EQ(
        ring_.Lock(offset, static_cast<DWORD>(bytes.size()), &region1, &bytes1, &region2, &bytes2),
        DS_OK);
    std::copy(bytes.begin(), bytes.begin() + bytes1, static_cast<BYTE*>(region1));
    std::copy(bytes.begin() + bytes1, bytes.end(), static_cast<BYTE*>(region2));
    ASSERT_EQ(ring_.Unlock(region1, bytes1, region2, bytes2, true), DS_OK);
  }

  // The ring's 100 bytes as a Lock shows them; nothing is stored back.
  std::vector<BYTE> Contents() {
    LPVOID region1 = nullptr;
    DWORD bytes1 = 0;
    EXPECT_EQ(ring_.Lock(0, 100, &region1, &bytes1, nullptr, nullptr), DS_OK);
    const auto* bytes = static_cast<const BYTE*>(region1);
    std::vector<BYTE> contents(bytes, bytes + bytes1);
    ring_.Unlock(region1, bytes1, nullptr, 0, false);
    return contents;
  }
  // 1, 2, .. 100 written from offset 0.
  void WriteRamp() {
    std::vector<BYTE> written(100);
    for (int i = 0; i < 100; ++i) {
      written[i] = static_cast<BYTE>(i + 1);
    }
    Write(0, written);
  }

  SoundRing ring_;
  HANDLE events_[8];
  DSBPOSITIONNOTIFY positions_[8];
};

TEST_F(RingTest, LockSplitsOnlyASpanThatCrossesTheEnd) {
  LPVOID region1 = nullptr;
  LPVOID region2 = reinterpret_cast<LPVOID>(1);
  DWORD bytes1 = 0;
  DWORD bytes2 = 7;
  ASSERT_EQ(ring_.Lock(10, 90, &region1, &bytes1, &region2, &bytes2), DS_OK);
  EXPECT_EQ(bytes1, 90u);
  EXPECT_EQ(region2, nullptr);
  EXPECT_EQ(bytes2, 0u);
  ASSERT_EQ(ring_.Unlock(region1, bytes1, region2, bytes2, true), DS_OK);

  ASSERT_EQ(ring_.Lock(70, 45, &region1, &bytes1, &region2, &bytes2), DS_OK);
  EXPECT_EQ(bytes1, 30u);
  EXPECT_EQ(bytes2, 15u);
  EXPECT_EQ(static_cast<BYTE*>(region1) - static_cast<BYTE*>(region2), 70);
  ASSERT_EQ(ring_.Unlock(region1, bytes1, region2, bytes2, true), DS_OK);
}

TEST_F(RingTest, RefusesSpansOutsideTheRingAndRegionsItDidNotHandOut) {
  LPVOID region1 = nullptr;
  LPVOID region2 = nullptr;
  DWORD bytes1 = 0;
  DWORD bytes2 = 0;
  EXPECT_EQ(ring_.Lock(100, 1, &region1, &bytes1, &region2, &bytes2), DSERR_INVALIDPARAM);
  EXPECT_EQ(ring_.Lock(0, 101, &region1, &bytes1, &region2, &bytes2), DSERR_INVALIDPARAM);
  EXPECT_EQ(ring_.Lock(0, 0, &region1, &bytes1, &region2, &bytes2), DSERR_INVALIDPARAM);
  BYTE foreign[4] = {};
  EXPECT_EQ(ring_.Unlock(foreign, 4, nullptr, 0, true), DSERR_INVALIDPARAM);
  ASSERT_EQ(ring_.Lock(90, 10, &region1, &bytes1, &region2, &bytes2), DS_OK);
  EXPECT_EQ(ring_.Unlock(region1, 11, nullptr, 0, true), DSERR_INVALIDPARAM);
}

// The device reads what was written, from the cursor on and across the end;
// each position is signalled when the cursor reaches it, not before.
TEST_F(RingTest, RenderPlaysInOrderAndSignalsPositionsAsTheCursorReachesThem) {
  ASSERT_EQ(ring_.SetNotifications(8, positions_), DS_OK);
  WriteRamp();

  std::vector<BYTE> played(60);
  ring_.Render(played.data(), 24);
  EXPECT_EQ(ring_.Cursor(), 24u);
  EXPECT_EQ(Signalled(), (std::vector<DWORD>{12}));
  ring_.Render(played.data(), 1);
  EXPECT_EQ(Signalled(), (std::vector<DWORD>{25}));
  ring_.Render(played.data(), 60);  // 25 .. 84
  EXPECT_EQ(played[0], 26);
  EXPECT_EQ(played[59], 85);
  EXPECT_EQ(Signalled(), (std::vector<DWORD>{37, 50, 62, 75}));
  ring_.Render(played.data(), 20);  // 85 .. 99, then 0 .. 4
  EXPECT_EQ(played[14], 100);
  EXPECT_EQ(played[15], 1);
  EXPECT_EQ(ring_.Cursor(), 5u);
  EXPECT_EQ(Signalled(), (std::vector<DWORD>{0, 87}));
  EXPECT_EQ(ring_.BytesMoved(), 105u);
}

TEST_F(RingTest, RefusesPositionsOutsideTheRingOrWithoutAnEvent) {
  DSBPOSITIONNOTIFY entry{100, events_[0]};
  EXPECT_EQ(ring_.SetNotifications(1, &entry), DSERR_INVALIDPARAM);
  entry = DSBPOSITIONNOTIFY{10, nullptr};
  EXPECT_EQ(ring_.SetNotifications(1, &entry), DSERR_INVALIDPARAM);
  entry = DSBPOSITIONNOTIFY{DSBPN_OFFSETSTOP, events_[0]};
  EXPECT_EQ(ring_.SetNotifications(1, &entry), DS_OK);
  ring_.SignalStopNotifications();
  EXPECT_EQ(WaitForSingleObject(events_[0], 0), WAIT_OBJECT_0);
}

TEST_F(RingTest, CaptureStoresAtTheCursorAndAHoleIsSilence) {
  const std::vector<BYTE> recorded(90, 7);
  ring_.Capture(recorded.data(), 90);
  ring_.Capture(nullptr, 20);  // 90 .. 99, 0 .. 9
  EXPECT_EQ(ring_.Cursor(), 10u);
  LPVOID region1 = nullptr;
  DWORD bytes1 = 0;
  ASSERT_EQ(ring_.Lock(0, 100, &region1, &bytes1, nullptr, nullptr), DS_OK);
  const auto* bytes = static_cast<const BYTE*>(region1);
  EXPECT_EQ(bytes[9], 0x80) << "8-bit silence is the middle value";
  EXPECT_EQ(bytes[10], 7);
  EXPECT_EQ(bytes[95], 0x80);
  ring_.Unlock(region1, bytes1, nullptr, 0, false);
}

// A device that asks for more than the ring holds at once (a sound server's
// queue longer than a tiny ring) gets the ring's bytes again, lap after lap,
// and a capture of more than a ring keeps its newest bytes; neither reads or
// writes outside the ring (which ASan builds check).
TEST_F(RingTest, RequestsLargerThanTheRingGoRoundItAndStayInside) {
  ASSERT_EQ(ring_.SetNotifications(8, positions_), DS_OK);
  WriteRamp();
  std::vector<BYTE> played(350);
  ring_.Render(played.data(), 30);
  Signalled();
  ring_.Render(played.data(), 350);
  for (DWORD k = 0; k < 350; ++k) {
    ASSERT_EQ(played[k], (30 + k) % 100 + 1) << "byte " << k;
  }
  EXPECT_EQ(ring_.Cursor(), 80u);
  EXPECT_EQ(ring_.BytesMoved(), 380u);
  EXPECT_EQ(Signalled().size(), 8u);

  std::vector<BYTE> recorded(250);
  for (int i = 0; i < 250; ++i) {
    recorded[i] = static_cast<BYTE>(i);
  }
  ring_.Capture(recorded.data(), 250);  // from 80 round to 30: the last 100 stay
  EXPECT_EQ(ring_.Cursor(), 30u);
  const std::vector<BYTE> kept = Contents();
  for (DWORD i = 150; i < 250; ++i) {
    ASSERT_EQ(kept[(80 + i) % 100], recorded[i]) << "byte " << i;
  }
  ring_.Capture(nullptr, 1030);
  EXPECT_EQ(Contents(), std::vector<BYTE>(100, 0x80));
}

// Spans of every length at every offset, across the end too, leave the bytes
// around them as they were: the ring keeps its bytes in words, and a span
// that starts or ends inside one merges into it.
TEST_F(RingTest, EverySpanReadsBackExactlyAndLeavesItsNeighboursAlone) {
  std::vector<BYTE> model(100, 0x80);
  int stamp = 0;
  for (DWORD offset = 0; offset < 100; offset += 3) {
    for (DWORD length = 1; length <= 100; length += 7) {
      std::vector<BYTE> bytes(length);
      for (BYTE& byte : bytes) {
        byte = static_cast<BYTE>(++stamp);
      }
      Write(offset, bytes);
      for (DWORD i = 0; i < length; ++i) {
        model[(offset + i) % 100] = bytes[i];
      }
      std::vector<BYTE> rendered(100);
      ring_.Render(rendered.data(), 100);  // a whole lap, from the cursor
      std::rotate(rendered.begin(), rendered.end() - ring_.Cursor(), rendered.end());
      ASSERT_EQ(rendered, model) << "offset " << offset << ", length " << length;
    }
  }
  ring_.Render(model.data(), 37);  // the device side's own spans, at odd offsets
  const std::vector<BYTE> recorded(70, 9);
  ring_.Capture(recorded.data(), 70);
  ring_.Capture(nullptr, 5);
  LPVOID region1 = nullptr;
  DWORD bytes1 = 0;
  ASSERT_EQ(ring_.Lock(0, 100, &region1, &bytes1, nullptr, nullptr), DS_OK);
  const auto* bytes = static_cast<const BYTE*>(region1);
  EXPECT_EQ(bytes[36], model[36]);
  EXPECT_EQ(bytes[37], 9);
  EXPECT_EQ(bytes[106 % 100], 9);
  EXPECT_EQ(bytes[107 % 100], 0x80);
  EXPECT_EQ(bytes[111 % 100], 0x80);
  EXPECT_EQ(bytes[112 % 100], model[12]);
  ring_.Unlock(region1, bytes1, nullptr, 0, false);
}

// A Lock hands out the ring's present bytes, not what the program changed in
// an earlier span and then stored only in part, or not at all.
TEST_F(RingTest, ALockShowsOnlyWhatWasStoredBack) {
  Write(0, std::vector<BYTE>(100, 1));
  LPVOID region1 = nullptr;
  DWORD bytes1 = 0;
  ASSERT_EQ(ring_.Lock(0, 50, &region1, &bytes1, nullptr, nullptr), DS_OK);
  std::fill_n(static_cast<BYTE*>(region1), 50, 2);
  ASSERT_EQ(ring_.Unlock(region1, 20, nullptr, 0, true), DS_OK);
  ASSERT_EQ(ring_.Lock(60, 10, &region1, &bytes1, nullptr, nullptr), DS_OK);
  std::fill_n(static_cast<BYTE*>(region1), 10, 3);
  ASSERT_EQ(ring_.Unlock(region1, bytes1, nullptr, 0, false), DS_OK);

  ASSERT_EQ(ring_.Lock(0, 100, &region1, &bytes1, nullptr, nullptr), DS_OK);
  const auto* bytes = static_cast<const BYTE*>(region1);
  EXPECT_EQ(bytes[19], 2);
  EXPECT_EQ(bytes[20], 1);
  EXPECT_EQ(bytes[60], 1);
  ring_.Unlock(region1, bytes1, nullptr, 0, false);
}

}  // namespace

// What the drift correction reads: the bytes written ahead of the cursor,
// across the end, a full ring, and nothing once the device has passed them.
TEST_F(RingTest, QueuedCountsWrittenBytesAheadOfTheCursorUntilTheyArePlayed) {
  BYTE out[100];
  EXPECT_EQ(ring_.Queued(), 0u);
  Write(0, std::vector<BYTE>(60, 1));
  EXPECT_EQ(ring_.Queued(), 60u);
  ring_.Render(out, 50);
  EXPECT_EQ(ring_.Queued(), 10u);
  Write(60, std::vector<BYTE>(70, 2));  // wraps: ends at 30, cursor at 50
  EXPECT_EQ(ring_.Queued(), 80u);
  Write(30, std::vector<BYTE>(20, 3));  // up to the cursor: the ring is full
  EXPECT_EQ(ring_.Queued(), 100u);
  ring_.Render(out, 100);
  EXPECT_EQ(ring_.Queued(), 0u);
  ring_.Render(out, 30);  // an underrun: the device went on past the writer
  EXPECT_EQ(ring_.Queued(), 0u);
  Write(80, std::vector<BYTE>(5, 4));
  EXPECT_EQ(ring_.Queued(), 5u);
}
