// The playback ring writer over a scripted buffer: exact cursors, exact calls.
#include <gtest/gtest.h>

#include <winsock2.h>

#include <dsound.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "audio/playback_context.h"
#include "audio/playback_ring.h"
#include "core/app_state.h"
#include "tests/audio/scripted_sound.h"
#include "tests/support/test_host.h"

namespace {

using twtest::ScriptedPlaybackBuffer;
using twtest::ScriptedPlaybackDevice;

void AnnounceFormat(DWORD samplesPerSecond, DWORD channels, DWORD bits, DWORD bytesPerSecond) {
  StreamHeader header{};
  std::memcpy(header.magic, kHeaderMagic, sizeof header.magic);
  header.samplesPerSecond = samplesPerSecond;
  header.channels = channels;
  header.bitsPerSample = bits;
  header.averageBytesPerSecond = bytesPerSecond;
  header.blockAlign = channels * bits / 8;
  header.blockLength = kBlockBytes;
  appState.currentHeader.Store(EncodeHeader(header));
}

class PlaybackRingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    appState.stopRequested.store(0);
    appState.volume.store(0);
    appState.appliedVolume.store(0);
    context_.playbackBuffer = &buffer_;
    context_.bufferBytes = 44100;
    context_.frameBytes = 4;
    context_.playing = true;  // most cases write into a playing ring
    buffer_.eventToSignal = context_.notifyEvent;
    for (size_t i = 0; i < chunk_.size(); ++i) {
      chunk_[i] = static_cast<BYTE>(i % 251 + 1);
    }
  }
  void TearDown() override {
    appState.stopRequested.store(0);
    context_.playbackBuffer = nullptr;
  }

  bool Write(LONG length) { return WritePlaybackBlock(context_, chunk_.data(), length); }
  bool RingHolds(DWORD at, size_t from, size_t count) {
    return std::equal(chunk_.begin() + from, chunk_.begin() + from + count,
                      buffer_.ring.begin() + at);
  }
  std::vector<std::string> Captions() {
    std::vector<std::string> captions;
    for (const auto& box : host_.Boxes()) {
      captions.push_back(box.caption);
    }
    return captions;
  }

  twtest::TestHost host_;
  ScriptedPlaybackBuffer buffer_{44100};
  PlaybackContext context_;
  std::vector<BYTE> chunk_ = std::vector<BYTE>(kBlockBytes);
};

TEST_F(PlaybackRingTest, SetUpMakesAQuarterSecondRingFromTheHeader) {
  context_.playbackBuffer = nullptr;
  context_.writeOffset = 30000;
  AnnounceFormat(44100, 2, 16, 176400);
  ScriptedPlaybackDevice device(&buffer_);
  ASSERT_EQ(SetUpPlaybackBuffer(context_, &device, &context_.playbackBuffer), DS_OK);
  EXPECT_EQ(context_.bufferBytes, 44100);
  EXPECT_EQ(device.description.dwSize, sizeof(DSBUFFERDESC));
  EXPECT_EQ(device.description.dwFlags, 0x181A0u);
  EXPECT_EQ(device.description.dwBufferBytes, 44100u);
  EXPECT_EQ(device.format.nChannels, 2);
  EXPECT_EQ(device.format.nSamplesPerSec, 44100u);
  EXPECT_EQ(device.format.nAvgBytesPerSec, 176400u);
  EXPECT_EQ(device.format.nBlockAlign, 4);
  EXPECT_EQ(device.format.wBitsPerSample, 16);
  EXPECT_EQ(buffer_.notify.Offsets(),
            (std::vector<DWORD>{0, 5512, 11025, 16537, 22050, 27562, 33075, 38587}));
  EXPECT_TRUE(buffer_.notify.AllSignal(context_.notifyEvent));
  EXPECT_EQ(appState.appliedVolume.load(), -1);
  EXPECT_EQ(context_.writeOffset, 0) << "a new buffer is written from where it plays";

  AnnounceFormat(11025, 1, 32, 44101);
  ASSERT_EQ(SetUpPlaybackBuffer(context_, &device, &context_.playbackBuffer), DS_OK);
  EXPECT_EQ(context_.bufferBytes, 11025) << "the remainder is dropped";

  // A peer's header may claim a block align beyond the 16 bits a format
  // holds: the writer's frame is the one the buffer plays.
  AnnounceFormat(8000, 1, 8, 8000);
  StreamHeader claimed = appState.currentHeader.Get();
  claimed.blockAlign = 0x80000001;
  appState.currentHeader.Store(EncodeHeader(claimed));
  ASSERT_EQ(SetUpPlaybackBuffer(context_, &device, &context_.playbackBuffer), DS_OK);
  EXPECT_EQ(device.format.nBlockAlign, 1);
  EXPECT_EQ(context_.frameBytes, 1);
  LONG queued = 0;
  EXPECT_EQ(LookAtPlaybackRing(context_, &queued), 1999) << "the ring less one frame";
}

