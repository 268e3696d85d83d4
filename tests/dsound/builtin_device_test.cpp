// The device list and the built-in devices, with no sound server reachable.
#include <gtest/gtest.h>

#include <dsound.h>
#include <windows.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "tests/support/output_recorder.h"
#include "tests/support/signal_analysis.h"
#include "tests/support/sound_helpers.h"

namespace {

using twtest::Held;
using twtest::PcmFormat;

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

TEST(DeviceList, DefaultFirstThenTheBuiltInDeviceWithGuidsThatStay) {
  for (bool capture : {true, false}) {
    const auto first = twtest::ListSoundDevices(capture);
    ASSERT_EQ(first.size(), 2u);
    EXPECT_FALSE(first[0].guid.has_value());
    EXPECT_EQ(first[0].description, capture ? "Default: Test tone (no sound server)"
                                            : "Default: Silent output (no sound server)");
    ASSERT_TRUE(first[1].guid.has_value());
    EXPECT_EQ(first[1].description, capture ? "Test tone" : "Silent output");
    const auto again = twtest::ListSoundDevices(capture);
    EXPECT_TRUE(IsEqualGUID(*again[1].guid, *first[1].guid));
    for (const auto& device : first) {
      EXPECT_EQ(device.description.find("irtual"), std::string::npos);
    }
  }
  EXPECT_FALSE(IsEqualGUID(*twtest::ListSoundDevices(true)[1].guid,
                           *twtest::ListSoundDevices(false)[1].guid));
}

BOOL CALLBACK CountOnce(LPGUID, LPCSTR, LPCSTR, LPVOID calls) {
  ++*static_cast<int*>(calls);
  return FALSE;
}

TEST(DeviceList, CallbackAnsweringFalseEndsTheListing) {
  int calls = 0;
  EXPECT_EQ(DirectSoundEnumerateA(CountOnce, &calls), DS_OK);
  EXPECT_EQ(DirectSoundCaptureEnumerateA(CountOnce, &calls), DS_OK);
  EXPECT_EQ(calls, 2);
}

TEST(DeviceList, ForcedBuiltInBackendSaysSoInTheDefaultEntry) {
  ::setenv("TONEWIRE_AUDIO", "builtin", 1);
  const auto list = twtest::ListSoundDevices(true);
  ::unsetenv("TONEWIRE_AUDIO");
  EXPECT_EQ(list[0].description, "Default: Test tone (built-in devices only)");
}

TEST(DeviceCreate, OpensListedAndDefaultDevicesAndRefusesOthers) {
  Held<IDirectSound> device;
  const GUID unknown = {0x12345678, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};
  EXPECT_EQ(DirectSoundCreate(&unknown, device.out(), nullptr), DSERR_NODRIVER);
  EXPECT_EQ(device.get(), nullptr);
  const GUID tone = *twtest::SoundDeviceNamed(true, "Test tone");
  EXPECT_EQ(DirectSoundCreate(&tone, device.out(), nullptr), DSERR_NODRIVER)
      << "a capture device is no playback device";
  const GUID silent = *twtest::SoundDeviceNamed(false, "Silent output");
  ASSERT_EQ(DirectSoundCreate(&silent, device.out(), nullptr), DS_OK);
  EXPECT_EQ(device->SetCooperativeLevel(nullptr, DSSCL_EXCLUSIVE), DS_OK);
  EXPECT_EQ(device->SetCooperativeLevel(reinterpret_cast<HWND>(0x10010), DSSCL_NORMAL), DS_OK);
  EXPECT_EQ(device->SetCooperativeLevel(nullptr, 5), DSERR_INVALIDPARAM);
  Held<IDirectSoundCapture> capture;
  EXPECT_EQ(DirectSoundCaptureCreate(nullptr, capture.out(), nullptr), DS_OK);
}

// A sound server that is installed but not running: its socket's folder is
// there (as a socket unit or an earlier server leaves it), the socket is not.
// The default device stays the server's, not a built-in one: it opens, and a
// playback or capture buffer on it keeps the device's pace with silence until
// the server comes.
TEST(DeviceList, AnInstalledServerThatIsNotRunningKeepsTheDefaultDevice) {
  const std::string unreachable = std::getenv("PULSE_SERVER");
  char folder[] = "/tmp/tonewire-away-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  ::setenv("PULSE_SERVER", (std::string("unix:") + folder + "/native").c_str(), 1);
  const auto playback = twtest::ListSoundDevices(false);
  ASSERT_EQ(playback.size(), 2u);
  EXPECT_EQ(playback[0].description, "Default device (sound server not running)");
  EXPECT_EQ(playback[1].description, "Silent output");

  Held<IDirectSound> device;
  ASSERT_EQ(DirectSoundCreate(nullptr, device.out(), nullptr), DS_OK);
  WAVEFORMATEX format = PcmFormat(2, 44100, 16);
  DSBUFFERDESC description = twtest::PlaybackDescription(&format, 44100);
  Held<IDirectSoundBuffer> buffer;
  ASSERT_EQ(device->CreateSoundBuffer(&description, buffer.out(), nullptr), DS_OK);
  ASSERT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  Held<IDirectSoundCapture> capture;
  ASSERT_EQ(DirectSoundCaptureCreate(nullptr, capture.out(), nullptr), DS_OK);
  DSCBUFFERDESC captureDescription = twtest::CaptureDescription(&format, 44100);
  Held<IDirectSoundCaptureBuffer> captureBuffer;
  ASSERT_EQ(capture->CreateCaptureBuffer(&captureDescription, captureBuffer.out(), nullptr), DS_OK);
  ASSERT_EQ(captureBuffer->Start(DSCBSTART_LOOPING), DS_OK);
  DWORD played = 0;
  DWORD captured = 0;
  buffer->GetCurrentPosition(&played, nullptr);
  captureBuffer->GetCurrentPosition(&captured, nullptr);
  SleepMs(100);
  DWORD playedLater = 0;
  DWORD capturedLater = 0;
  buffer->GetCurrentPosition(&playedLater, nullptr);
  captureBuffer->GetCurrentPosition(&capturedLater, nullptr);
  EXPECT_NE(playedLater, played) << "the play cursor stood still";
  EXPECT_NE(capturedLater, captured) << "the capture cursor stood still";
  const auto recorded = twtest::Record(captureBuffer.get(), 4410, 2000);
  EXPECT_EQ(std::count(recorded.begin(), recorded.end(), 0), 4410) << "not silence";

  ::setenv("PULSE_SERVER", unreachable.c_str(), 1);
  buffer.reset();
  captureBuffer.reset();
  rmdir(folder);
}

// A capture buffer on the default device (the test tone here).
class ToneCapture : public ::testing::Test {
 protected:
  void Open(WAVEFORMATEX format, DWORD bytes) {
    format_ = format;
    ASSERT_EQ(DirectSoundCaptureCreate(nullptr, device_.out(), nullptr), DS_OK);
    DSCBUFFERDESC description = twtest::CaptureDescription(&format_, bytes);
    ASSERT_EQ(device_->CreateCaptureBuffer(&description, buffer_.out(), nullptr), DS_OK);
  }

