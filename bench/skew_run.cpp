#include "bench/skew_run.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <thread>
#include <utility>

#include "bench/setups.h"
#include "tests/e2e/sound_rig.h"
#include "tests/e2e/tone_checks.h"
#include "tests/support/signal_analysis.h"

namespace twbench {
namespace {

// Not 440 Hz: 437 Hz does not fit the quarter-second ring a whole number of
// times (109.25 periods), so a ring that plays stale sound breaks the tone.
constexpr int kTestToneHz = 437;
constexpr double kTestToneAmplitude = 0.2512;  // -12 dBFS
constexpr size_t kPhaseStep = kRate / 100;
constexpr size_t kPerSecond = 100;  // phase steps
constexpr int kSoundWaitMs = 15000;

// Latency (ms) each second from the first sound at frame `first` (the
// Client's sample 0) on; `start` is the frame of the Client's capture start,
// and `recordingRate` the recorder's frames per second of our clock.
std::vector<double> FollowPhase(const std::vector<double>& relayed, size_t first, double start,
                                int ppm, double recordingRate) {
  const std::vector<twtest::ToneOffset> offsets =
      twtest::FollowToneOffsets(relayed, first, kTestToneHz, kTestToneAmplitude, kPhaseStep);
  const double clientRate = kRate * (1 + ppm * 1e-6);
  std::vector<double> latencies;
  for (size_t step = kPerSecond - 1; step < offsets.size(); step += kPerSecond) {
    const auto frame = static_cast<double>(offsets[step].frame);
    const double sample = frame + offsets[step].offset;
    latencies.push_back(1000 * ((frame - start) / recordingRate - sample / clientRate));
  }
  return latencies;
}

// NAN where there is nothing to take the middle of: printed as such.
double Median(std::vector<double> values) { return twtest::Median(std::move(values), NAN); }

std::vector<double> MinuteMedians(const std::vector<double>& perSecond) {
  std::vector<double> medians;
  for (size_t from = 0; from + 60 <= perSecond.size(); from += 60) {
    medians.push_back(Median({perSecond.begin() + from, perSecond.begin() + from + 60}));
  }
  return medians;
}

// Seconds into the checked stretch (from a second after the first sound).
void PrintFirst(const char* what, const std::vector<double>& seconds) {
  constexpr size_t kShown = 12;
  if (seconds.empty()) {
    return;
  }
  std::printf("    %s", what);
  for (size_t i = 0; i < std::min(seconds.size(), kShown); ++i) {
    std::printf(" %.1f", seconds[i]);
  }
  std::printf(seconds.size() > kShown ? " ... s\n" : " s\n");
}

}  // namespace

SkewFigures MeasureSkew(const ClickRig& rig, const std::string& cliPath, int ppm, bool corrected,
                        double seconds) {
  SkewFigures figures;
  figures.ppm = ppm;
  figures.corrected = corrected;
  TonewireSetup setup(cliPath);
  setup.Configure("Test tone",
                  {"TONEWIRE_BUILTIN_CLOCK_PPM=" + std::to_string(ppm),
                   "TONEWIRE_TEST_TONE_HZ=" + std::to_string(kTestToneHz)},
                  {std::string("TONEWIRE_DRIFT_CORRECTION=") + (corrected ? "on" : "off")});
  const int port = twtest::FreeLoopbackPort();
  Clock::time_point heard;
  Clock::time_point transmitting;
  if (!setup.StartServerSide(port, &figures.failure) ||
      !setup.StartClientSide(port, &figures.failure) ||
      !setup.client()->LineTime("Transmitting", Clock::time_point(), &transmitting) ||
      !rig.WaitForRelayedSound(setup.clientStartedAt(), kSoundWaitMs, &heard)) {
    figures.failure = figures.failure.empty() ? "no sound reached Speakers" : figures.failure;
    setup.Stop();
    return figures;
  }
  std::this_thread::sleep_until(heard + std::chrono::duration_cast<Clock::duration>(
                                            std::chrono::duration<double>(seconds + 0.5)));
  // Frames from base on: the first sound was found by a poll, a little late.
  const size_t first = rig.FrameAt(heard);
  const size_t base = first > kRate ? first - kRate : 0;
  const size_t to = first + static_cast<size_t>(seconds * kRate);
  const std::vector<double> relayed = rig.Channel(0, base, to);
  figures.recordingPpm = (rig.RecordingRate() / kRate - 1) * 1e6;
  setup.Stop();
  const size_t sound = twtest::FirstAbove(relayed, kSoundThreshold);
  const double start = static_cast<double>(rig.FrameAt(transmitting)) - static_cast<double>(base);
  figures.measuredSeconds = seconds;
  figures.latencyMs =
      FollowPhase(relayed, sound, start, ppm, kRate * (1 + figures.recordingPpm * 1e-6));
  figures.continuity = CheckContinuity(relayed, sound + kRate, relayed.size(), {},
                                       kTestToneHz * (1 + ppm * 1e-6), kTestToneAmplitude);
  return figures;
}

void PrintSkew(const std::vector<SkewFigures>& rows) {
  std::printf(
      "\nTwo clocks: the Client's built-in \"Test tone\" at a skewed clock -> Server on "
      "\"Speakers\" (ms)\n");
  std::printf("%8s %10s %8s %9s %9s %9s %5s %6s\n", "ppm", "correction", "seconds", "latency",
              "drift", "drift>1m", "gaps", "breaks");
  for (const SkewFigures& row : rows) {
    const char* correction = row.corrected ? "on" : "off";
    if (!row.failure.empty()) {
      std::printf("%8d %10s not measured: %s\n", row.ppm, correction, row.failure.c_str());
      continue;
    }
    const std::vector<double> minutes = MinuteMedians(row.latencyMs);
    const size_t fifth = row.latencyMs.size() / 5;
    const double drift = fifth == 0
                             ? NAN
                             : Median({row.latencyMs.end() - fifth, row.latencyMs.end()}) -
                                   Median({row.latencyMs.begin(), row.latencyMs.begin() + fifth});
    double afterFirst = NAN;
    if (minutes.size() >= 2) {
      const auto [least, most] = std::minmax_element(minutes.begin() + 1, minutes.end());
      afterFirst = *most - *least;
    }
    std::printf("%8d %10s %8.0f %9.1f %9.1f %9.1f %5d %6d\n", row.ppm, correction,
                row.measuredSeconds, Median(row.latencyMs), drift, afterFirst, row.continuity.gaps,
                row.continuity.breaks);
    std::printf("    the recorded sink's clock: %+.1f ppm\n", row.recordingPpm);
    std::printf("    median by minute:");
    for (double minute : minutes) {
      std::printf(" %.1f", minute);
    }
    std::printf("\n");
    PrintFirst("gaps at", row.continuity.gapSeconds);
    PrintFirst("breaks at", row.continuity.breakSeconds);
  }
  std::printf(
      "(latency: the relayed tone's phase names the Client's sample; drift: last fifth less "
      "first fifth;\n drift>1m: largest less least of the minute medians after the first "
      "minute)\n");
}

}  // namespace twbench
