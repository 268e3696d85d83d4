// The capture ring reader over a scripted buffer: exact cursors, exact calls.
#include <gtest/gtest.h>

#include <winsock2.h>

#include <dsound.h>
#include <windows.h>

#include <vector>

#include "audio/capture_context.h"
#include "audio/capture_ring.h"
#include "core/app_state.h"
#include "tests/audio/scripted_sound.h"
#include "tests/support/test_host.h"

namespace {

using twtest::ScriptedCaptureBuffer;
using twtest::ScriptedCaptureDevice;

StreamHeader HeaderWithBlock(DWORD blockLength) {
  StreamHeader header{};
  header.blockLength = blockLength;
  return header;
}

class CaptureRingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    appState.stopRequested.store(0);
    for (size_t i = 0; i < buffer_.ring.size(); ++i) {
      buffer_.ring[i] = static_cast<BYTE>(i * 7 + i / 256);
    }
    context_.captureBuffer = &buffer_;
    context_.bufferBytes = kCaptureRingBytes;
    context_.notifyStep = kCaptureNotifyStep;
    buffer_.eventToSignal = context_.notifyEvent;
  }
  void TearDown() override {
    appState.stopRequested.store(0);
    context_.captureBuffer = nullptr;
  }

  twtest::TestHost host_;
  ScriptedCaptureBuffer buffer_{kCaptureRingBytes};
  CaptureContext context_;
  std::vector<BYTE> block_ = std::vector<BYTE>(kCaptureRingBytes + 1);
  LONG length_ = -1;
};

TEST_F(CaptureRingTest, SetUpMakesTheFixedRingWithItsEightPositions) {
  context_.captureBuffer = nullptr;
  ScriptedCaptureDevice device(&buffer_);
  ASSERT_EQ(SetUpCaptureBuffer(context_, &device, &context_.captureBuffer), DS_OK);
  EXPECT_EQ(context_.captureBuffer, &buffer_);
  EXPECT_EQ(device.description.dwSize, sizeof(DSCBUFFERDESC));
  EXPECT_EQ(device.description.dwFlags, 0u);
  EXPECT_EQ(device.description.dwBufferBytes, 44096u);
  EXPECT_EQ(device.description.dwFXCount, 0u);
  EXPECT_EQ(device.description.lpDSCFXDesc, nullptr);
  EXPECT_EQ(device.format.wFormatTag, WAVE_FORMAT_PCM);
  EXPECT_EQ(device.format.nChannels, 2);
  EXPECT_EQ(device.format.nSamplesPerSec, 44100u);
  EXPECT_EQ(device.format.nAvgBytesPerSec, 176400u);
  EXPECT_EQ(device.format.nBlockAlign, 4);
  EXPECT_EQ(device.format.wBitsPerSample, 16);
  EXPECT_EQ(device.format.cbSize, 0);
  EXPECT_EQ(buffer_.notify.Offsets(),
            (std::vector<DWORD>{0, 689, 1378, 2067, 2756, 3445, 4134, 4823}));
  EXPECT_TRUE(buffer_.notify.AllSignal(context_.notifyEvent));
  EXPECT_EQ(buffer_.references, 1) << "the notification interface was released";
  EXPECT_EQ(host_.BoxCount(), 0u);
}

TEST_F(CaptureRingTest, SetUpWithoutADeviceChangesNothingAndSaysNothing) {
  context_.bufferBytes = 7;
  context_.notifyStep = 9;
  IDirectSoundCaptureBuffer* out = nullptr;
  EXPECT_EQ(SetUpCaptureBuffer(context_, nullptr, &out), E_INVALIDARG);
  ScriptedCaptureDevice device(&buffer_);
  EXPECT_EQ(SetUpCaptureBuffer(context_, &device, nullptr), E_INVALIDARG);
  EXPECT_EQ(context_.bufferBytes, 7);
  EXPECT_EQ(context_.notifyStep, 9);
  EXPECT_EQ(host_.BoxCount(), 0u);
}