  WAVEFORMATEX format_{};
  Held<IDirectSoundCapture> device_;
  Held<IDirectSoundCaptureBuffer> buffer_;
};

TEST_F(ToneCapture, Is440HzAtMinus12DbfsOnEveryChannelInEverySampleSize) {
  for (WORD bits : {8, 16, 24, 32}) {
    Open(PcmFormat(2, 44100, bits), 44100 * 2 * bits / 8 / 2);
    ASSERT_EQ(buffer_->Start(DSCBSTART_LOOPING), DS_OK);
    const auto recorded = twtest::Record(buffer_.get(), format_.nAvgBytesPerSec / 4, 5000);
    ASSERT_EQ(recorded.size(), format_.nAvgBytesPerSec / 4u) << bits;
    for (int channel : {0, 1}) {
      const auto samples = twtest::ChannelSamples(recorded, format_, channel);
      EXPECT_NEAR(twtest::FrequencyHz(samples, 44100), 440, 4.4) << bits;
      EXPECT_NEAR(twtest::PeakDbfs(samples), -12, bits == 8 ? 0.3 : 0.05) << bits;
    }
    buffer_.reset();
    device_.reset();
  }
}

// The capture position starts at 0, moves at about real-time pace while
// capturing, and stays where it is once stopped; both positions agree.
TEST_F(ToneCapture, PositionMovesOnlyWhileCapturing) {
  Open(PcmFormat(2, 44100, 16), 44096);
  DWORD capture = 1;
  DWORD read = 1;
  ASSERT_EQ(buffer_->GetCurrentPosition(&capture, &read), DS_OK);
  EXPECT_EQ(capture, 0u);
  EXPECT_EQ(read, 0u);
  ASSERT_EQ(buffer_->Start(DSCBSTART_LOOPING), DS_OK);
  DWORD status = 0;
  buffer_->GetStatus(&status);
  EXPECT_EQ(status, DWORD{DSCBSTATUS_CAPTURING | DSCBSTATUS_LOOPING});
  SleepMs(100);  // 17640 bytes of sound
  ASSERT_EQ(buffer_->GetCurrentPosition(&capture, &read), DS_OK);
  EXPECT_EQ(capture, read);
  EXPECT_GT(read, 0u);
  ASSERT_EQ(buffer_->Stop(), DS_OK);
  DWORD stopped = 0;
  buffer_->GetCurrentPosition(nullptr, &stopped);
  SleepMs(50);
  buffer_->GetCurrentPosition(nullptr, &read);
  EXPECT_EQ(read, stopped);
  EXPECT_EQ(read % 4, 0u) << "whole frames";
}

class SilentOutput : public ::testing::Test {
 protected:
  void Open(WAVEFORMATEX format, DWORD bytes, DWORD flags) {
    format_ = format;
    ASSERT_EQ(DirectSoundCreate(nullptr, device_.out(), nullptr), DS_OK);
    DSBUFFERDESC description = twtest::PlaybackDescription(&format_, bytes, flags);
    ASSERT_EQ(device_->CreateSoundBuffer(&description, buffer_.out(), nullptr), DS_OK);
  }
  void Open() {
    Open(PcmFormat(1, 8000, 16), 4000,
         DSBCAPS_CTRLVOLUME | DSBCAPS_CTRLPOSITIONNOTIFY | DSBCAPS_GETCURRENTPOSITION2);
  }