TEST_F(PlaybackRingTest, SetUpReportsTheStepThatFailed) {
  AnnounceFormat(44100, 2, 16, 176400);
  ScriptedPlaybackDevice refusing(&buffer_);
  refusing.result = DSERR_BADFORMAT;
  IDirectSoundBuffer* out = nullptr;
  EXPECT_EQ(SetUpPlaybackBuffer(context_, &refusing, &out), DSERR_BADFORMAT);
  ScriptedPlaybackBuffer noNotify(44100);
  noNotify.queryResult = E_NOINTERFACE;
  ScriptedPlaybackDevice second(&noNotify);
  EXPECT_EQ(SetUpPlaybackBuffer(context_, &second, &out), E_NOINTERFACE);
  EXPECT_EQ(out, &noNotify) << "the buffer stays to be released with the context";
  ScriptedPlaybackBuffer badPositions(44100);
  badPositions.notify.result = DSERR_INVALIDPARAM;
  ScriptedPlaybackDevice third(&badPositions);
  EXPECT_EQ(SetUpPlaybackBuffer(context_, &third, &out), DSERR_INVALIDPARAM);
  EXPECT_EQ(Captions(),
            (std::vector<std::string>{"Error 0x88780064 in CreateSoundBuffer",
                                      "Error 0x80004002 in Query Notify Interface",
                                      "Error 0x80070057 in Playback SetNotificationPositions"}));
}

// Before Play the ring takes what fits without overwriting anything: the
// second chunk fills it (one frame stays free), playback starts, and the
// rest waits until the play cursor has moved past the first chunk's start.
TEST_F(PlaybackRingTest, StoppedRingIsFilledOnceThenPlaysBeforeTheRestGoesIn) {
  context_.playing = false;
  buffer_.cursors = {{0, 0}, {0, 0}, {0, 0}, {0, 4}, {5060, 5064}};
  ASSERT_TRUE(Write(24576));
  ASSERT_TRUE(Write(24576));
  EXPECT_EQ(buffer_.calls, (std::vector<std::string>{"Play"}));
  ASSERT_EQ(buffer_.locks.size(), 3u);
  EXPECT_EQ(buffer_.locks[1].offset, 24576u);
  EXPECT_EQ(buffer_.locks[1].bytes, 19520u);
  EXPECT_EQ(buffer_.locks[2].offset, 44096u);
  EXPECT_EQ(buffer_.locks[2].bytes, 5056u);
  EXPECT_EQ(buffer_.positionCalls, 5) << "the rest waited for the cursor";
  EXPECT_TRUE(RingHolds(24576, 0, 19520));
  EXPECT_TRUE(RingHolds(44096, 19520, 4));
  EXPECT_TRUE(RingHolds(0, 19524, 5052));
  EXPECT_EQ(context_.writeOffset, 5052);
}