TEST_F(CaptureRingTest, SetUpReportsTheStepThatFailed) {
  struct Case {
    void (*fail)(ScriptedCaptureDevice&, ScriptedCaptureBuffer&);
    const char* caption;
  } cases[] = {
      {[](ScriptedCaptureDevice& d, ScriptedCaptureBuffer&) { d.result = DSERR_BADFORMAT; },
       "Error 0x88780064 in CreateCaptureBuffer real"},
      {[](ScriptedCaptureDevice&, ScriptedCaptureBuffer& b) { b.queryResult = E_NOINTERFACE; },
       "Error 0x80004002 in Notify QueryInterface"},
      {[](ScriptedCaptureDevice&, ScriptedCaptureBuffer& b) {
         b.notify.result = DSERR_INVALIDPARAM;
       },
       "Error 0x80070057 in SetNotificationPositions"},
  };
  for (const Case& each : cases) {
    ScriptedCaptureBuffer buffer(kCaptureRingBytes);
    ScriptedCaptureDevice device(&buffer);
    each.fail(device, buffer);
    host_.ClearBoxes();
    IDirectSoundCaptureBuffer* out = nullptr;
    EXPECT_TRUE(FAILED(SetUpCaptureBuffer(context_, &device, &out)));
    ASSERT_EQ(host_.BoxCount(), 1u);
    EXPECT_EQ(host_.Boxes()[0].caption, each.caption);
  }
}

TEST_F(CaptureRingTest, ReadsAtOnceWhenExactlyOneBlockIsComplete) {
  buffer_.readPositions = {24576};
  ASSERT_TRUE(ReadCaptureBlock(context_, block_.data(), HeaderWithBlock(24576), length_));
  EXPECT_EQ(buffer_.positionCalls, 1);
  EXPECT_EQ(length_, 24576);
  EXPECT_EQ(context_.readOffset, 24576);
  ASSERT_EQ(buffer_.locks.size(), 1u);
  EXPECT_EQ(buffer_.locks[0].offset, 0u);
  EXPECT_TRUE(std::equal(block_.begin(), block_.begin() + 24576, buffer_.ring.begin()));
}

// Block starts run 0, 24576, 5056: the second block crosses the ring's end.
TEST_F(CaptureRingTest, BlockAcrossTheEndComesBackToBack) {
  context_.readOffset = 24576;
  buffer_.readPositions = {5056};
  ASSERT_TRUE(ReadCaptureBlock(context_, block_.data(), HeaderWithBlock(24576), length_));
  EXPECT_EQ(length_, 24576);
  EXPECT_EQ(context_.readOffset, 5056);
  EXPECT_TRUE(std::equal(block_.begin(), block_.begin() + 19520, buffer_.ring.begin() + 24576));
  EXPECT_TRUE(std::equal(block_.begin() + 19520, block_.begin() + 24576, buffer_.ring.begin()));
}

// The read position equal to readOffset is an empty ring, never a full one;
// the reader waits in short steps and gives up when a stop is requested.
TEST_F(CaptureRingTest, NothingReadableWaitsUntilAStop) {
  context_.readOffset = 1000;
  buffer_.readPositions = {1000};
  buffer_.stopAfterPositions = 3;
  EXPECT_FALSE(ReadCaptureBlock(context_, block_.data(), HeaderWithBlock(24576), length_));
  EXPECT_EQ(buffer_.positionCalls, 3);
  EXPECT_TRUE(buffer_.locks.empty());
  EXPECT_EQ(length_, 0);
  EXPECT_EQ(context_.readOffset, 1000);
}

TEST_F(CaptureRingTest, ABlockAsLongAsTheRingNeverBecomesReadable) {
  buffer_.readPositions = {0, 11024, 22048, 44092, 1};
  buffer_.stopAfterPositions = 6;
  EXPECT_FALSE(ReadCaptureBlock(context_, block_.data(), HeaderWithBlock(44096), length_));
  EXPECT_EQ(buffer_.positionCalls, 6);
  EXPECT_TRUE(buffer_.locks.empty());
}

TEST_F(CaptureRingTest, StopOnEntryOrAFailedCallReadsNothingAndSaysNothing) {
  appState.stopRequested.store(1);
  EXPECT_FALSE(ReadCaptureBlock(context_, block_.data(), HeaderWithBlock(24576), length_));
  EXPECT_EQ(buffer_.positionCalls, 0);
  EXPECT_EQ(length_, 0);
  appState.stopRequested.store(0);

  buffer_.positionResult = DSERR_NODRIVER;
  EXPECT_FALSE(ReadCaptureBlock(context_, block_.data(), HeaderWithBlock(24576), length_));
  buffer_.positionResult = DS_OK;
  buffer_.readPositions = {30000};
  buffer_.lockResults = {DSERR_INVALIDPARAM};
  EXPECT_FALSE(ReadCaptureBlock(context_, block_.data(), HeaderWithBlock(24576), length_));
  EXPECT_EQ(context_.readOffset, 0);
  EXPECT_EQ(length_, 0);
  EXPECT_EQ(host_.BoxCount(), 0u);
}

}  // namespace
