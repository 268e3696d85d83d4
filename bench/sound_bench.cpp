// Device-side latency and CPU cost of the sound engine, per backend.
//
//   capture latency   sound due at the device -> readable in the ring
//   playback latency  written at the write cursor -> heard (built-in: handed
//                     to the output tap; server: what the server reports for
//                     the stream, queued in the server plus the sink's own)
//   round trip        (server) written at the write cursor -> readable in a
//                     capture ring on the null sink's monitor; the server's
//                     capture latency is the round trip less its playback
//                     latency, fragment batching included
//   CPU               this process's CPU time per second of sound, with one
//                     stream running
//
// Prints a table and asserts nothing. --short runs in a few seconds.
#include <dsound.h>
#include <windows.h>

#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bench/server_latency.h"
#include "platform/dsound/builtin/output_tap.h"
#include "tests/support/pulse_daemon.h"
#include "tests/support/signal_analysis.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Settings {
  int impulses = 20;
  double cpuSeconds = 3.0;
};

struct Figures {
  std::string backend;
  double captureLatencyMs = -1;
  double playbackLatencyMs = -1;
  double roundTripMs = -1;
  double serverCaptureMs = -1;
  double captureCpuMsPerS = -1;
  double playbackCpuMsPerS = -1;
};

constexpr WAVEFORMATEX kFormat = {WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
constexpr DWORD kCaptureRing = 44096;
constexpr DWORD kPlaybackRing = 44100;
constexpr std::int16_t kImpulseLevel = 20000;

double Ms(Clock::duration span) { return std::chrono::duration<double, std::milli>(span).count(); }

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

double ProcessCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return now.tv_sec + now.tv_nsec / 1e9;
}

// -1 where nothing was measured: printed as such.
double Median(std::vector<double> values) { return twtest::Median(std::move(values), -1); }

template <typename Interface>
struct Held {
  Interface* object = nullptr;
  ~Held() {
    if (object != nullptr) {
      object->Stop();
      object->Release();
    }
  }
};

struct Device {
  IDirectSound* playback = nullptr;
  IDirectSoundCapture* capture = nullptr;
  ~Device() {
    if (playback != nullptr) {
      playback->Release();
    }
    if (capture != nullptr) {
      capture->Release();
    }
  }
};

BOOL CALLBACK FindByDescription(LPGUID guid, LPCSTR description, LPCSTR, LPVOID context) {
  auto* wanted = static_cast<std::pair<std::string, GUID>*>(context);
  if (guid != nullptr && wanted->first == description) {
    wanted->second = *guid;
    wanted->first.clear();
    return FALSE;
  }
  return TRUE;
}

bool FindDevice(bool capture, const char* description, GUID* guid) {
  std::pair<std::string, GUID> wanted{description, GUID{}};
  if (capture) {
    DirectSoundCaptureEnumerateA(FindByDescription, &wanted);
  } else {
    DirectSoundEnumerateA(FindByDescription, &wanted);
  }
  *guid = wanted.second;
  return wanted.first.empty();
}

bool OpenCapture(const GUID& guid, Device& device, IDirectSoundCaptureBuffer** buffer) {
  WAVEFORMATEX format = kFormat;
  DSCBUFFERDESC description{sizeof(DSCBUFFERDESC), 0, kCaptureRing, 0, &format, 0, nullptr};
  return SUCCEEDED(DirectSoundCaptureCreate(&guid, &device.capture, nullptr)) &&
         SUCCEEDED(device.capture->CreateCaptureBuffer(&description, buffer, nullptr));
}

bool OpenPlayback(const GUID& guid, Device& device, IDirectSoundBuffer** buffer) {
  WAVEFORMATEX format = kFormat;
  DSBUFFERDESC description{sizeof(DSBUFFERDESC),
                           DSBCAPS_CTRLVOLUME | DSBCAPS_GETCURRENTPOSITION2,
                           kPlaybackRing,
                           0,
                           &format,
                           GUID{}};
  return SUCCEEDED(DirectSoundCreate(&guid, &device.playback, nullptr)) &&
         SUCCEEDED(device.playback->CreateSoundBuffer(&description, buffer, nullptr));
}

