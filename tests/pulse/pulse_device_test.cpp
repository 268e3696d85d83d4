// The sound server backend against a private server: its devices, its
// sine source, a null sink heard on its monitor, and a server that dies.
#include <gtest/gtest.h>

#include <dsound.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <thread>

#include "platform/dsound/pulse/pulse_connection.h"
#include "tests/support/cd_format.h"
#include "tests/support/pulse_environment.h"
#include "tests/support/signal_analysis.h"
#include "tests/support/sound_helpers.h"

namespace {

using twtest::Held;
using twtest::PcmFormat;

const auto* const registered = ::testing::AddGlobalTestEnvironment(new twtest::PulseEnvironment);

const WAVEFORMATEX kCd = twtest::CdFormat();

std::vector<std::string> Descriptions(bool capture) {
  std::vector<std::string> names;
  for (const auto& device : twtest::ListSoundDevices(capture)) {
    names.push_back(device.description);
  }
  return names;
}

// The server picks its default source: a real source before any monitor.
TEST(PulseDevices, ListsSinksAndSourcesWithMonitorsBetweenDefaultAndBuiltIn) {
  TW_REQUIRE_PULSE();
  EXPECT_EQ(Descriptions(false),
            (std::vector<std::string>{"Default: Speakers", "Speakers", "Mic", "Silent output"}));
  EXPECT_EQ(Descriptions(true),
            (std::vector<std::string>{"Default: Sine source at 1000 Hz", "Monitor of Speakers",
                                      "Monitor of Mic", "Sine source at 1000 Hz", "Test tone"}));
  const auto first = twtest::ListSoundDevices(true);
  const auto again = twtest::ListSoundDevices(true);
  for (size_t i = 1; i < first.size(); ++i) {
    EXPECT_TRUE(IsEqualGUID(*first[i].guid, *again[i].guid)) << first[i].description;
  }
  EXPECT_EQ(first[1].module, "Speakers.monitor");
}

// Records from one of the server's sources.
class ServerCapture : public ::testing::Test {
 protected:
  void Open(const std::string& description, DWORD ringBytes = 44096) {
    const auto guid = twtest::SoundDeviceNamed(true, description);
    ASSERT_TRUE(guid.has_value()) << description;
    ASSERT_EQ(DirectSoundCaptureCreate(&*guid, device_.out(), nullptr), DS_OK);
    WAVEFORMATEX format = kCd;
    DSCBUFFERDESC description28 = twtest::CaptureDescription(&format, ringBytes);
    ASSERT_EQ(device_->CreateCaptureBuffer(&description28, buffer_.out(), nullptr), DS_OK);
    ASSERT_EQ(buffer_->Start(DSCBSTART_LOOPING), DS_OK);
  }
  // RMS of the left channel over the last 0.2 s of a 0.4 s recording.
  double Level() {
    const auto recorded = twtest::Record(buffer_.get(), 70560, 5000);
    const auto samples = twtest::ChannelSamples(recorded, kCd, 0);
    return twtest::Rms(std::vector<double>(samples.begin() + samples.size() / 2, samples.end()));
  }

