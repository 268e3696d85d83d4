// The drift correction against a simulated pair of clocks: a sender that
// makes 24576-byte chunks at its own pace, a socket backlog, a writer that
// puts chunks into a quarter-second ring, and a device that takes sound out
// every 10 ms at its own pace times the correction's ratio, after taking its
// 100 ms queue at the start. Chunks may reach the writer late by a
// pseudo-random delay (in order), as on a busy machine.
// Time moves in 1 ms steps, so every run is exact and takes a fraction of a
// second.
#include "platform/dsound/drift_correction.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <deque>
#include <vector>

#include "tests/support/signal_analysis.h"

namespace {

using twplat::sound::DriftCorrection;
using twtest::Median;

constexpr std::uint32_t kChunk = 24576;

struct Pair {
  double senderPpm = 0;
  double devicePpm = 0;
  std::uint32_t bytesPerSecond = 176400;
  std::uint32_t frameBytes = 4;
  bool wholeChunks = true;  // the writer waits for room for a whole chunk
  bool corrected = true;
  long jitterMs = 0;               // a chunk reaches the writer up to this late
  long lateEveryTwoMinutesMs = 0;  // one chunk every two minutes is this late
  // At deviceStepSeconds the device takes deviceStepMs more out of the ring
  // at once and keeps it queued from then on, as a sound server that settles
  // a request deeper does.
  long deviceStepMs = 0;
  long deviceStepSeconds = 0;
  bool deviceReported = true;  // the correction hears of the device's queue
};

struct Outcome {
  int underruns = 0;       // device steps that found the ring empty while playing
  int laterUnderruns = 0;  // those after the first minute
  // Sound queued between sender and speaker (backlog + ring + the device's
  // queue), in seconds, as each chunk is sent: the stream's latency less
  // constants. The median of each minute (or of each medianSeconds), as the
  // benchmark takes it.
  std::vector<double> minuteMedians;
  double ratioMin = 1;
  double ratioMax = 1;
  double largestStep = 0;
};

// Largest less least of the minute medians.
double Drift(const Outcome& outcome) {
  const auto [least, most] =
      std::minmax_element(outcome.minuteMedians.begin(), outcome.minuteMedians.end());
  return *most - *least;
}

// seconds of simulated time; queue figures only after measureFrom.
Outcome Simulate(const Pair& pair, double seconds, double measureFrom, long medianSeconds = 60) {
  const std::uint32_t ring = pair.bytesPerSecond / 4 / pair.frameBytes * pair.frameBytes;
  DriftCorrection correction(ring, pair.bytesPerSecond);
  Outcome outcome;
  std::uint64_t sent = 0, arrived = 0, written = 0, played = 0, deviceQueue = 0;
  std::deque<long> arrivals;  // when each chunk in flight reaches the writer
  std::uint32_t noise = 12345;
  double senderDue = 0, deviceDue = 0, ratio = 1;
  long nextLateMs = 120000;
  bool playing = false;
  std::vector<double> minute;
  for (long ms = 0; ms < static_cast<long>(seconds * 1000); ++ms) {
    senderDue += pair.bytesPerSecond * (1 + pair.senderPpm * 1e-6) / 1000;
    while (senderDue - static_cast<double>(sent) >= kChunk) {
      sent += kChunk;
      noise = noise * 1103515245u + 12345u;
      long late = pair.jitterMs > 0 ? static_cast<long>((noise >> 8) % pair.jitterMs) : 0;
      if (pair.lateEveryTwoMinutesMs > 0 && ms >= nextLateMs) {
        late += pair.lateEveryTwoMinutesMs;
        nextLateMs += 120000;
      }
      arrivals.push_back(std::max(arrivals.empty() ? 0 : arrivals.back(), ms + late));
      const double queued = static_cast<double>(sent - played + deviceQueue) / pair.bytesPerSecond;
      if (ms >= measureFrom * 1000) {
        minute.push_back(queued);
      }
    }
    if (ms % (medianSeconds * 1000) == medianSeconds * 1000 - 1 && !minute.empty()) {
      outcome.minuteMedians.push_back(Median(minute));
      minute.clear();
    }
    while (!arrivals.empty() && arrivals.front() <= ms) {
      arrivals.pop_front();
      arrived += kChunk;
    }
    // Playback starts once the writer has to wait for room, or with the
    // second chunk.
    const std::uint64_t room = ring - (written - played);
    const std::uint64_t waiting = arrived - written;
    const std::uint64_t wanted = pair.wholeChunks ? std::min<std::uint64_t>(waiting, kChunk) : 1;
    if (waiting > 0 && room >= wanted) {
      written += pair.wholeChunks ? wanted : std::min(waiting, room);
    }
    const bool starting =
        !playing && (written >= 2 * kChunk ||
                     (waiting > 0 && arrived - written > 0 && ring - (written - played) < wanted));
    if (starting) {
      // The sound server fills its 100 ms queue at once.
      playing = true;
      std::uint64_t queue = pair.bytesPerSecond / 10 / pair.frameBytes * pair.frameBytes;
      queue = std::min(queue, written - played);
      played += queue;
      deviceQueue = queue;
      deviceDue = static_cast<double>(played);
    }
    if (playing && pair.deviceStepMs > 0 && ms == pair.deviceStepSeconds * 1000) {
      std::uint64_t step =
          pair.bytesPerSecond * pair.deviceStepMs / 1000 / pair.frameBytes * pair.frameBytes;
      step = std::min(step, written - played);
      played += step;
      deviceQueue += step;
      deviceDue += static_cast<double>(step);
    }
    if (!playing || ms % 10 != 0) {
      continue;
    }
    deviceDue += pair.bytesPerSecond * (1 + pair.devicePpm * 1e-6) * ratio / 100;
    auto take = static_cast<std::uint64_t>(deviceDue) - played;
    take -= take % pair.frameBytes;
    if (written - played < take) {
      ++outcome.underruns;
      outcome.laterUnderruns += ms >= measureFrom * 1000 ? 1 : 0;
      take = written - played;  // the device plays silence for the rest
      deviceDue = static_cast<double>(played + take);
    }
    played += take;
    if (pair.corrected) {
      ratio = correction.Update(written - played, static_cast<std::uint32_t>(take),
                                pair.deviceReported ? deviceQueue : 0);
      outcome.ratioMin = std::min(outcome.ratioMin, ratio);
      outcome.ratioMax = std::max(outcome.ratioMax, ratio);
    }
  }
  outcome.largestStep = correction.largestStep();
  return outcome;
}

constexpr double kTenMinutes = 600;
constexpr double kFirstMinute = 60;

// Either clock faster, on either side, and both writers: after the first
// minute the queue holds within 5 ms and the ring never runs dry.
TEST(DriftCorrection, HoldsTheQueueSteadyWhicheverClockIsFaster) {
  const Pair pairs[] = {{2000, 0},
                        {-2000, 0},
                        {0, 2000},
                        {0, -2000},
                        {4000, 0, 176400, 4, false},
                        {-4000, 0, 176400, 4, false},
                        {0, 0}};
  for (const Pair& pair : pairs) {
    SCOPED_TRACE(testing::Message() << "sender " << pair.senderPpm << " ppm, device "
                                    << pair.devicePpm << " ppm, whole chunks " << pair.wholeChunks);
    const Outcome outcome = Simulate(pair, kTenMinutes, kFirstMinute);
    EXPECT_EQ(outcome.underruns, 0);
    EXPECT_LE(Drift(outcome), 0.005);
    EXPECT_GE(outcome.ratioMin, 1 - DriftCorrection::kMaxDeviation);
    EXPECT_LE(outcome.ratioMax, 1 + DriftCorrection::kMaxDeviation);
    EXPECT_LE(outcome.largestStep, DriftCorrection::kMaxStep + 1e-12);
    EXPECT_GT(outcome.largestStep, 0.0);
  }
}

// The start is held where it set itself up, 40 ms deep for the CD format:
// with two sound cards' clocks (tens of ppm apart) the queue moves by no
// more in the first minute than later (a loop that first filled the ring to
// a quarter moved it by 20 ms and more). A 2000 ppm pair moves it by about
// 10 ms before the loop has caught up.
TEST(DriftCorrection, HoldsTheStartsLevelFromTheFirstSeconds) {
  for (double ppm : {-200.0, 0.0, 200.0}) {
    SCOPED_TRACE(ppm);
    const Outcome outcome = Simulate({ppm, 0}, 120, 0, 10);
    EXPECT_EQ(outcome.underruns, 0);
    EXPECT_LE(Drift(outcome), 0.005);
  }
}

// Chunks up to 60 ms late, in order (a busy machine, the sender's 25 ms
// capture fragments): the loop keeps its headroom for the latest of them, so
// the ring never runs dry once it has settled, and the queue still holds.
TEST(DriftCorrection, KeepsHeadroomForLateChunks) {
  for (double ppm : {-2000.0, 0.0, 2000.0}) {
    SCOPED_TRACE(ppm);
    Pair pair{ppm, 0};
    pair.jitterMs = 60;
    const Outcome outcome = Simulate(pair, kTenMinutes, kFirstMinute);
    EXPECT_EQ(outcome.laterUnderruns, 0);
    EXPECT_LE(Drift(outcome), 0.005);
  }
}

// One chunk 60 ms late runs the start's 40 ms of headroom dry; the loop
// then keeps more, so that the next such chunk two minutes later plays on.
TEST(DriftCorrection, AfterALateChunkKeepsTheHeadroomItWouldHaveNeeded) {
  Pair pair{0, 0};
  pair.lateEveryTwoMinutesMs = 60;
  const Outcome outcome = Simulate(pair, 300, 200);
  EXPECT_GT(outcome.underruns, 0);
  EXPECT_EQ(outcome.laterUnderruns, 0);
}

// The device settles 15 ms deeper after three minutes: the loop lets the
// ring give that up, so the latency does not move; told nothing of the
// device's queue, it would refill the ring and keep the 15 ms.
TEST(DriftCorrection, HoldsTheLatencyWhenTheDevicesQueueGrows) {
  for (bool reported : {true, false}) {
    SCOPED_TRACE(reported);
    Pair pair{200, 0};
    pair.deviceStepMs = 15;
    pair.deviceStepSeconds = 180;
    pair.deviceReported = reported;
    const Outcome outcome = Simulate(pair, kTenMinutes, kFirstMinute);
    EXPECT_EQ(outcome.underruns, 0);
    if (reported) {
      EXPECT_LE(Drift(outcome), 0.005);
    } else {
      EXPECT_GT(Drift(outcome), 0.010);
    }
  }
}

// Without the correction the same pairs drift: the backlog grows by 2 ms a
// second, or the ring runs dry, so the simulation can tell the two apart.
TEST(DriftCorrection, WithoutItTheSamePairsDriftOrRunDry) {
  Pair faster{2000, 0};
  faster.corrected = false;
  const Outcome growing = Simulate(faster, kTenMinutes, kFirstMinute);
  EXPECT_GT(Drift(growing), 0.9);  // 2 ms a second over the nine minutes measured
  Pair slower{-2000, 0};
  slower.corrected = false;
  EXPECT_GT(Simulate(slower, kTenMinutes, kFirstMinute).underruns, 0);
}

// Mono 16-bit at 44100 Hz: a chunk (278 ms) is longer than the ring
// (250 ms), so the ring is full for a while after each chunk and some of
// the chunk waits in the socket. The low point still finds the headroom
// (the start, where the first chunk alone cannot fill the ring, may run dry).
TEST(DriftCorrection, FollowsAFormatWhoseChunkIsLongerThanTheRing) {
  for (double ppm : {-2000.0, 0.0, 2000.0}) {
    SCOPED_TRACE(ppm);
    const Outcome outcome = Simulate({ppm, 0, 88200, 2, false}, kTenMinutes, kFirstMinute);
    EXPECT_EQ(outcome.laterUnderruns, 0);
    EXPECT_LE(Drift(outcome), 0.005);
  }
}

// A ring that stays empty (the sender went quiet) slows the device by the
// limit at most, one bounded step at a time, and a full ring speeds it up.
TEST(DriftCorrection, StaysWithinItsLimitsWhenTheRingIsEmptyOrFull) {
  for (std::uint64_t fill : {std::uint64_t{0}, std::uint64_t{44100}}) {
    DriftCorrection correction(44100, 176400);
    double previous = 1;
    for (int step = 0; step < 10000; ++step) {
      const double ratio = correction.Update(fill, 1764);
      EXPECT_LE(std::fabs(ratio - previous), DriftCorrection::kMaxStep + 1e-12);
      previous = ratio;
    }
    const double limit =
        fill == 0 ? 1 - DriftCorrection::kMaxDeviation : 1 + DriftCorrection::kMaxDeviation;
    EXPECT_NEAR(previous, limit, 1e-9);
  }
}

}  // namespace