TEST_F(PlaybackRingTest, FreeSpaceFollowsThePlayCursorWhilePlaying) {
  struct Case {
    LONG writeOffset;
    DWORD playCursor;
    DWORD firstPart;      // what fits at once, one frame short of the cursor
    int expectedQueries;  // 1: in at once; 2: the rest after the cursor moved
  } cases[] = {
      {20000, 20000, 24576, 1},  // equal offsets: empty, not full
      {5000, 30000, 24576, 1},   // used 19100, room 24996
      {19520, 0, 24576, 1},      // room exactly the length
      {19524, 0, 24572, 2},      // one frame short: that frame goes next
      {40000, 10000, 14096, 2},  // used 30000: part now, the rest later
  };
  for (const Case& each : cases) {
    buffer_.positionCalls = 0;
    buffer_.locks.clear();
    context_.writeOffset = each.writeOffset;
    context_.queuedBytes = 0x7FFFFFFF;  // a first look
    // After the first part the cursor has moved to the old write offset.
    const DWORD later = static_cast<DWORD>(each.writeOffset);
    buffer_.cursors = {{each.playCursor, each.playCursor + 4}, {later, later + 4}};
    ASSERT_TRUE(Write(24576)) << each.writeOffset;
    EXPECT_EQ(buffer_.positionCalls, each.expectedQueries) << each.writeOffset;
    ASSERT_EQ(buffer_.locks.size(), static_cast<size_t>(each.expectedQueries));
    EXPECT_EQ(buffer_.locks[0].bytes, each.firstPart) << each.writeOffset;
    EXPECT_EQ(context_.writeOffset, (each.writeOffset + 24576) % 44100);
  }
}

// The play cursor keeps the device's pace through a late stream: once it has
// overtaken the writer, writing goes on from the write cursor (heard next),
// not behind the play cursor (heard almost a ring later, for good).
TEST_F(PlaybackRingTest, AWriterOvertakenByThePlayCursorGoesOnFromTheWriteCursor) {
  context_.writeOffset = 20000;
  buffer_.cursors = {{19000, 19004}, {25000, 25004}, {25500, 25504}};
  ASSERT_TRUE(Write(100));  // 1100 bytes queued after this look
  ASSERT_TRUE(Write(1000));
  ASSERT_TRUE(Write(1000));
  ASSERT_EQ(buffer_.locks.size(), 3u);
  EXPECT_EQ(buffer_.locks[0].offset, 20000u);
  EXPECT_EQ(buffer_.locks[1].offset, 25004u) << "overtaken: on from the write cursor";
  EXPECT_EQ(buffer_.locks[2].offset, 26004u) << "then on as usual";
  EXPECT_EQ(context_.writeOffset, 27004);
}

// TCP cuts the stream anywhere; the ring only ever gets whole frames, and a
// failed write drops whole frames, so the frames after it stay whole.
TEST_F(PlaybackRingTest, PartialFramesWaitForTheNextChunkAndAFailedWriteDropsWholeFrames) {
  const auto write = [this](size_t from, LONG length) {
    return WritePlaybackBlock(context_, chunk_.data() + from, length);
  };
  buffer_.cursors = {{30000, 30004}};
  ASSERT_TRUE(write(0, 3));
  EXPECT_TRUE(buffer_.locks.empty()) << "not a frame yet";
  ASSERT_TRUE(write(3, 3));
  ASSERT_TRUE(write(6, 6));
  EXPECT_TRUE(RingHolds(0, 0, 12));
  EXPECT_EQ(context_.writeOffset, 12);

  buffer_.lockResults = {DSERR_INVALIDCALL};
  EXPECT_FALSE(write(12, 7));  // frame 12..15 dropped, 16..18 kept for the next
  EXPECT_EQ(Captions(), (std::vector<std::string>{"Error 0x88780032 in Playback Lock"}));
  ASSERT_TRUE(write(19, 5));
  EXPECT_TRUE(RingHolds(12, 16, 8)) << "on with the stream's next whole frame";
  EXPECT_EQ(context_.writeOffset, 20);
  for (const twtest::LockCall& lock : buffer_.locks) {
    EXPECT_EQ(lock.bytes % 4, 0u) << "at " << lock.offset;
  }
}

