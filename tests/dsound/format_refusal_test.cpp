// What a device refuses to make, and the exact buffers it does make.
#include <gtest/gtest.h>

#include <dsound.h>
#include <windows.h>

#include <cstring>

#include "tests/support/cd_format.h"
#include "tests/support/signal_analysis.h"
#include "tests/support/sound_helpers.h"

namespace {

using twtest::Held;
using twtest::PcmFormat;

struct Refusal {
  const char* what;
  WAVEFORMATEX format;
  DWORD bytes;
  HRESULT expected;
};

WAVEFORMATEX With(WAVEFORMATEX format, void (*change)(WAVEFORMATEX&)) {
  change(format);
  return format;
}

const WAVEFORMATEX kCd = twtest::CdFormat();

const Refusal kRefusals[] = {
    {"float samples", With(kCd, [](WAVEFORMATEX& f) { f.wFormatTag = 3; }), 44100, DSERR_BADFORMAT},
    {"no channels", With(kCd, [](WAVEFORMATEX& f) { f.nChannels = 0; }), 44100, DSERR_INVALIDPARAM},
    {"no rate", PcmFormat(2, 0, 16), 44100, DSERR_INVALIDPARAM},
    {"12-bit samples", PcmFormat(2, 44100, 12), 44100, DSERR_BADFORMAT},
    {"block align off", With(kCd, [](WAVEFORMATEX& f) { f.nBlockAlign = 2; }), 44100,
     DSERR_INVALIDPARAM},
    {"byte rate off", With(kCd, [](WAVEFORMATEX& f) { f.nAvgBytesPerSec = 44101; }), 44100,
     DSERR_INVALIDPARAM},
    {"nine channels", PcmFormat(9, 44100, 16), 44100, DSERR_BADFORMAT},
    {"rate above 384 kHz", PcmFormat(2, 384001, 16), 44100, DSERR_BADFORMAT},
    {"rate below 100 Hz", PcmFormat(1, 99, 8), 44100, DSERR_BADFORMAT},
    {"three bytes", kCd, 3, DSERR_INVALIDPARAM},
    {"less than a frame", PcmFormat(8, 44100, 32), 16, DSERR_INVALIDPARAM},
    {"more than 16 MiB", kCd, 16u * 1024u * 1024u + 4, DSERR_INVALIDPARAM},
    {"Windows' largest", kCd, DSBSIZE_MAX, DSERR_INVALIDPARAM},
};

class BufferFormat : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(DirectSoundCreate(nullptr, playback_.out(), nullptr), DS_OK);
    ASSERT_EQ(DirectSoundCaptureCreate(nullptr, capture_.out(), nullptr), DS_OK);
  }

  Held<IDirectSound> playback_;
  Held<IDirectSoundCapture> capture_;
};

TEST_F(BufferFormat, BothKindsRefuseWhatNoDeviceTakes) {
  for (const Refusal& refusal : kRefusals) {
    WAVEFORMATEX format = refusal.format;
    DSBUFFERDESC playDescription = twtest::PlaybackDescription(&format, refusal.bytes);
    auto* played = reinterpret_cast<IDirectSoundBuffer*>(1);
    EXPECT_EQ(playback_->CreateSoundBuffer(&playDescription, &played, nullptr), refusal.expected)
        << refusal.what;
    EXPECT_EQ(played, nullptr) << refusal.what;
    DSCBUFFERDESC captureDescription = twtest::CaptureDescription(&format, refusal.bytes);
    auto* captured = reinterpret_cast<IDirectSoundCaptureBuffer*>(1);
    EXPECT_EQ(capture_->CreateCaptureBuffer(&captureDescription, &captured, nullptr),
              refusal.expected)
        << refusal.what;
    EXPECT_EQ(captured, nullptr) << refusal.what;
  }
}

TEST_F(BufferFormat, RefusesMalformedDescriptions) {
  WAVEFORMATEX format = kCd;
  Held<IDirectSoundBuffer> buffer;
  DSBUFFERDESC description = twtest::PlaybackDescription(&format, 44100);
  EXPECT_EQ(playback_->CreateSoundBuffer(nullptr, buffer.out(), nullptr), DSERR_INVALIDPARAM);
  description.dwSize = 12;
  EXPECT_EQ(playback_->CreateSoundBuffer(&description, buffer.out(), nullptr), DSERR_INVALIDPARAM);
  description = twtest::PlaybackDescription(nullptr, 44100);
  EXPECT_EQ(playback_->CreateSoundBuffer(&description, buffer.out(), nullptr), DSERR_INVALIDPARAM);
  description = twtest::PlaybackDescription(&format, 44100, DSBCAPS_PRIMARYBUFFER);
  EXPECT_EQ(playback_->CreateSoundBuffer(&description, buffer.out(), nullptr), DSERR_UNSUPPORTED);
  description = twtest::PlaybackDescription(&format, 44100);
  EXPECT_EQ(playback_->CreateSoundBuffer(&description, buffer.out(), playback_.get()),
            DSERR_NOAGGREGATION);

  DSCBUFFERDESC withEffects = twtest::CaptureDescription(&format, 44096);
  DSCEFFECTDESC effect{};
  withEffects.dwFXCount = 1;
  withEffects.lpDSCFXDesc = &effect;
  Held<IDirectSoundCaptureBuffer> capture;
  EXPECT_EQ(capture_->CreateCaptureBuffer(&withEffects, capture.out(), nullptr),
            DSERR_FXUNAVAILABLE);
  EXPECT_EQ(capture.get(), nullptr);
}

// Every format a header may announce within the limits, each buffer exactly
// as large as asked, even when the size is not a whole number of frames.
TEST_F(BufferFormat, MakesExactlyTheRequestedRing) {
  const struct {
    WAVEFORMATEX format;
    DWORD bytes;
  } accepted[] = {
      {PcmFormat(1, 100, 8), 25},       {PcmFormat(2, 22050, 16), 22050},
      {PcmFormat(2, 44100, 24), 66150}, {PcmFormat(8, 384000, 32), 3072000},
      {PcmFormat(2, 44100, 16), 44096}, {PcmFormat(6, 48000, 16), 144000},
  };
  for (const auto& entry : accepted) {
    WAVEFORMATEX format = entry.format;
    DSBUFFERDESC description = twtest::PlaybackDescription(&format, entry.bytes);
    Held<IDirectSoundBuffer> buffer;
    ASSERT_EQ(playback_->CreateSoundBuffer(&description, buffer.out(), nullptr), DS_OK)
        << entry.bytes;
    DSBCAPS caps{};
    caps.dwSize = sizeof caps;
    ASSERT_EQ(buffer->GetCaps(&caps), DS_OK);
    EXPECT_EQ(caps.dwBufferBytes, entry.bytes);
    WAVEFORMATEX granted{};
    ASSERT_EQ(buffer->GetFormat(&granted, sizeof granted, nullptr), DS_OK);
    EXPECT_EQ(std::memcmp(&granted, &format, sizeof granted), 0);
    DWORD status = 1;
    EXPECT_EQ(buffer->GetStatus(&status), DS_OK);
    EXPECT_EQ(status, 0u) << "a new buffer is stopped";
  }
}

}  // namespace