// Writes frames of one value at the write cursor; returns where.
DWORD WriteAtWriteCursor(IDirectSoundBuffer* buffer, std::int16_t value, DWORD frames) {
  DWORD play = 0;
  DWORD write = 0;
  buffer->GetCurrentPosition(&play, &write);
  LPVOID region1 = nullptr;
  LPVOID region2 = nullptr;
  DWORD bytes1 = 0;
  DWORD bytes2 = 0;
  if (FAILED(buffer->Lock(write, frames * 4, &region1, &bytes1, &region2, &bytes2, 0))) {
    return write;
  }
  for (LPVOID region : {region1, region2}) {
    const DWORD bytes = region == region1 ? bytes1 : bytes2;
    auto* samples = static_cast<std::int16_t*>(region);
    for (DWORD i = 0; region != nullptr && i < bytes / 2; ++i) {
      samples[i] = value;
    }
  }
  buffer->Unlock(region1, bytes1, region2, bytes2);
  return write;
}

void ClearRing(IDirectSoundBuffer* buffer) {
  LPVOID region = nullptr;
  DWORD bytes = 0;
  if (SUCCEEDED(buffer->Lock(0, 0, &region, &bytes, nullptr, nullptr, DSBLOCK_ENTIREBUFFER))) {
    std::memset(region, 0, bytes);
    buffer->Unlock(region, bytes, nullptr, 0);
  }
}

// Capture: the newest readable frame k was due at start + k / rate; the
// time it is seen readable, less that, is the capture latency.
double CaptureLatencyMs(IDirectSoundCaptureBuffer* buffer, Clock::time_point start, int ms) {
  std::vector<double> lags;
  DWORD last = 0;
  std::uint64_t total = 0;
  const auto end = Clock::now() + std::chrono::milliseconds(ms);
  while (Clock::now() < end) {
    DWORD read = 0;
    buffer->GetCurrentPosition(nullptr, &read);
    const auto now = Clock::now();
    if (read != last) {
      total += (read + kCaptureRing - last) % kCaptureRing;
      last = read;
      const double dueMs = (total / 4) * 1000.0 / kFormat.nSamplesPerSec;
      lags.push_back(Ms(now - start) - dueMs);
    }
    std::this_thread::sleep_for(std::chrono::microseconds(500));
  }
  return Median(lags);
}

double CpuMsPerSecond(double seconds) {
  const double cpuBefore = ProcessCpuSeconds();
  const auto wallBefore = Clock::now();
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  const double wall = std::chrono::duration<double>(Clock::now() - wallBefore).count();
  return (ProcessCpuSeconds() - cpuBefore) * 1000.0 / wall;
}

// Notes when the built-in output first plays a loud sample.
class ImpulseTap : public twplat::BuiltinOutputTap {
 public:
  void Played(const BYTE* bytes, DWORD count, const WAVEFORMATEX&) override {
    const auto* samples = reinterpret_cast<const std::int16_t*>(bytes);
    for (DWORD i = 0; i < count / 2; ++i) {
      if (samples[i] > kImpulseLevel / 2 && !heard_.load()) {
        heardAt_ = Clock::now();
        heard_.store(true);
      }
    }
  }
  void Arm() { heard_.store(false); }
  bool WaitHeard(Clock::time_point* when) {
    for (int i = 0; i < 2000 && !heard_.load(); ++i) {
      std::this_thread::sleep_for(std::chrono::microseconds(250));
    }
    *when = heardAt_;
    return heard_.load();
  }

 private:
  std::atomic<bool> heard_{false};
  Clock::time_point heardAt_;
};