  WAVEFORMATEX format_{};
  Held<IDirectSound> device_;
  Held<IDirectSoundBuffer> buffer_;
};

// The ring's bytes leave in order from offset 0, across the end and round
// again, scaled by the volume: a ramp of distinct samples shows both.
TEST_F(SilentOutput, PlaysTheRingInOrderAfterTheVolume) {
  Open();
  std::vector<BYTE> ramp;
  for (int i = 0; i < 2000; ++i) {
    const auto sample = static_cast<std::int16_t>((i - 1000) * 30);
    ramp.push_back(static_cast<BYTE>(sample));
    ramp.push_back(static_cast<BYTE>(sample >> 8));
  }
  ASSERT_EQ(twtest::FillRing(buffer_.get(), ramp), DS_OK);
  ASSERT_EQ(buffer_->SetVolume(-2000), DS_OK);
  twtest::OutputRecorder recorder;
  ASSERT_EQ(buffer_->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  const auto played = recorder.WaitFor(6000);
  buffer_->Stop();
  ASSERT_GE(played.size(), 6000u);
  const auto heard = twtest::ChannelSamples(played, format_, 0);
  const auto meant = twtest::ChannelSamples(ramp, format_, 0);
  for (size_t i = 0; i < 3000; ++i) {
    ASSERT_NEAR(heard[i], meant[i % 2000] / 10, 1.0 / 32768) << i;
  }
}

// Cursors: equal while stopped, one frame apart while playing, back to
// equal where playback stopped, and Play goes on from there.
TEST_F(SilentOutput, CursorsAreEqualOnlyWhileStopped) {
  Open();
  DWORD play = 1;
  DWORD write = 2;
  ASSERT_EQ(buffer_->GetCurrentPosition(&play, &write), DS_OK);
  EXPECT_EQ(play, 0u);
  EXPECT_EQ(write, 0u);
  ASSERT_EQ(buffer_->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  for (int i = 0; i < 20; ++i) {
    ASSERT_EQ(buffer_->GetCurrentPosition(&play, &write), DS_OK);
    EXPECT_EQ(write, (play + 2) % 4000);
    SleepMs(7);
  }
  ASSERT_EQ(buffer_->Stop(), DS_OK);
  ASSERT_EQ(buffer_->GetCurrentPosition(&play, &write), DS_OK);
  EXPECT_EQ(play, write);
  const DWORD stoppedAt = play;
  SleepMs(30);
  buffer_->GetCurrentPosition(&play, nullptr);
  EXPECT_EQ(play, stoppedAt);
  ASSERT_EQ(buffer_->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  SleepMs(30);
  buffer_->GetCurrentPosition(&play, nullptr);
  EXPECT_NE(play, stoppedAt);
}

// Played at about real time: a second of sound takes neither a tenth of a
// second nor ten seconds.
TEST_F(SilentOutput, KeepsRealTimePaceAndSignalsEveryPosition) {
  Open();
  HANDLE events[2] = {CreateEventA(nullptr, FALSE, FALSE, nullptr),
                      CreateEventA(nullptr, FALSE, FALSE, nullptr)};
  const DSBPOSITIONNOTIFY positions[2] = {{1000, events[0]}, {3000, events[1]}};
  void* object = nullptr;
  ASSERT_EQ(buffer_->QueryInterface(IID_IDirectSoundNotify, &object), DS_OK);
  auto* notify = static_cast<IDirectSoundNotify*>(object);
  ASSERT_EQ(notify->SetNotificationPositions(2, positions), DS_OK);
  twtest::OutputRecorder recorder;
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(buffer_->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  EXPECT_EQ(notify->SetNotificationPositions(0, nullptr), DSERR_INVALIDCALL);
  int signals[2] = {0, 0};
  while (recorder.WaitFor(0).size() < 16000 &&
         std::chrono::steady_clock::now() - start < std::chrono::seconds(10)) {
    for (int i = 0; i < 2; ++i) {
      signals[i] += WaitForSingleObject(events[i], 0) == WAIT_OBJECT_0 ? 1 : 0;
    }
    SleepMs(2);
  }
  const auto elapsed = std::chrono::steady_clock::now() - start;
  buffer_->Stop();
  EXPECT_GT(elapsed, std::chrono::milliseconds(100));
  EXPECT_LT(elapsed, std::chrono::seconds(10));
  EXPECT_GE(signals[0], 3) << "four laps of the ring pass each position four times";
  EXPECT_GE(signals[1], 3);
  notify->Release();
  CloseHandle(events[0]);
  CloseHandle(events[1]);
}

TEST_F(SilentOutput, VolumeNeedsItsControlAndStaysInRange) {
  Open();
  EXPECT_EQ(buffer_->SetVolume(-10001), DSERR_INVALIDPARAM);
  EXPECT_EQ(buffer_->SetVolume(1), DSERR_INVALIDPARAM);
  LONG volume = 1;
  ASSERT_EQ(buffer_->GetVolume(&volume), DS_OK);
  EXPECT_EQ(volume, 0) << "a new buffer is at full volume";
  buffer_.reset();
  Open(PcmFormat(1, 8000, 16), 4000, DSBCAPS_GETCURRENTPOSITION2);
  EXPECT_EQ(buffer_->SetVolume(-100), DSERR_CONTROLUNAVAIL);
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(buffer_->QueryInterface(IID_IDirectSoundNotify, &object), E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(buffer_->Play(0, 0, 0), DSERR_UNSUPPORTED) << "only looping play";
}

// The notification interface counts as a reference to its buffer: the
// buffer lives until both are released, whichever goes first.
TEST_F(SilentOutput, NotifyInterfaceKeepsItsBufferAlive) {
  Open();
  void* object = nullptr;
  ASSERT_EQ(buffer_->QueryInterface(IID_IDirectSoundNotify, &object), DS_OK);
  auto* notify = static_cast<IDirectSoundNotify*>(object);
  ASSERT_EQ(buffer_->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  buffer_.reset();
  SleepMs(20);  // still playing, still alive
  EXPECT_EQ(notify->SetNotificationPositions(0, nullptr), DSERR_INVALIDCALL);
  EXPECT_EQ(notify->Release(), 0u);
}

}  // namespace