// What the cursor has played is overwritten with silence, once, so a cursor
// that overtakes a late writer plays silence, not the ring's older sound;
// the writer then goes on from the write cursor with a fade-in.
TEST_F(PlaybackRingTest, ThePlayedRegionIsSilencedSoAnUnderrunPlaysSilence) {
  AnnounceFormat(44100, 2, 16, 176400);
  context_.fadeFrames = 220;
  std::fill(buffer_.ring.begin(), buffer_.ring.end(), BYTE{0x55});
  context_.writeOffset = 20000;
  buffer_.cursors = {{10000, 10004}, {15000, 15004}, {22000, 22004}};
  SilencePlayedRegion(context_, false);
  const auto silent = [this](size_t from, size_t to) {
    return std::all_of(buffer_.ring.begin() + from, buffer_.ring.begin() + to,
                       [](BYTE value) { return value == 0; });
  };
  EXPECT_TRUE(silent(20000, 44100));
  EXPECT_TRUE(silent(0, 10000));
  EXPECT_EQ(buffer_.ring[10000], 0x55) << "queued sound is kept";
  EXPECT_EQ(buffer_.ring[19999], 0x55);

  // The last write of a pass ends where the queued sound ends (the sound
  // layer may read the end of the last write as the end of what is queued).
  ASSERT_FALSE(buffer_.locks.empty());
  EXPECT_EQ(buffer_.locks.back().offset + buffer_.locks.back().bytes, 20000u);

  buffer_.locks.clear();
  SilencePlayedRegion(context_, false);
  ASSERT_EQ(buffer_.locks.size(), 2u);
  EXPECT_EQ(buffer_.locks[0].offset, 10000u) << "only what was played since";
  EXPECT_EQ(buffer_.locks[0].bytes, 5000u);
  EXPECT_EQ(buffer_.locks[1].offset + buffer_.locks[1].bytes, 20000u);
  EXPECT_EQ(buffer_.ring[15000], 0x55);
  EXPECT_EQ(buffer_.ring[19999], 0x55) << "the sound's last frame stays as it was";

  SilencePlayedRegion(context_, true);  // the cursor has passed the writer
  EXPECT_EQ(context_.writeOffset, 22004);
  EXPECT_TRUE(silent(15000, 22004)) << "what the overtaking cursor plays is silence";
  ASSERT_TRUE(Write(1000));
  EXPECT_TRUE(silent(22004, 22008)) << "the fade-in starts from silence";
  EXPECT_FALSE(RingHolds(22004 + 400, 400, 4)) << "still fading in";
  EXPECT_TRUE(RingHolds(22004 + 880, 880, 120)) << "full level after 5 ms";
}