  Held<IDirectSoundCapture> device_;
  Held<IDirectSoundCaptureBuffer> buffer_;
};

TEST_F(ServerCapture, SineSourceArrivesAsItsTone) {
  TW_REQUIRE_PULSE();
  // The server's sine source delivers its sound in bursts of up to 2 s: a
  // 4-second ring holds a burst whole.
  Open("Sine source at 1000 Hz", 705600);
  const auto recorded = twtest::Record(buffer_.get(), 44100, 5000);
  ASSERT_EQ(recorded.size(), 44100u);
  const auto samples = twtest::ChannelSamples(recorded, kCd, 1);
  EXPECT_NEAR(twtest::FrequencyHz(samples, 44100), twtest::kSineSourceHz,
              twtest::kSineSourceHz / 100.0);
}

// The largest step between neighbouring samples, in units of the largest
// step a clean sine of this amplitude and frequency can make.
double LargestStepOfSine(const std::vector<double>& samples, double hz, double rate) {
  double amplitude = 0;
  double step = 0;
  for (size_t i = 0; i < samples.size(); ++i) {
    amplitude = std::max(amplitude, std::fabs(samples[i]));
    if (i > 0) {
      step = std::max(step, std::fabs(samples[i] - samples[i - 1]));
    }
  }
  return step / (amplitude * 2 * std::sin(M_PI * hz / rate));
}

// The sine source hands over up to 2 s at once, eight times the Client's
// quarter-second ring; the capture cursor still moves at the device's pace,
// so a reader in 5 ms steps gets every byte, in order.
TEST_F(ServerCapture, BurstsReachAQuarterSecondRingWhole) {
  TW_REQUIRE_PULSE();
  Open("Sine source at 1000 Hz", 44096);
  const size_t threeSeconds = 3 * 176400;
  const auto recorded = twtest::Record(buffer_.get(), threeSeconds, 8000);
  ASSERT_EQ(recorded.size(), threeSeconds) << "sound lost: the ring was lapped";
  const auto samples = twtest::ChannelSamples(recorded, kCd, 0);
  EXPECT_LT(LargestStepOfSine(samples, twtest::kSineSourceHz, 44100), 1.05);
}

// 440 Hz fits the quarter-second ring exactly (110 cycles), so the looping
// ring plays a steady tone without being fed.
TEST_F(ServerCapture, NullSinkPlaysIntoItsMonitorAtTheBuffersVolume) {
  TW_REQUIRE_PULSE();
  const auto speakers = twtest::SoundDeviceNamed(false, "Speakers");
  Held<IDirectSound> device;
  ASSERT_EQ(DirectSoundCreate(&*speakers, device.out(), nullptr), DS_OK);
  WAVEFORMATEX format = kCd;
  DSBUFFERDESC description = twtest::PlaybackDescription(&format, 44100);
  Held<IDirectSoundBuffer> playback;
  ASSERT_EQ(device->CreateSoundBuffer(&description, playback.out(), nullptr), DS_OK);
  ASSERT_EQ(twtest::FillRing(playback.get(), twtest::SineBytes(kCd, 440, 0.5, 11025)), DS_OK);
  ASSERT_EQ(playback->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  Open("Monitor of Speakers");

  const auto recorded = twtest::Record(buffer_.get(), 88200, 5000);
  const auto samples = twtest::ChannelSamples(recorded, kCd, 0);
  EXPECT_NEAR(twtest::FrequencyHz({samples.begin() + 11025, samples.end()}, 44100), 440, 4.4);
  const double full = Level();
  EXPECT_NEAR(full, 0.5 / std::sqrt(2.0), 0.02);
  ASSERT_EQ(playback->SetVolume(-2000), DS_OK);
  const double tenth = Level();
  EXPECT_NEAR(20 * std::log10(tenth / full), -20, 0.5);
}

// The longest queue and fragment the environment allows (2 s) against the
// smallest rings: a quarter second of 100 Hz mono 8-bit (25 bytes, the
// smallest a peer's header can ask for) and a 4-byte capture ring. No request
// reads or writes outside a ring (which ASan builds check), and both cursors
// keep the device's pace.
class LongQueues : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("TONEWIRE_PLAYBACK_QUEUE_MS", "2000", 1);
    ::setenv("TONEWIRE_CAPTURE_FRAGMENT_MS", "2000", 1);
  }
  void TearDown() override {
    ::unsetenv("TONEWIRE_PLAYBACK_QUEUE_MS");
    ::unsetenv("TONEWIRE_CAPTURE_FRAGMENT_MS");
  }
  // Bytes a running buffer's cursor moves in `seconds`, counted across wraps.
  template <typename Buffer>
  static double CursorBytesIn(Buffer* buffer, DWORD ringBytes, double seconds) {
    DWORD last = 0;
    buffer->GetCurrentPosition(&last, nullptr);
    double moved = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      DWORD now = 0;
      buffer->GetCurrentPosition(&now, nullptr);
      moved += (now + ringBytes - last) % ringBytes;
      last = now;
    }
    return moved;
  }
};