Figures MeasureBuiltin(const Settings& settings) {
  Figures figures{"built-in"};
  GUID tone{};
  GUID silent{};
  if (!FindDevice(true, "Test tone", &tone) || !FindDevice(false, "Silent output", &silent)) {
    return figures;
  }
  {
    Device device;
    Held<IDirectSoundCaptureBuffer> capture;
    if (OpenCapture(tone, device, &capture.object)) {
      const auto start = Clock::now();
      capture.object->Start(DSCBSTART_LOOPING);
      figures.captureLatencyMs = CaptureLatencyMs(capture.object, start, 500);
      figures.captureCpuMsPerS = CpuMsPerSecond(settings.cpuSeconds);
    }
  }
  Device device;
  Held<IDirectSoundBuffer> playback;
  if (!OpenPlayback(silent, device, &playback.object)) {
    return figures;
  }
  ImpulseTap tap;
  twplat::SetBuiltinOutputTap(&tap);
  playback.object->Play(0, 0, DSBPLAY_LOOPING);
  std::vector<double> latencies;
  for (int i = 0; i < settings.impulses; ++i) {
    tap.Arm();
    const auto written = Clock::now();
    WriteAtWriteCursor(playback.object, kImpulseLevel, 44);
    Clock::time_point heard;
    if (tap.WaitHeard(&heard)) {
      latencies.push_back(Ms(heard - written));
    }
    ClearRing(playback.object);
    SleepMs(20);
  }
  figures.playbackLatencyMs = Median(latencies);
  twplat::SetBuiltinOutputTap(nullptr);
  figures.playbackCpuMsPerS = CpuMsPerSecond(settings.cpuSeconds);
  return figures;
}

// Waits until a loud sample appears in the capture ring after from.
bool WaitForImpulse(IDirectSoundCaptureBuffer* buffer, DWORD from, Clock::time_point* when) {
  const auto end = Clock::now() + std::chrono::seconds(3);
  DWORD checked = from;
  while (Clock::now() < end) {
    DWORD read = 0;
    buffer->GetCurrentPosition(nullptr, &read);
    const DWORD ready = (read + kCaptureRing - checked) % kCaptureRing;
    if (ready >= 2) {
      LPVOID region1 = nullptr;
      LPVOID region2 = nullptr;
      DWORD bytes1 = 0;
      DWORD bytes2 = 0;
      buffer->Lock(checked, ready - ready % 2, &region1, &bytes1, &region2, &bytes2, 0);
      bool found = false;
      for (LPVOID region : {region1, region2}) {
        const DWORD bytes = region == region1 ? bytes1 : bytes2;
        const auto* samples = static_cast<const std::int16_t*>(region);
        for (DWORD i = 0; region != nullptr && i < bytes / 2 && !found; ++i) {
          found = samples[i] > kImpulseLevel / 2;
        }
      }
      buffer->Unlock(region1, bytes1, region2, bytes2);
      checked = (checked + ready - ready % 2) % kCaptureRing;
      if (found) {
        *when = Clock::now();
        return true;
      }
    }
    std::this_thread::sleep_for(std::chrono::microseconds(250));
  }
  return false;
}