// At an idle look once the next chunk is overdue, sound that may run out
// before the next look (within 65 ms) fades out over its last 5 ms instead
// of stopping with a click; a ring that is merely low while chunks come on
// time is left alone. A chunk that comes while the device is still a step
// short of the fade puts the end back as it was and follows it seamlessly;
// one that comes later fades in after what is heard of the fade.
TEST_F(PlaybackRingTest, SoundThatMayRunOutFadesOutAndComesBackIfTheChunkDoes) {
  AnnounceFormat(44100, 2, 16, 176400);
  context_.fadeFrames = 220;
  for (size_t at = 0; at + 1 < buffer_.ring.size(); at += 2) {
    buffer_.ring[at] = 0xE8;  // 1000
    buffer_.ring[at + 1] = 0x03;
  }
  const auto sample = [this](size_t at) {
    return static_cast<int>(buffer_.ring[at] | buffer_.ring[at + 1] << 8);
  };
  context_.writeOffset = 30000;
  buffer_.cursors = {{10000, 10004}};  // 113 ms queued
  SilencePlayedRegion(context_, false);
  EXPECT_EQ(sample(29996), 1000) << "a chunk may still come";
  SilencePlayedRegion(context_, true);
  SilencePlayedRegion(context_, true);
  EXPECT_EQ(sample(29996), 1000) << "100 ms idle: the next 139 ms block is not overdue yet";
  SilencePlayedRegion(context_, true);
  EXPECT_EQ(sample(29996), 1000) << "overdue, but more than the next look's worth is queued";
  buffer_.cursors = {{19000, 19004}};  // 62 ms queued
  SilencePlayedRegion(context_, true);
  EXPECT_EQ(sample(29116), 1000);
  EXPECT_EQ(sample(29120), 1000) << "the fade's first frame";
  EXPECT_EQ(sample(29560), 500);
  EXPECT_LE(sample(29996), 5);
  EXPECT_EQ(context_.writeOffset, 30000) << "the fade takes no time";

  buffer_.cursors = {{20000, 20004}};
  ASSERT_TRUE(Write(1000));
  EXPECT_EQ(sample(29560), 1000) << "the device is far from the fade: the end is put back";
  EXPECT_EQ(sample(29996), 1000);
  EXPECT_TRUE(RingHolds(30000, 0, 1000)) << "and the chunk follows it untouched";

  SilencePlayedRegion(context_, false);
  buffer_.cursors = {{30500, 30504}};  // 500 bytes queued: a partial fade
  for (int look = 0; look < 3; ++look) {
    SilencePlayedRegion(context_, true);
  }
  EXPECT_FALSE(RingHolds(30996, 996, 4)) << "faded";
  buffer_.cursors = {{30900, 30904}};
  ASSERT_TRUE(Write(1000));
  EXPECT_FALSE(RingHolds(30996, 996, 4)) << "the device is playing the fade: it stays";
  EXPECT_TRUE(std::all_of(buffer_.ring.begin() + 31000, buffer_.ring.begin() + 31004,
                          [](BYTE value) { return value == 0; }))
      << "the chunk fades in from silence";
  EXPECT_TRUE(RingHolds(31000 + 880, 880, 120)) << "full level after 5 ms";
}

TEST_F(PlaybackRingTest, ChunkAcrossTheEndIsSplitAtTheEnd) {
  context_.writeOffset = 30000;
  buffer_.cursors = {{29000, 29004}};
  ASSERT_TRUE(Write(24576));
  EXPECT_TRUE(RingHolds(30000, 0, 14100));
  EXPECT_TRUE(RingHolds(0, 14100, 10476));
  EXPECT_EQ(context_.writeOffset, 10476);
}

// A ring smaller than a chunk (a header of under 98304 bytes per second)
// takes as much as the cursor has freed on each pass, so it plays steadily
// instead of waiting for the whole ring to be free.
TEST_F(PlaybackRingTest, SmallRingTakesWhatTheCursorFreedOnEachPass) {
  ScriptedPlaybackBuffer small(4000);
  small.eventToSignal = context_.notifyEvent;
  context_.playbackBuffer = &small;
  context_.bufferBytes = 4000;
  context_.playing = false;
  small.cursors = {{0, 0},       {0, 0},       {0, 4},       {1000, 1004},
                   {1000, 1004}, {3000, 3004}, {3000, 3004}, {2990, 2994}};
  ASSERT_TRUE(Write(10000));
  std::vector<DWORD> parts;
  for (const twtest::LockCall& lock : small.locks) {
    parts.push_back(lock.bytes);
  }
  EXPECT_EQ(parts, (std::vector<DWORD>{3996, 1000, 2000, 3004}));
  EXPECT_EQ(small.calls, (std::vector<std::string>{"Play"}));
  EXPECT_EQ(context_.writeOffset, 2000);
  context_.playbackBuffer = &buffer_;
}