TEST_F(LongQueues, TheSmallestPlaybackRingPlaysOnAtTheDevicesPace) {
  TW_REQUIRE_PULSE();
  const auto speakers = twtest::SoundDeviceNamed(false, "Speakers");
  Held<IDirectSound> device;
  ASSERT_EQ(DirectSoundCreate(&*speakers, device.out(), nullptr), DS_OK);
  for (const WAVEFORMATEX format : {PcmFormat(1, 100, 8), kCd}) {
    SCOPED_TRACE(format.nSamplesPerSec);
    WAVEFORMATEX asked = format;
    const DWORD ringBytes = format.nAvgBytesPerSec / 4;
    DSBUFFERDESC description = twtest::PlaybackDescription(&asked, ringBytes);
    Held<IDirectSoundBuffer> playback;
    ASSERT_EQ(device->CreateSoundBuffer(&description, playback.out(), nullptr), DS_OK);
    ASSERT_EQ(twtest::FillRing(playback.get(),
                               twtest::SineBytes(format, 10, 0.5, ringBytes / format.nBlockAlign)),
              DS_OK);
    ASSERT_EQ(playback->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    // A null sink may sleep up to 2 s before it takes a new stream's sound.
    const double moved = CursorBytesIn(playback.get(), ringBytes, 4.0);
    std::printf("[ measured ] %lu Hz: %.2f s played in 4 s\n",
                static_cast<unsigned long>(format.nSamplesPerSec), moved / format.nAvgBytesPerSec);
    EXPECT_GT(moved, 1.0 * format.nAvgBytesPerSec);
    EXPECT_LT(moved, 6.0 * format.nAvgBytesPerSec);
  }
}

// A 25-byte ring keeps the device's pace; a ring of one CD frame holds the
// source's latest sample, whatever the server hands over at once.
TEST_F(LongQueues, TinyCaptureRingsTakeTheSourcesBurstsAtTheDevicesPace) {
  TW_REQUIRE_PULSE();
  const auto sine = twtest::SoundDeviceNamed(true, "Sine source at 1000 Hz");
  ASSERT_TRUE(sine.has_value());
  Held<IDirectSoundCapture> device;
  ASSERT_EQ(DirectSoundCaptureCreate(&*sine, device.out(), nullptr), DS_OK);
  WAVEFORMATEX slowest = PcmFormat(1, 100, 8);
  DSCBUFFERDESC description = twtest::CaptureDescription(&slowest, 25);
  Held<IDirectSoundCaptureBuffer> slow;
  ASSERT_EQ(device->CreateCaptureBuffer(&description, slow.out(), nullptr), DS_OK);
  WAVEFORMATEX cd = kCd;
  description = twtest::CaptureDescription(&cd, 4);
  Held<IDirectSoundCaptureBuffer> oneFrame;
  ASSERT_EQ(device->CreateCaptureBuffer(&description, oneFrame.out(), nullptr), DS_OK);
  ASSERT_EQ(slow->Start(DSCBSTART_LOOPING), DS_OK);
  ASSERT_EQ(oneFrame->Start(DSCBSTART_LOOPING), DS_OK);

  const double moved = CursorBytesIn(slow.get(), 25, 4.0);
  std::printf("[ measured ] 100 Hz: %.2f s captured in 4 s\n", moved / 100);
  EXPECT_GT(moved, 100.0);
  EXPECT_LT(moved, 600.0);
  // A sine sample may be zero now and then, never ten times in a row.
  int heard = 0;
  for (int look = 0; look < 10; ++look) {
    LPVOID region = nullptr;
    DWORD bytes = 0;
    ASSERT_EQ(oneFrame->Lock(0, 4, &region, &bytes, nullptr, nullptr, 0), DS_OK);
    ASSERT_EQ(bytes, 4u);
    std::int16_t left = 0;
    std::memcpy(&left, region, sizeof left);
    oneFrame->Unlock(region, bytes, nullptr, 0);
    heard += left != 0 ? 1 : 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
  }
  EXPECT_GT(heard, 0) << "no sound reached the one-frame ring";
}

class PulseLoss : public ::testing::Test {
 protected:
  void OpenSpeakers(DWORD ringBytes = 44100) {
    const auto speakers = twtest::SoundDeviceNamed(false, "Speakers");
    ASSERT_EQ(DirectSoundCreate(&*speakers, device_.out(), nullptr), DS_OK);
    WAVEFORMATEX format = kCd;
    DSBUFFERDESC description = twtest::PlaybackDescription(&format, ringBytes);
    ASSERT_EQ(device_->CreateSoundBuffer(&description, buffer_.out(), nullptr), DS_OK);
  }
  // A capture buffer with a 4 s ring on the monitor of "Speakers".
  void OpenMonitor(Held<IDirectSoundCaptureBuffer>& buffer) {
    const auto monitor = twtest::SoundDeviceNamed(true, "Monitor of Speakers");
    ASSERT_EQ(DirectSoundCaptureCreate(&*monitor, capture_.out(), nullptr), DS_OK);
    WAVEFORMATEX format = kCd;
    DSCBUFFERDESC description = twtest::CaptureDescription(&format, 705600);
    ASSERT_EQ(capture_->CreateCaptureBuffer(&description, buffer.out(), nullptr), DS_OK);
    ASSERT_EQ(buffer->Start(DSCBSTART_LOOPING), DS_OK);
  }
  // Seconds from now until the capture buffer records a sample above
  // silence, or -1 when none comes within `seconds`.
  static double ToneStart(IDirectSoundCaptureBuffer* buffer, double seconds) {
    const auto from = std::chrono::steady_clock::now();
    const auto elapsed = [from] {
      return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
    };
    while (elapsed() < seconds) {
      const auto recorded = twtest::Record(buffer, 1764, 1000);  // 10 ms
      for (const double sample : twtest::ChannelSamples(recorded, kCd, 0)) {
        if (std::fabs(sample) > 0.01) {
          return elapsed();
        }
      }
    }
    return -1;
  }
  HRESULT LockFourBytes() {
    LPVOID region = nullptr;
    DWORD bytes = 0;
    const HRESULT result = buffer_->Lock(0, 4, &region, &bytes, nullptr, nullptr, 0);
    if (result == DS_OK) {
      buffer_->Unlock(region, bytes, nullptr, 0);
    }
    return result;
  }
  void RestartServer() {
    std::string reason;
    ASSERT_TRUE(twtest::PulseEnvironment::daemon()->Start(&reason)) << reason;
  }
  // An idle null sink sleeps in blocks of up to 2 s before it serves a new
  // stream; a hardware device starts at once.
  bool PlayCursorMoves() {
    DWORD first = 0;
    buffer_->GetCurrentPosition(&first, nullptr);
    for (int i = 0; i < 500; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      DWORD play = 0;
      DWORD write = 0;
      buffer_->GetCurrentPosition(&play, &write);
      if (play != first) {
        return play != write;
      }
    }
    return false;
  }

  Held<IDirectSound> device_;
  Held<IDirectSoundBuffer> buffer_;
  Held<IDirectSoundCapture> capture_;
};

// Bytes the play cursor has moved since `from`, in a ring too large to wrap
// in the test.
DWORD MovedSince(IDirectSoundBuffer* buffer, DWORD from) {
  DWORD play = 0;
  buffer->GetCurrentPosition(&play, nullptr);
  return play - from;
}

// A stall of the process's sound thread (here: the connection held for a
// second, as a busy machine might) starves the server's queue. The play
// cursor keeps the device's pace through it, so what was late is skipped
// and the delay does not grow by the length of the stall.
TEST_F(PulseLoss, PlayCursorKeepsTheDevicesPaceThroughAnUnderrun) {
  TW_REQUIRE_PULSE();
  const auto speakers = twtest::SoundDeviceNamed(false, "Speakers");
  ASSERT_EQ(DirectSoundCreate(&*speakers, device_.out(), nullptr), DS_OK);
  WAVEFORMATEX format = kCd;
  DSBUFFERDESC description = twtest::PlaybackDescription(&format, 10 * 176400);
  ASSERT_EQ(device_->CreateSoundBuffer(&description, buffer_.out(), nullptr), DS_OK);
  ASSERT_EQ(buffer_->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  ASSERT_TRUE(PlayCursorMoves());
  DWORD start = 0;
  buffer_->GetCurrentPosition(&start, nullptr);
  const auto from = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  {
    const twplat::sound::PulseSession stall;
    std::this_thread::sleep_for(std::chrono::seconds(1));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
  const double played = MovedSince(buffer_.get(), start) / 176400.0;
  std::printf("[ measured ] %.3f s played in %.3f s with a 1 s stall\n", played, seconds);
  // Without the device's pace the cursor would be a whole second behind.
  EXPECT_NEAR(played, seconds, 0.3);
}

// A server that dies and comes back on the same socket, under a playback
// buffer and a capture buffer that records the sink's monitor: neither buffer
// sees the outage. Their cursors keep the device's pace with silence, Lock
// goes on working, and within 2 s of the server's return the looping tone is
// recorded again, through streams neither buffer asked for. Both streams
// are back within 0.3 s here; a freshly started null sink, though, sleeps
// through its first 2 s block before it mixes a new stream (a sound card
// starts at once), so the tone may take up to 2 s more.
TEST_F(PulseLoss, BuffersCarrySoundAgainSoonAfterTheServerRestarts) {
  TW_REQUIRE_PULSE();
  OpenSpeakers(10 * 176400);  // no wrap in the test
  ASSERT_EQ(twtest::FillRing(buffer_.get(), twtest::SineBytes(kCd, 440, 0.5, 441000)), DS_OK);
  ASSERT_EQ(buffer_->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  Held<IDirectSoundCaptureBuffer> capture;
  OpenMonitor(capture);
  ASSERT_GT(ToneStart(capture.get(), 3.0), -1.0) << "no tone before the outage";

  twtest::PulseEnvironment::daemon()->Kill();
  DWORD start = 0;
  buffer_->GetCurrentPosition(&start, nullptr);
  const auto from = std::chrono::steady_clock::now();
  const auto outage = twtest::Record(capture.get(), 176400, 5000);
  EXPECT_EQ(outage.size(), 176400u) << "the capture cursor stood still";
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
  const double played = MovedSince(buffer_.get(), start) / 176400.0;
  EXPECT_NEAR(played, seconds, 0.3) << "the play cursor left the device's pace";
  EXPECT_EQ(LockFourBytes(), DS_OK);
  DWORD status = 0;
  ASSERT_EQ(buffer_->GetStatus(&status), DS_OK);
  EXPECT_EQ(status, DSBSTATUS_PLAYING | DSBSTATUS_LOOPING);

  RestartServer();
  const double back = ToneStart(capture.get(), 5.0);
  std::printf("[ measured ] tone recorded again %.3f s after the server accepted connections\n",
              back);
  EXPECT_GE(back, 0.0);
  EXPECT_LE(back, 2.0 + 2.0);
}

// Play with the server gone (restarting, as far as the buffer can tell)
// plays silence at the device's pace, and the buffer's tone reaches the sink
// once the server is back, without a Restore.
TEST_F(PulseLoss, PlayWithoutAServerJoinsTheServerOnceItIsBack) {
  TW_REQUIRE_PULSE();
  OpenSpeakers(10 * 176400);
  ASSERT_EQ(twtest::FillRing(buffer_.get(), twtest::SineBytes(kCd, 440, 0.5, 441000)), DS_OK);
  twtest::PulseEnvironment::daemon()->Kill();
  EXPECT_EQ(buffer_->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  EXPECT_EQ(LockFourBytes(), DS_OK);
  EXPECT_TRUE(PlayCursorMoves());
  RestartServer();
  Held<IDirectSoundCaptureBuffer> capture;
  OpenMonitor(capture);
  EXPECT_GE(ToneStart(capture.get(), 5.0), 0.0);
}

}  // namespace