Figures MeasurePulse(const Settings& settings) {
  Figures figures{"sound server"};
  GUID speakers{};
  GUID monitor{};
  if (!FindDevice(false, "Speakers", &speakers) ||
      !FindDevice(true, "Monitor of Speakers", &monitor)) {
    return figures;
  }
  Device device;
  Held<IDirectSoundBuffer> playback;
  Held<IDirectSoundCaptureBuffer> capture;
  if (!OpenPlayback(speakers, device, &playback.object) ||
      !OpenCapture(monitor, device, &capture.object)) {
    return figures;
  }
  playback.object->Play(0, 0, DSBPLAY_LOOPING);
  capture.object->Start(DSCBSTART_LOOPING);
  // An idle null sink serves a new stream only after up to 2 s.
  Clock::time_point unused;
  WriteAtWriteCursor(playback.object, kImpulseLevel, 44);
  WaitForImpulse(capture.object, 0, &unused);
  ClearRing(playback.object);
  SleepMs(300);

  std::vector<double> roundTrips;
  std::vector<double> serverPlayback;
  std::vector<double> serverCapture;
  for (int i = 0; i < settings.impulses; ++i) {
    std::string reason;
    const ServerLatency server = AskServerLatency(&reason);
    if (server.known) {
      serverPlayback.push_back(server.playbackMs);
      serverCapture.push_back(server.captureMs);
    }
    DWORD from = 0;
    capture.object->GetCurrentPosition(nullptr, &from);
    const auto written = Clock::now();
    WriteAtWriteCursor(playback.object, kImpulseLevel, 44);
    Clock::time_point seen;
    if (WaitForImpulse(capture.object, from, &seen)) {
      roundTrips.push_back(Ms(seen - written));
    }
    ClearRing(playback.object);
    SleepMs(30);
  }
  figures.roundTripMs = Median(roundTrips);
  figures.playbackLatencyMs = Median(serverPlayback);
  figures.serverCaptureMs = Median(serverCapture);
  if (figures.roundTripMs >= 0 && figures.playbackLatencyMs >= 0) {
    figures.captureLatencyMs = figures.roundTripMs - figures.playbackLatencyMs;
  }
  playback.object->Stop();
  figures.captureCpuMsPerS = CpuMsPerSecond(settings.cpuSeconds);
  capture.object->Stop();
  playback.object->Play(0, 0, DSBPLAY_LOOPING);
  figures.playbackCpuMsPerS = CpuMsPerSecond(settings.cpuSeconds);
  return figures;
}

void PrintRow(const Figures& figures) {
  auto cell = [](double value) {
    char text[32];
    if (value < 0) {
      std::snprintf(text, sizeof text, "%10s", "n/a");
    } else {
      std::snprintf(text, sizeof text, "%10.2f", value);
    }
    return std::string(text);
  };
  std::printf("%-14s %s %s %s %s %s\n", figures.backend.c_str(),
              cell(figures.captureLatencyMs).c_str(), cell(figures.playbackLatencyMs).c_str(),
              cell(figures.roundTripMs).c_str(), cell(figures.captureCpuMsPerS).c_str(),
              cell(figures.playbackCpuMsPerS).c_str());
}

}  // namespace

int main(int argc, char** argv) {
  Settings settings;
  if (argc > 1 && std::strcmp(argv[1], "--short") == 0) {
    settings.impulses = 5;
    settings.cpuSeconds = 0.5;
  }
  std::vector<Figures> rows;
  ::setenv("TONEWIRE_AUDIO", "builtin", 1);
  rows.push_back(MeasureBuiltin(settings));
  ::unsetenv("TONEWIRE_AUDIO");

  twtest::PulseDaemon daemon;
  std::string reason;
  if (daemon.Start(&reason)) {
    ::setenv("PULSE_SERVER", daemon.serverAddress().c_str(), 1);
    rows.push_back(MeasurePulse(settings));
  } else {
    std::printf("sound server: not measured (%s)\n", reason.c_str());
  }

  std::printf("44100 Hz, 2 channels, 16 bits; latencies are medians in ms\n");
  std::printf("%-14s %10s %10s %10s %10s %10s\n", "backend", "capture", "playback", "round trip",
              "cpu cap", "cpu play");
  std::printf("%-14s %10s %10s %10s %10s %10s\n", "", "in->ring", "ring->out", "", "ms/s", "ms/s");
  for (const Figures& row : rows) {
    PrintRow(row);
  }
  for (const Figures& row : rows) {
    if (row.serverCaptureMs >= 0) {
      std::printf("(%s: the server itself reports %.2f ms for the capture stream)\n",
                  row.backend.c_str(), row.serverCaptureMs);
    }
  }
  return 0;
}