TEST_F(PlaybackRingTest, LostBufferIsRestoredAndLockedOnceMore) {
  buffer_.lockResults = {DSERR_BUFFERLOST};
  ASSERT_TRUE(Write(1000));
  EXPECT_EQ(buffer_.calls, (std::vector<std::string>{"Restore"}));
  EXPECT_EQ(buffer_.locks.size(), 2u);
  EXPECT_EQ(context_.writeOffset, 1000);

  buffer_.calls.clear();
  buffer_.lockResults = {DSERR_BUFFERLOST, DSERR_BUFFERLOST};
  EXPECT_FALSE(Write(1000));
  EXPECT_EQ(buffer_.calls.size(), 1u);
  EXPECT_EQ(Captions(), (std::vector<std::string>{"Error 0x88780096 in Playback Lock"}));
  EXPECT_EQ(context_.writeOffset, 1000);
}

TEST_F(PlaybackRingTest, FailedPositionOrUnlockIsReportedAndWritesNothing) {
  buffer_.positionResult = DSERR_NODRIVER;
  EXPECT_FALSE(Write(1000));
  buffer_.positionResult = DS_OK;
  buffer_.unlockResult = DSERR_INVALIDPARAM;
  EXPECT_FALSE(Write(1000));
  EXPECT_EQ(context_.writeOffset, 0);
  EXPECT_EQ(Captions(),
            (std::vector<std::string>{"Error 0x88780078 in GetCurrentPosition in playback",
                                      "Error 0x80070057 in Playback Unlock"}));
}

TEST_F(PlaybackRingTest, StopEndsTheWaitForRoom) {
  appState.stopRequested.store(1);
  EXPECT_FALSE(Write(1000));
  EXPECT_EQ(buffer_.positionCalls, 0);
  appState.stopRequested.store(0);
  context_.writeOffset = 9996;  // full: one frame short of the play cursor
  buffer_.cursors = {{10000, 10004}};
  buffer_.stopAfterPositions = 4;
  EXPECT_FALSE(Write(24576));
  EXPECT_EQ(buffer_.positionCalls, 4);
  EXPECT_TRUE(buffer_.locks.empty());
  EXPECT_EQ(context_.writeOffset, 9996);
}

// The slider's value reaches the buffer once per change, and every new
// buffer gets it before its first chunk, moved or not.
TEST_F(PlaybackRingTest, VolumeIsAppliedOncePerChangeAndToEveryNewBuffer) {
  appState.volume.store(-1200);
  ASSERT_TRUE(Write(100));
  ASSERT_TRUE(Write(100));
  appState.volume.store(-300);
  ASSERT_TRUE(Write(100));
  EXPECT_EQ(buffer_.volumes, (std::vector<LONG>{-1200, -300}));
  EXPECT_EQ(appState.appliedVolume.load(), -300) << "applied even though the buffer refused";

  ScriptedPlaybackBuffer next(44100);
  ScriptedPlaybackDevice device(&next);
  AnnounceFormat(44100, 2, 16, 176400);
  ASSERT_EQ(SetUpPlaybackBuffer(context_, &device, &context_.playbackBuffer), DS_OK);
  ASSERT_TRUE(Write(100));
  EXPECT_EQ(next.volumes, (std::vector<LONG>{-300}));
  context_.playbackBuffer = &buffer_;
}

TEST_F(PlaybackRingTest, ReleaseStopsThenReleasesOnce) {
  ReleasePlaybackBuffer(context_);
  EXPECT_EQ(buffer_.calls, (std::vector<std::string>{"Stop", "Release"}));
  EXPECT_EQ(context_.playbackBuffer, nullptr);
  ReleasePlaybackBuffer(context_);
  EXPECT_EQ(buffer_.calls.size(), 2u);
}

}  // namespace
